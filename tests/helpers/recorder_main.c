/* Records how it was started, for tests that start programs.
 *
 * Appends one record to the file named by RECORDER_OUT (when set), then
 * sleeps RECORDER_SLEEP_MS milliseconds and exits with RECORDER_EXIT (both
 * optional). A record is a run of NUL-terminated fields, written with one
 * write() so that records of concurrent runs never mix:
 *   pid, working directory, argc, argv[0] ... argv[argc-1], open descriptors
 * where the descriptors are those above 2 that were open at start, as
 * decimal numbers separated by blanks (empty when there are none). */
#define _GNU_SOURCE
#include <dirent.h>
#include <stdio.h>

#include "helper_io.h"

static char *record;
static size_t length, capacity;

static void add(const char *bytes, size_t count)
{
    if (length + count + 1 > capacity) {
        capacity = (length + count + 1) * 2;
        record = realloc(record, capacity);
        if (!record)
            exit(120);
    }
    memcpy(record + length, bytes, count);
    length += count;
}

static void field(const char *text)
{
    add(text, strlen(text) + 1);
}

static void descriptors(void)
{
    char list[4096] = "";
    DIR *dir = opendir("/proc/self/fd");
    if (dir) {
        struct dirent *entry;
        while ((entry = readdir(dir)) != NULL) {
            int fd = atoi(entry->d_name);
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || fd <= 2 || fd == dirfd(dir))
                continue;
            size_t used = strlen(list);
            snprintf(list + used, sizeof list - used, "%s%d", used ? " " : "", fd);
        }
        closedir(dir);
    }
    field(list);
}

int main(int argc, char **argv)
{
    char number[32];
    char *cwd = getcwd(NULL, 0);
    snprintf(number, sizeof number, "%ld", (long)getpid());
    field(number);
    field(cwd ? cwd : "");
    free(cwd);
    snprintf(number, sizeof number, "%d", argc);
    field(number);
    for (int i = 0; i < argc; ++i)
        field(argv[i]);
    descriptors();

    const char *out = getenv("RECORDER_OUT");
    if (out && *out && helper_append(out, record, length) != 0)
        return 121;
    free(record);

    helper_sleep_from("RECORDER_SLEEP_MS");
    const char *code = getenv("RECORDER_EXIT");
    return code && *code ? atoi(code) : 0;
}
