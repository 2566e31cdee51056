/* Closes its standard input, output and error first thing, then goes on
 * running: for tests that must see the end of the process, not of its streams.
 *
 * After closing them it sleeps CLOSER_SLEEP_MS milliseconds (optional), then
 * appends its first argument and a newline to the file named by CLOSER_OUT
 * (when set) with one write(), and exits 0. */
#define _GNU_SOURCE
#include "helper_io.h"

int main(int argc, char **argv)
{
    close(0);
    close(1);
    close(2);
    helper_sleep_from("CLOSER_SLEEP_MS");
    /* The lowest free descriptor is 0 now; that is fine for a file. */
    return helper_append_line("CLOSER_OUT", argc > 1 ? argv[1] : NULL);
}
