/* Dies of a segmentation fault, for tests of programs that crash.
 *
 * Appends its first argument and a newline to the file named by CRASHER_OUT
 * (when set) with one write(), then raises SIGSEGV with the default action,
 * so it ends by the signal even where a sanitizer would catch the fault. No
 * core file is written. */
#define _GNU_SOURCE
#include <signal.h>
#include <sys/resource.h>

#include "helper_io.h"

int main(int argc, char **argv)
{
    int failed = helper_append_line("CRASHER_OUT", argc > 1 ? argv[1] : NULL);
    if (failed)
        return failed;
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    return 122;
}
