/* Dies of a segmentation fault, for tests of programs that crash.
 *
 * Appends its first argument and a newline to the file named by CRASHER_OUT
 * (when set) with one write(), then raises SIGSEGV with the default action,
 * so it ends by the signal even where a sanitizer would catch the fault. No
 * core file is written. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *out = getenv("CRASHER_OUT");
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
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    return 122;
}
