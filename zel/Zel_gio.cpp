#include "Zel_gio.h"

#include "Zel_glib.h"

#include <gio/gdesktopappinfo.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

// Every GIO and GObject function the program calls: result, name, parameters
// as the headers declare them, and the arguments that pass them on. The
// compiler checks each against the headers' declaration.
#define ZEL_GIO_FUNCTIONS(X) \
    X(GList*, g_app_info_get_all, (), ()) \
    X(GAppInfo*, g_app_info_get_default_for_type, (const char* content_type, gboolean must_support_uris), (content_type, must_support_uris)) \
    X(const char*, g_app_info_get_id, (GAppInfo* appinfo), (appinfo)) \
    X(GType, g_app_info_get_type, (), ()) \
    X(gboolean, g_app_info_launch_uris, (GAppInfo* appinfo, GList* uris, GAppLaunchContext* context, GError** error), (appinfo, uris, context, error)) \
    X(GAppLaunchContext*, g_app_launch_context_new, (), ()) \
    X(void, g_app_launch_context_setenv, (GAppLaunchContext* context, const char* variable, const char* value), (context, variable, value)) \
    X(gchar*, g_content_type_get_description, (const gchar* type), (type)) \
    X(GIcon*, g_content_type_get_icon, (const gchar* type), (type)) \
    X(gchar*, g_content_type_guess, (const gchar* filename, const guchar* data, gsize data_size, gboolean* result_uncertain), (filename, data, data_size, result_uncertain)) \
    X(gchar*, g_dbus_address_escape_value, (const gchar* string), (string)) \
    X(guint, g_dbus_connection_add_filter, (GDBusConnection* connection, GDBusMessageFilterFunction filter_function, gpointer user_data, GDestroyNotify user_data_free_func), (connection, filter_function, user_data, user_data_free_func)) \
    X(void, g_dbus_connection_call, (GDBusConnection* connection, const gchar* bus_name, const gchar* object_path, const gchar* interface_name, const gchar* method_name, GVariant* parameters, const GVariantType* reply_type, GDBusCallFlags flags, gint timeout_msec, GCancellable* cancellable, GAsyncReadyCallback callback, gpointer user_data), (connection, bus_name, object_path, interface_name, method_name, parameters, reply_type, flags, timeout_msec, cancellable, callback, user_data)) \
    X(GVariant*, g_dbus_connection_call_sync, (GDBusConnection* connection, const gchar* bus_name, const gchar* object_path, const gchar* interface_name, const gchar* method_name, GVariant* parameters, const GVariantType* reply_type, GDBusCallFlags flags, gint timeout_msec, GCancellable* cancellable, GError** error), (connection, bus_name, object_path, interface_name, method_name, parameters, reply_type, flags, timeout_msec, cancellable, error)) \
    X(gboolean, g_dbus_connection_close_sync, (GDBusConnection* connection, GCancellable* cancellable, GError** error), (connection, cancellable, error)) \
    X(gboolean, g_dbus_connection_emit_signal, (GDBusConnection* connection, const gchar* destination_bus_name, const gchar* object_path, const gchar* interface_name, const gchar* signal_name, GVariant* parameters, GError** error), (connection, destination_bus_name, object_path, interface_name, signal_name, parameters, error)) \
    X(gboolean, g_dbus_connection_flush_sync, (GDBusConnection* connection, GCancellable* cancellable, GError** error), (connection, cancellable, error)) \
    X(gboolean, g_dbus_connection_is_closed, (GDBusConnection* connection), (connection)) \
    X(GDBusConnection*, g_dbus_connection_new_for_address_sync, (const gchar* address, GDBusConnectionFlags flags, GDBusAuthObserver* observer, GCancellable* cancellable, GError** error), (address, flags, observer, cancellable, error)) \
    X(void, g_dbus_connection_remove_filter, (GDBusConnection* connection, guint filter_id), (connection, filter_id)) \
    X(void, g_dbus_connection_set_exit_on_close, (GDBusConnection* connection, gboolean exit_on_close), (connection, exit_on_close)) \
    X(gchar*, g_dbus_error_get_remote_error, (const GError* error), (error)) \
    X(gboolean, g_dbus_error_is_remote_error, (const GError* error), (error)) \
    X(gboolean, g_dbus_is_name, (const gchar* string), (string)) \
    X(gboolean, g_dbus_is_unique_name, (const gchar* string), (string)) \
    X(GVariant*, g_dbus_message_get_body, (GDBusMessage* message), (message)) \
    X(const gchar*, g_dbus_message_get_member, (GDBusMessage* message), (message)) \
    X(GDBusMessageType, g_dbus_message_get_message_type, (GDBusMessage* message), (message)) \
    X(const gchar*, g_dbus_message_get_sender, (GDBusMessage* message), (message)) \
    X(char*, g_desktop_app_info_get_string, (GDesktopAppInfo* info, const char* key), (info, key)) \
    X(GType, g_desktop_app_info_get_type, (), ()) \
    X(gboolean, g_desktop_app_info_launch_uris_as_manager, (GDesktopAppInfo* appinfo, GList* uris, GAppLaunchContext* launch_context, GSpawnFlags spawn_flags, GSpawnChildSetupFunc user_setup, gpointer user_setup_data, GDesktopAppLaunchCallback pid_callback, gpointer pid_callback_data, GError** error), (appinfo, uris, launch_context, spawn_flags, user_setup, user_setup_data, pid_callback, pid_callback_data, error)) \
    X(char*, g_file_get_uri, (GFile* file), (file)) \
    X(GFile*, g_file_new_for_path, (const char* path), (path)) \
    X(void, g_object_unref, (gpointer object), (object)) \
    X(const gchar* const*, g_themed_icon_get_names, (GThemedIcon* icon), (icon)) \
    X(GType, g_themed_icon_get_type, (), ()) \
    X(GTypeInstance*, g_type_check_instance_cast, (GTypeInstance* instance, GType iface_type), (instance, iface_type)) \
    X(gboolean, g_type_check_instance_is_a, (GTypeInstance* instance, GType iface_type), (instance, iface_type))

namespace {

struct TGioFunctions {
#define ZEL_GIO_POINTER(result, name, parameters, arguments) decltype(&::name) name = nullptr;
    ZEL_GIO_FUNCTIONS(ZEL_GIO_POINTER)
#undef ZEL_GIO_POINTER
};

// The library as the package names it, whose dependencies bring GObject.
constexpr const char* GioLibrary = "libgio-2.0.so.0";

// Without GIO, whose package the program depends on, the program cannot go
// on: it ends as it would have had the loader missed the library at start.
[[noreturn]] void GioMissing()
{
    const char* reason = dlerror();
    std::fprintf(stderr, "dorvane: cannot load %s: %s\n", GioLibrary, reason ? reason : "unknown error");
    std::abort();
}

const TGioFunctions& Gio() noexcept
{
    static const TGioFunctions functions = [] {
        void* library = dlopen(GioLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            GioMissing();
        TGioFunctions loaded;
#define ZEL_GIO_RESOLVE(result, name, parameters, arguments)                           \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));          \
    if (!loaded.name)                                                                  \
        GioMissing();
        ZEL_GIO_FUNCTIONS(ZEL_GIO_RESOLVE)
#undef ZEL_GIO_RESOLVE
        return loaded;
    }();
    return functions;
}

} // namespace

extern "C" {
#define ZEL_GIO_FORWARD(result, name, parameters, arguments) \
    result name parameters { return Gio().name arguments; }
ZEL_GIO_FUNCTIONS(ZEL_GIO_FORWARD)
#undef ZEL_GIO_FORWARD
}
