/* Small pieces the test helper programs share. Header-only so that each
 * helper stays one self-contained executable. */
#ifndef DORVANE_HELPER_IO_H
#define DORVANE_HELPER_IO_H

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Appends the bytes to the file with a single write(), so that concurrent
 * helpers never mix their records. Returns 0, or 121 when it failed. */
static inline int helper_append(const char *path, const char *bytes, size_t length)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return 121;
    int failed = write(fd, bytes, length) != (ssize_t)length;
    close(fd);
    return failed ? 121 : 0;
}

/* Appends the text and a newline to the file named by the environment
 * variable, when it is set. Returns 0, or an exit code for the helper. */
static inline int helper_append_line(const char *variable, const char *text)
{
    const char *out = getenv(variable);
    if (!out || !*out || !text)
        return 0;
    size_t length = strlen(text);
    char *line = malloc(length + 1);
    if (!line)
        return 120;
    memcpy(line, text, length);
    line[length] = '\n';
    int result = helper_append(out, line, length + 1);
    free(line);
    return result;
}

static inline void helper_sleep_us(long us)
{
    struct timespec pause = {us / 1000000L, (us % 1000000L) * 1000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

/* Sleeps the milliseconds named by the environment variable, when set. */
static inline void helper_sleep_from(const char *variable)
{
    const char *ms = getenv(variable);
    if (ms && *ms)
        helper_sleep_us(atol(ms) * 1000L);
}

#endif
