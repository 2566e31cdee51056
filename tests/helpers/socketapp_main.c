/* An application that keeps one copy per user over a socket of its own, as
 * office suites do, for tests of documents handed to a copy that is already
 * running without any name on the session bus.
 *
 * The first copy listens on $XDG_RUNTIME_DIR/dorvane-socketapp, writes a
 * line "PID PATH" for its own argument and for each one a later copy sends
 * it to the file named by SINGLEAPP_OUT, and runs until it is sent SIGTERM.
 * A later copy sends its argument there, waits until the first copy has
 * taken it, and exits 0. */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "helper_io.h"

static int socket_address(struct sockaddr_un *address)
{
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    return runtime && *runtime
        && snprintf(address->sun_path, sizeof address->sun_path, "%s/dorvane-socketapp", runtime)
        < (int)sizeof address->sun_path;
}

static int record(const char *path)
{
    char line[4096];
    snprintf(line, sizeof line, "%ld %s", (long)getpid(), path);
    return helper_append_line("SINGLEAPP_OUT", line);
}

/* Sends the path to the first copy; 0 once it has taken it, -1 when no copy
 * listens. */
static int hand_over(const struct sockaddr_un *address, const char *path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (const struct sockaddr *)address, sizeof *address) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    size_t length = strlen(path) + 1;
    char taken = 0;
    int failed = write(fd, path, length) != (ssize_t)length || read(fd, &taken, 1) != 1;
    close(fd);
    return failed ? 122 : 0;
}

static int serve(const struct sockaddr_un *address, const char *path)
{
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(address->sun_path);
    if (listener < 0 || bind(listener, (const struct sockaddr *)address, sizeof *address) != 0
        || listen(listener, 8) != 0)
        return 123;
    if (path && record(path) != 0)
        return 121;
    for (;;) {
        int client = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            return 124;
        }
        char received[4096];
        size_t length = 0;
        ssize_t count;
        while (length < sizeof received - 1 && (count = read(client, received + length, sizeof received - 1 - length)) > 0) {
            length += (size_t)count;
            if (received[length - 1] == '\0')
                break;
        }
        received[length] = '\0';
        int failed = record(received);
        if (write(client, "k", 1) != 1)
            failed = 1;
        close(client);
        if (failed)
            return 121;
    }
}

int main(int argc, char **argv)
{
    struct sockaddr_un address;
    if (!socket_address(&address))
        return 125;
    const char *path = argc > 1 ? argv[1] : NULL;
    if (path) {
        int handed = hand_over(&address, path);
        if (handed >= 0)
            return handed;
    }
    return serve(&address, path);
}
