/* Lives a random 0 to 5 ms and exits with a random code, for soak tests.
 *
 * Appends its first argument and a newline to the file named by JITTER_OUT
 * (when set) with one write(), so concurrent runs never mix their lines,
 * then sleeps and exits. The randomness is seeded from the PID and the clock. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *out = getenv("JITTER_OUT");
    if (out && *out && argc > 1) {
        size_t length = strlen(argv[1]);
        char *line = malloc(length + 1);
        if (!line)
            return 120;
        memcpy(line, argv[1], length);
        line[length] = '\n';
        int fd = open(out, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 || write(fd, line, length + 1) != (ssize_t)(length + 1))
            return 121;
        close(fd);
        free(line);
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned seed = (unsigned)getpid() * 2654435761u ^ (unsigned)now.tv_nsec;
    long us = rand_r(&seed) % 5001;
    struct timespec pause = {0, us * 1000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
    return rand_r(&seed) % 256;
}
