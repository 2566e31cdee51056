#include "DesktopRecorder.h"

#include "Zel_glib.h"

#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

const char* const NotificationsName = "org.freedesktop.Notifications";
const char* const NotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
    "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>"
    "</method></interface></node>";

} // namespace

struct TDesktopRecorder::TState {
    mutable std::mutex Lock;
    std::vector<TRecordedNotice> Notices;
    std::vector<TRecordedLauncherUpdate> Updates;
    GMainContext* Context = nullptr;
    GMainLoop* Loop = nullptr;
    std::thread Thread;

    static void MethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
    {
        auto& state = *static_cast<TState*>(data);
        if (g_strcmp0(method, "Notify") != 0) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
            return;
        }
        const gchar *appName = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
        GVariant* hints = nullptr;
        g_variant_get(parameters, "(&s@u&s&s&s@as@a{sv}@i)", &appName, nullptr, &icon, &summary, &body, nullptr,
                      &hints, nullptr);
        const TGVariantPointer heldHints(hints);
        TRecordedNotice notice{appName, icon, summary, body, {}};
        const gchar* entry = nullptr;
        if (g_variant_lookup(hints, "desktop-entry", "&s", &entry))
            notice.DesktopEntry = entry;
        guint32 id = 0;
        {
            std::lock_guard<std::mutex> lock(state.Lock);
            state.Notices.push_back(std::move(notice));
            id = static_cast<guint32>(state.Notices.size());
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
    }

    static void LauncherSignal(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar*,
                               GVariant* parameters, gpointer data)
    {
        auto& state = *static_cast<TState*>(data);
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv})")))
            return;
        TRecordedLauncherUpdate update;
        update.Path = path;
        const gchar* uri = nullptr;
        GVariant* properties = nullptr;
        g_variant_get(parameters, "(&s@a{sv})", &uri, &properties);
        const TGVariantPointer held(properties);
        update.AppUri = uri;
        double progress = 0;
        if (g_variant_lookup(properties, "progress", "d", &progress))
            update.Progress = progress;
        gboolean visible = FALSE;
        if (g_variant_lookup(properties, "progress-visible", "b", &visible))
            update.Visible = visible != FALSE;
        std::lock_guard<std::mutex> lock(state.Lock);
        state.Updates.push_back(std::move(update));
    }

    // The recorder's thread: connects, registers, reports how that went and
    // serves until the loop is quit.
    void Run(const std::string& address, bool ownNotifications, std::promise<std::string>& ready)
    {
        g_main_context_push_thread_default(Context);
        TGErrorPointer error;
        TGObjectPointer<GDBusConnection> connection = ConnectMessageBus(address.c_str(), error);
        guint object = 0, subscription = 0;
        std::string failure;
        if (!connection) {
            failure = "no connection to the bus";
        } else {
            g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
            subscription = g_dbus_connection_signal_subscribe(
                connection.get(), nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, LauncherSignal, this, nullptr);
            if (ownNotifications)
                failure = Own(connection.get(), object);
        }
        ready.set_value(failure);
        if (failure.empty())
            g_main_loop_run(Loop);
        if (object)
            g_dbus_connection_unregister_object(connection.get(), object);
        if (subscription)
            g_dbus_connection_signal_unsubscribe(connection.get(), subscription);
        if (connection)
            g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
        connection.reset();
        // Whatever GDBus still had queued for this thread runs before it ends.
        while (g_main_context_iteration(Context, FALSE)) {
        }
        g_main_context_pop_thread_default(Context);
    }

    std::string Own(GDBusConnection* connection, guint& object)
    {
        const TGDBusNodeInfoPointer node(g_dbus_node_info_new_for_xml(NotificationsXml, nullptr));
        static const GDBusInterfaceVTable vtable = {MethodCall, nullptr, nullptr, {}};
        object = g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications",
                                                   node->interfaces[0], &vtable, this, nullptr, nullptr);
        if (!object)
            return "the notification service's object could not be registered";
        const TGVariantPointer reply(g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", NotificationsName, 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
        guint32 answer = 0;
        if (reply)
            g_variant_get(reply.get(), "(u)", &answer);
        return answer == 1 ? std::string() : "the notification service's name could not be owned";
    }

    struct TGDBusNodeInfoDeleter {
        void operator()(GDBusNodeInfo* node) const noexcept { g_dbus_node_info_unref(node); }
    };
    using TGDBusNodeInfoPointer = std::unique_ptr<GDBusNodeInfo, TGDBusNodeInfoDeleter>;
};

TDesktopRecorder::TDesktopRecorder(const std::string& address, bool ownNotifications)
    : FState(std::make_shared<TState>())
{
    TState& state = *FState;
    state.Context = g_main_context_new();
    state.Loop = g_main_loop_new(state.Context, FALSE);
    std::promise<std::string> ready;
    state.Thread = std::thread([&state, address, ownNotifications, &ready] { state.Run(address, ownNotifications, ready); });
    const std::string failure = ready.get_future().get();
    if (!failure.empty()) {
        state.Thread.join();
        g_main_loop_unref(state.Loop);
        g_main_context_unref(state.Context);
        throw std::runtime_error(failure);
    }
}

TDesktopRecorder::~TDesktopRecorder()
{
    TState& state = *FState;
    // Queued on the loop's context, so it also ends a loop that has yet to start.
    g_main_context_invoke(state.Context, [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
    }, state.Loop);
    state.Thread.join();
    g_main_loop_unref(state.Loop);
    g_main_context_unref(state.Context);
}

std::vector<TRecordedNotice> TDesktopRecorder::Notices() const
{
    std::lock_guard<std::mutex> lock(FState->Lock);
    return FState->Notices;
}

std::vector<TRecordedLauncherUpdate> TDesktopRecorder::LauncherUpdates() const
{
    std::lock_guard<std::mutex> lock(FState->Lock);
    return FState->Updates;
}
