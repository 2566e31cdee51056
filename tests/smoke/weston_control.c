/* A weston module through which the Wayland smoke test drives the compositor
 * as a user would: it sees which windows are shown, asks a window to close as
 * a close button of the compositor does, and types on a keyboard of its own.
 *
 * Commands come one a line through the FIFO named by WESTON_CONTROL_FIFO,
 * each beginning with a number. The answer is written whole (a rename) to the
 * file named by WESTON_CONTROL_ANSWER; its first line is that number.
 *   N list          one line per mapped toplevel:
 *                   app id TAB title TAB x TAB y TAB width TAB height TAB activated (0/1)
 *   N close APP_ID  sends xdg_toplevel.close to every toplevel with that app id
 *   N keys CODE...  presses the keys (evdev codes) in order and releases them in
 *                   reverse order, as a chord such as Alt+Y is typed
 * A command the module does not understand is answered "error".
 *
 * Load it with weston --modules=/absolute/path/weston_control.so. */
#define _GNU_SOURCE
#include <libweston-desktop/libweston-desktop.h>
#include <libweston/libweston.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Exported by libweston 10 but left out of its installed headers; weston's own
 * test plugin types through the same calls. */
struct xkb_keymap;
void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec, const char *seat_name);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);
void weston_seat_release(struct weston_seat *seat);
void notify_key(struct weston_seat *seat, const struct timespec *time, uint32_t key,
                enum wl_keyboard_key_state state, enum weston_key_state_update update_state);

struct control {
    struct weston_compositor *compositor;
    struct weston_seat seat;
    int fifo;
    struct wl_event_source *source;
    struct wl_listener destroy_listener;
    const char *answer_path;
    char line[4096];
    size_t used;
};

struct answer {
    char *text;
    size_t size;
    FILE *stream;
};

static void write_answer(struct control *control, struct answer *answer)
{
    char temporary[4096];
    fclose(answer->stream);
    snprintf(temporary, sizeof temporary, "%s.part", control->answer_path);
    FILE *file = fopen(temporary, "w");
    if (file) {
        fwrite(answer->text, 1, answer->size, file);
        if (fclose(file) == 0)
            rename(temporary, control->answer_path);
    }
    free(answer->text);
}

/* Calls visit once for each toplevel surface that is on screen. */
static void for_each_toplevel(struct control *control,
                              void (*visit)(struct weston_desktop_surface *, struct weston_view *, void *),
                              void *data)
{
    struct weston_view *view;
    wl_list_for_each(view, &control->compositor->view_list, link) {
        struct weston_surface *surface = view->surface;
        if (!weston_surface_is_desktop_surface(surface) || !weston_view_is_mapped(view))
            continue;
        visit(weston_surface_get_desktop_surface(surface), view, data);
    }
}

static const char *text_or_empty(const char *text)
{
    return text ? text : "";
}

static void list_one(struct weston_desktop_surface *surface, struct weston_view *view, void *data)
{
    struct answer *answer = data;
    struct weston_geometry geometry = weston_desktop_surface_get_geometry(surface);
    fprintf(answer->stream, "%s\t%s\t%d\t%d\t%d\t%d\t%d\n", text_or_empty(weston_desktop_surface_get_app_id(surface)),
            text_or_empty(weston_desktop_surface_get_title(surface)), (int)view->geometry.x,
            (int)view->geometry.y, geometry.width, geometry.height,
            weston_desktop_surface_get_activated(surface) ? 1 : 0);
}

struct close_request {
    const char *app_id;
    int count;
};

static void close_one(struct weston_desktop_surface *surface, struct weston_view *view, void *data)
{
    struct close_request *request = data;
    (void)view;
    if (strcmp(text_or_empty(weston_desktop_surface_get_app_id(surface)), request->app_id) == 0) {
        weston_desktop_surface_close(surface);
        ++request->count;
    }
}

static void type_chord(struct control *control, char *codes, struct answer *answer)
{
    uint32_t keys[16];
    int count = 0;
    char *rest = NULL;
    for (char *code = strtok_r(codes, " ", &rest); code && count < 16; code = strtok_r(NULL, " ", &rest))
        keys[count++] = (uint32_t)strtoul(code, NULL, 10);
    struct timespec now;
    weston_compositor_get_time(&now);
    for (int i = 0; i < count; ++i)
        notify_key(&control->seat, &now, keys[i], WL_KEYBOARD_KEY_STATE_PRESSED, STATE_UPDATE_AUTOMATIC);
    for (int i = count - 1; i >= 0; --i)
        notify_key(&control->seat, &now, keys[i], WL_KEYBOARD_KEY_STATE_RELEASED, STATE_UPDATE_AUTOMATIC);
    fprintf(answer->stream, "typed %d\n", count);
}

static void run_command(struct control *control, char *line)
{
    char *rest = NULL;
    const char *number = strtok_r(line, " ", &rest);
    const char *verb = number ? strtok_r(NULL, " ", &rest) : NULL;
    struct answer answer = { NULL, 0, NULL };
    answer.stream = open_memstream(&answer.text, &answer.size);
    if (!answer.stream)
        return;
    fprintf(answer.stream, "%s\n", number ? number : "");
    if (verb && strcmp(verb, "list") == 0) {
        for_each_toplevel(control, list_one, &answer);
    } else if (verb && strcmp(verb, "close") == 0 && rest && *rest) {
        struct close_request request = { rest, 0 };
        for_each_toplevel(control, close_one, &request);
        fprintf(answer.stream, "closed %d\n", request.count);
    } else if (verb && strcmp(verb, "keys") == 0 && rest) {
        type_chord(control, rest, &answer);
    } else {
        fprintf(answer.stream, "error\n");
    }
    write_answer(control, &answer);
}

static int on_readable(int fd, uint32_t mask, void *data)
{
    struct control *control = data;
    (void)mask;
    for (;;) {
        ssize_t n = read(fd, control->line + control->used, sizeof control->line - 1 - control->used);
        if (n <= 0)
            break;
        control->used += (size_t)n;
        char *end;
        while ((end = memchr(control->line, '\n', control->used)) != NULL) {
            *end = '\0';
            size_t taken = (size_t)(end - control->line) + 1;
            run_command(control, control->line);
            memmove(control->line, control->line + taken, control->used - taken);
            control->used -= taken;
        }
        if (control->used == sizeof control->line - 1)
            control->used = 0; /* a line that long is no command of ours */
    }
    return 0;
}

static void on_compositor_destroy(struct wl_listener *listener, void *data)
{
    struct control *control = wl_container_of(listener, control, destroy_listener);
    (void)data;
    wl_list_remove(&control->destroy_listener.link);
    wl_event_source_remove(control->source);
    close(control->fifo);
    weston_seat_release(&control->seat);
    free(control);
}

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[])
{
    (void)argc;
    (void)argv;
    const char *fifo_path = getenv("WESTON_CONTROL_FIFO");
    const char *answer_path = getenv("WESTON_CONTROL_ANSWER");
    if (!fifo_path || !answer_path) {
        weston_log("weston_control: WESTON_CONTROL_FIFO and WESTON_CONTROL_ANSWER must be set\n");
        return -1;
    }
    struct control *control = calloc(1, sizeof *control);
    if (!control)
        return -1;
    control->compositor = compositor;
    control->answer_path = answer_path;
    /* Read and write, so the FIFO never reports end of file between writers. */
    control->fifo = open(fifo_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (control->fifo < 0) {
        weston_log("weston_control: cannot open %s: %s\n", fifo_path, strerror(errno));
        free(control);
        return -1;
    }
    weston_seat_init(&control->seat, compositor, "weston-control");
    if (weston_seat_init_keyboard(&control->seat, NULL) < 0) {
        weston_seat_release(&control->seat);
        close(control->fifo);
        free(control);
        return -1;
    }
    control->source = wl_event_loop_add_fd(wl_display_get_event_loop(compositor->wl_display), control->fifo,
                                           WL_EVENT_READABLE, on_readable, control);
    weston_compositor_add_destroy_listener_once(compositor, &control->destroy_listener, on_compositor_destroy);
    return 0;
}
