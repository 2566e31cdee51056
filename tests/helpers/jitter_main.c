/* Lives a random 0 to 5 ms and exits with a random code, for soak tests.
 *
 * Appends its first argument and a newline to the file named by JITTER_OUT
 * (when set) with one write(), so concurrent runs never mix their lines,
 * then sleeps and exits. The randomness is seeded from the PID and the clock. */
#define _GNU_SOURCE
#include "helper_io.h"

int main(int argc, char **argv)
{
    int failed = helper_append_line("JITTER_OUT", argc > 1 ? argv[1] : NULL);
    if (failed)
        return failed;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned seed = (unsigned)getpid() * 2654435761u ^ (unsigned)now.tv_nsec;
    helper_sleep_us(rand_r(&seed) % 5001);
    return rand_r(&seed) % 256;
}
