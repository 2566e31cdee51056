/* Starts a program and prints the milliseconds from its exec to its first
 * window on the screen: a top-level window with the given title mapped on the
 * X server of DISPLAY and painted (its centre no longer the black of the
 * root, so the server must run with -br and no window manager). The program
 * is then ended with SIGTERM.
 *   first_window TITLE PROGRAM [ARGUMENT...]
 */
#include <xcb/xcb.h>

#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static int has_title(xcb_connection_t* c, xcb_window_t window, const char* title)
{
    xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, NULL);
    if (!reply)
        return 0;
    const int length = xcb_get_property_value_length(reply);
    const int same = length == (int)strlen(title) && memcmp(xcb_get_property_value(reply), title, (size_t)length) == 0;
    free(reply);
    return same;
}

/* The pixel at the window's centre; -1 when the window is gone. */
static long centre_pixel(xcb_connection_t* c, xcb_window_t window)
{
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), NULL);
    if (!geometry)
        return -1;
    const int16_t x = (int16_t)(geometry->width / 2);
    const int16_t y = (int16_t)(geometry->height / 2);
    free(geometry);
    xcb_get_image_reply_t* image =
        xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, 1, 1, 0xffffffff), NULL);
    if (!image)
        return -1;
    long pixel = 0;
    const uint8_t* data = xcb_get_image_data(image);
    for (int i = 0; i < xcb_get_image_data_length(image) && i < 4; ++i)
        pixel |= (long)data[i] << (8 * i);
    free(image);
    return pixel & 0xffffff;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: first_window TITLE PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const char* title = argv[1];
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "first_window: cannot open the display\n");
        return 2;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    /* Listening before the program starts. */
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));

    pid_t pid;
    const double start = now_ms();
    if (posix_spawn(&pid, argv[2], NULL, NULL, argv + 2, environ) != 0) {
        perror("first_window: cannot start the program");
        return 2;
    }

    xcb_window_t window = XCB_NONE;
    xcb_generic_event_t* event;
    while (window == XCB_NONE && (event = xcb_wait_for_event(c))) {
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const xcb_map_notify_event_t* map = (const xcb_map_notify_event_t*)event;
            if (has_title(c, map->window, title))
                window = map->window;
        }
        free(event);
    }
    int status = 1;
    if (window != XCB_NONE) {
        long pixel;
        while ((pixel = centre_pixel(c, window)) == 0 && now_ms() - start < 10000)
            usleep(1000);
        if (pixel > 0 && now_ms() - start < 10000) {
            printf("%.1f\n", now_ms() - start);
            status = 0;
        }
    }
    if (status != 0)
        fprintf(stderr, "first_window: no window titled \"%s\"\n", title);
    kill(pid, SIGTERM);
    waitpid(pid, NULL, 0);
    xcb_disconnect(c);
    return status;
}
