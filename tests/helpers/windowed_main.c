/* A program with one top-level window, as the window-state tests need it.
 *   windowed [--delay MS] [--no-pid] [--no-window] [--startup-id-from INFO]
 *            [--linger MS] [INFO]
 * Maps one window after the delay, with _NET_WM_PID (unless --no-pid) and,
 * as toolkits do, _NET_STARTUP_ID from DESKTOP_STARTUP_ID, or with
 * --startup-id-from the id another helper wrote to INFO.window once that
 * file is there. Then writes "WINDOW PID STARTUP_ID" to INFO.window (a
 * window of 0 with --no-window) and stays for the linger time (60 s unless
 * told) or until it is killed. */
#define _GNU_SOURCE
#include "helper_io.h"

#include <xcb/xcb.h>

#include <stdio.h>

static char *read_info(const char *info)
{
    static char id[256];
    char path[4096];
    snprintf(path, sizeof path, "%s.window", info);
    for (int waited = 0; waited < 30000; waited += 20) {
        FILE *file = fopen(path, "r");
        if (file) {
            int read = fscanf(file, "%*s %*s %255s", id);
            fclose(file);
            return read == 1 ? id : NULL;
        }
        helper_sleep_us(20000);
    }
    return NULL;
}

static int write_info(const char *info, unsigned window, const char *startup_id)
{
    char path[4096], temporary[4096], text[512];
    snprintf(path, sizeof path, "%s.window", info);
    snprintf(temporary, sizeof temporary, "%s.window.new", info);
    int length = snprintf(text, sizeof text, "%u %d %s\n", window, (int)getpid(), startup_id ? startup_id : "-");
    /* Renamed into place, so a reader never sees half of it. */
    int result = helper_append(temporary, text, (size_t)length);
    return result ? result : (rename(temporary, path) == 0 ? 0 : 122);
}

static xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t result = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return result;
}

int main(int argc, char **argv)
{
    long delay = 0, linger = 60000;
    int set_pid = 1, has_window = 1;
    const char *startup_from = NULL, *info = NULL;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--delay") && i + 1 < argc)
            delay = atol(argv[++i]);
        else if (!strcmp(argv[i], "--linger") && i + 1 < argc)
            linger = atol(argv[++i]);
        else if (!strcmp(argv[i], "--startup-id-from") && i + 1 < argc)
            startup_from = argv[++i];
        else if (!strcmp(argv[i], "--no-pid"))
            set_pid = 0;
        else if (!strcmp(argv[i], "--no-window"))
            has_window = 0;
        else
            info = argv[i];
    }
    const char *startup_id = getenv("DESKTOP_STARTUP_ID");
    unsigned window = 0;
    if (has_window) {
        xcb_connection_t *connection = xcb_connect(NULL, NULL);
        if (xcb_connection_has_error(connection))
            return 2;
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 320, 240, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, NULL);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 8,
                            "windowed");
        if (set_pid) {
            uint32_t pid = (uint32_t)getpid();
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_WM_PID"),
                                XCB_ATOM_CARDINAL, 32, 1, &pid);
        }
        if (startup_from)
            startup_id = read_info(startup_from);
        if (startup_id)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_STARTUP_ID"),
                                atom(connection, "UTF8_STRING"), 8, (uint32_t)strlen(startup_id), startup_id);
        helper_sleep_us(delay * 1000);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        /* The connection stays open: the window lives as long as we do. */
    }
    int result = info ? write_info(info, window, startup_id) : 0;
    if (result)
        return result;
    helper_sleep_us(linger * 1000);
    return 0;
}
