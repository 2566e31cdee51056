/* A single-instance application, as GTK and KDE applications are, for tests
 * of documents handed to an instance that is already running.
 *
 * A GApplication with the id SINGLEAPP_ID (default org.dorvane.SingleTest)
 * that opens files. The first instance owns the id on the session bus, writes
 * a line "PID PATH" for each file it is given to the file named by
 * SINGLEAPP_OUT, and keeps running until it is sent SIGTERM; a later instance
 * hands its files to the first one and ends at once, as GApplication does.
 * When SINGLEAPP_GATE names a file, an instance given files waits until that
 * file exists before it looks for the first one (at most 30 s), so a test can
 * start the first one in between. */
#define _GNU_SOURCE
#include <gio/gio.h>
#include <glib-unix.h>
#include <stdio.h>

#include "helper_io.h"

#if defined(__SANITIZE_THREAD__)
/* GLib is not built with the thread sanitizer, which then takes its own
 * locking (the slice allocator, GDBus's thread) for races. */
const char *__tsan_default_suppressions(void);
const char *__tsan_default_suppressions(void)
{
    return "race:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libgobject-2.0.so\n";
}
#endif

static int failed;

static void on_open(GApplication *application, GFile **files, gint count, const gchar *hint, gpointer data)
{
    (void)application;
    (void)hint;
    (void)data;
    for (gint i = 0; i < count && !failed; ++i) {
        gchar *path = g_file_get_path(files[i]);
        gchar *line = g_strdup_printf("%ld %s", (long)getpid(), path ? path : "");
        failed = helper_append_line("SINGLEAPP_OUT", line);
        g_free(line);
        g_free(path);
    }
}

static void on_activate(GApplication *application, gpointer data)
{
    (void)application;
    (void)data;
}

static void on_startup(GApplication *application, gpointer data)
{
    (void)data;
    /* Only the first instance starts up: it stays until it is ended. */
    g_application_hold(application);
}

static gboolean on_terminate(gpointer application)
{
    g_application_release(G_APPLICATION(application));
    return G_SOURCE_REMOVE;
}

int main(int argc, char **argv)
{
    const char *gate = getenv("SINGLEAPP_GATE");
    for (int waited = 0; argc > 1 && gate && *gate && access(gate, F_OK) != 0 && waited < 3000; ++waited)
        helper_sleep_us(10000);

    const char *id = getenv("SINGLEAPP_ID");
    GApplication *application =
        g_application_new(id && *id ? id : "org.dorvane.SingleTest", G_APPLICATION_HANDLES_OPEN);
    g_signal_connect(application, "open", G_CALLBACK(on_open), NULL);
    g_signal_connect(application, "activate", G_CALLBACK(on_activate), NULL);
    g_signal_connect(application, "startup", G_CALLBACK(on_startup), NULL);
    g_unix_signal_add(SIGTERM, on_terminate, application);
    int status = g_application_run(application, argc, argv);
    g_object_unref(application);
    return failed ? failed : status;
}
