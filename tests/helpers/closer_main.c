/* Closes its standard input, output and error first thing, then goes on
 * running: for tests that must see the end of the process, not of its streams.
 *
 * After closing them it sleeps CLOSER_SLEEP_MS milliseconds (optional), then
 * appends its first argument and a newline to the file named by CLOSER_OUT
 * (when set) with one write(), and exits 0. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    close(0);
    close(1);
    close(2);
    const char *sleepMs = getenv("CLOSER_SLEEP_MS");
    if (sleepMs && *sleepMs) {
        long ms = atol(sleepMs);
        struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    const char *out = getenv("CLOSER_OUT");
    if (out && *out && argc > 1) {
        size_t length = strlen(argv[1]);
        char *line = malloc(length + 1);
        if (!line)
            return 120;
        memcpy(line, argv[1], length);
        line[length] = '\n';
        /* The lowest free descriptor is 0 now; that is fine for a file. */
        int fd = open(out, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 || write(fd, line, length + 1) != (ssize_t)(length + 1))
            return 121;
        close(fd);
        free(line);
    }
    return 0;
}
