#include "Zel_desktopbus.h"

#include "Zel_glib.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

namespace {

// The bus daemon answers at once; a peer that does not is as good as absent.
constexpr int CallTimeoutMs = 2000;

const char* const BusName = "org.freedesktop.DBus";
const char* const BusPath = "/org/freedesktop/DBus";
const char* const BusInterface = "org.freedesktop.DBus";

const char* const NotificationsName = "org.freedesktop.Notifications";
const char* const NotificationsPath = "/org/freedesktop/Notifications";
const char* const LauncherEntryInterface = "com.canonical.Unity.LauncherEntry";
const char* const LauncherEntryPath = "/com/canonical/unity/launcherentry/";

// Where the session bus listens; empty when there is none. No autolaunch:
// GIO would start a bus of its own through dbus-launch.
std::string SessionAddress()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/')
        return std::string();
    const std::string socket = std::string(runtime) + "/bus";
    struct stat status;
    if (::stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return std::string();
    const TGCharPointer escaped(g_dbus_address_escape_value(socket.c_str()));
    return "unix:path=" + std::string(escaped.get());
}

bool IsRemoteError(const GError* error, const char* name)
{
    if (!error || !g_dbus_error_is_remote_error(error))
        return false;
    const TGCharPointer remote(g_dbus_error_get_remote_error(error));
    return remote && g_strcmp0(remote.get(), name) == 0;
}

} // namespace

struct TDesktopBus::TOwnerChanges {
    std::mutex Lock;
    std::set<std::string> Names;
    std::atomic<unsigned> Count{0};

    // Runs on GDBus's thread for every message that comes in.
    static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data)
    {
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_SIGNAL
            || g_strcmp0(g_dbus_message_get_sender(message), BusName) != 0
            || g_strcmp0(g_dbus_message_get_member(message), "NameOwnerChanged") != 0)
            return message;
        GVariant* body = g_dbus_message_get_body(message);
        if (!body || !g_variant_is_of_type(body, G_VARIANT_TYPE("(sss)")))
            return message;
        const TGVariantPointer name(g_variant_get_child_value(body, 0));
        TOwnerChanges& changes = **static_cast<std::shared_ptr<TOwnerChanges>*>(data);
        std::lock_guard<std::mutex> lock(changes.Lock);
        if (changes.Names.count(g_variant_get_string(name.get(), nullptr)) != 0)
            ++changes.Count;
        return message;
    }

    // GDBus may still run the filter after it is removed, so it holds its
    // own reference, dropped when GDBus says it is done with it.
    static void Release(gpointer data)
    {
        const std::unique_ptr<std::shared_ptr<TOwnerChanges>> held(static_cast<std::shared_ptr<TOwnerChanges>*>(data));
    }
};

struct TDesktopBus::TConnection {
    explicit TConnection(TGObjectPointer<GDBusConnection> connection)
        : Connection(std::move(connection)), Changes(std::make_shared<TOwnerChanges>())
    {
        // Ours alone, so its end is no reason for the program to end.
        g_dbus_connection_set_exit_on_close(Connection.get(), FALSE);
        auto reference = std::make_unique<std::shared_ptr<TOwnerChanges>>(Changes);
        Filter = g_dbus_connection_add_filter(Connection.get(), TOwnerChanges::Filter, reference.get(),
                                              TOwnerChanges::Release);
        (void)reference.release(); // GDBus's now, until Release
    }

    ~TConnection()
    {
        g_dbus_connection_remove_filter(Connection.get(), Filter);
        // What was only sent (a notice, the launcher's last state) goes out
        // first: a close would drop it. It is written to a local socket.
        g_dbus_connection_flush_sync(Connection.get(), nullptr, nullptr);
        // Closed now rather than whenever GDBus's worker lets go of it.
        g_dbus_connection_close_sync(Connection.get(), nullptr, nullptr);
    }

    // One method call; its reply when it has replyType, else null with error set.
    TGVariantPointer Call(const char* destination, const char* objectPath, const char* interfaceName,
                          const char* method, GVariant* parameters, const GVariantType* replyType,
                          TGErrorPointer& error)
    {
        return TGVariantPointer(g_dbus_connection_call_sync(Connection.get(), destination, objectPath,
                                                            interfaceName, method, parameters, replyType,
                                                            G_DBUS_CALL_FLAGS_NONE, CallTimeoutMs, nullptr,
                                                            TGErrorReceiver(error)));
    }

    // A call to the bus itself.
    TGVariantPointer CallBus(const char* method, GVariant* parameters, const GVariantType* replyType,
                             TGErrorPointer& error)
    {
        return Call(BusName, BusPath, BusInterface, method, parameters, replyType, error);
    }

    TGObjectPointer<GDBusConnection> Connection;
    std::shared_ptr<TOwnerChanges> Changes;
    guint Filter = 0;
};

TAutoPointer<TDesktopBus> TDesktopBus::ConnectSession()
{
    const std::string address = SessionAddress();
    return address.empty() ? nullptr : Connect(address);
}

TAutoPointer<TDesktopBus> TDesktopBus::Connect(const std::string& address)
{
    TGErrorPointer error;
    TGObjectPointer<GDBusConnection> connection = ConnectMessageBus(address.c_str(), error);
    if (!connection)
        return nullptr;
    auto held = std::make_unique<TConnection>(std::move(connection));
    return TAutoPointer<TDesktopBus>(new TDesktopBus(std::move(held)));
}

TDesktopBus::TDesktopBus(std::unique_ptr<TConnection> connection) noexcept : FConnection(std::move(connection)) {}

TDesktopBus::~TDesktopBus() = default;

bool TDesktopBus::WatchName(const std::string& name)
{
    if (!IsWellKnownName(name))
        return false;
    TOwnerChanges& changes = *FConnection->Changes;
    {
        std::lock_guard<std::mutex> lock(changes.Lock);
        if (!changes.Names.insert(name).second)
            return true;
    }
    // The bus announces changes only to those who asked; the rule is in
    // force before any later call of ours is answered.
    const std::string rule = std::string("type='signal',sender='") + BusName + "',interface='" + BusInterface
        + "',member='NameOwnerChanged',path='" + BusPath + "',arg0='" + name + "'";
    TGErrorPointer error;
    if (FConnection->CallBus("AddMatch", g_variant_new("(s)", rule.c_str()), G_VARIANT_TYPE_UNIT, error))
        return true;
    std::lock_guard<std::mutex> lock(changes.Lock);
    changes.Names.erase(name);
    return false;
}

unsigned TDesktopBus::OwnerChanges() const noexcept
{
    return FConnection->Changes->Count.load();
}

bool TDesktopBus::Notify(const TDesktopNotification& notification)
{
    GDBusConnection* connection = FConnection->Connection.get();
    if (g_dbus_connection_is_closed(connection))
        return false;
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
    if (!notification.DesktopEntry.empty())
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(notification.DesktopEntry.c_str()));
    // Valid UTF-8 only: GVariant refuses anything else, and says so loudly.
    const auto text = [](const std::string& value) {
        return TGCharPointer(g_utf8_make_valid(value.c_str(), static_cast<gssize>(value.size())));
    };
    const TGCharPointer appName = text(notification.AppName), icon = text(notification.AppIcon),
                        summary = text(notification.Summary), body = text(notification.Body);
    // No callback: sent as a call that wants no reply, and nothing waits.
    g_dbus_connection_call(connection, NotificationsName, NotificationsPath, NotificationsName, "Notify",
                           g_variant_new("(susssasa{sv}i)", appName.get(), 0u, icon.get(), summary.get(), body.get(),
                                         nullptr, &hints, -1),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    return true;
}

bool TDesktopBus::SetLauncherProgress(const std::string& desktopFile, double progress, bool visible)
{
    GDBusConnection* connection = FConnection->Connection.get();
    if (g_dbus_connection_is_closed(connection))
        return false;
    const std::string uri = "application://" + desktopFile;
    // Each entry on a path of its own, as libunity names them.
    std::string path = LauncherEntryPath;
    for (const char c : desktopFile)
        path += g_ascii_isalnum(c) ? c : '_';
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&properties, "{sv}", "progress", g_variant_new_double(std::clamp(progress, 0.0, 1.0)));
    g_variant_builder_add(&properties, "{sv}", "progress-visible", g_variant_new_boolean(visible));
    const TGCharPointer validUri(g_utf8_make_valid(uri.c_str(), static_cast<gssize>(uri.size())));
    return g_dbus_connection_emit_signal(connection, nullptr, path.c_str(), LauncherEntryInterface, "Update",
                                         g_variant_new("(sa{sv})", validUri.get(), &properties), nullptr)
        != FALSE;
}

bool TDesktopBus::IsClosed() const noexcept
{
    return g_dbus_connection_is_closed(FConnection->Connection.get()) != FALSE;
}

bool TDesktopBus::IsWellKnownName(const std::string& name)
{
    return g_dbus_is_name(name.c_str()) && !g_dbus_is_unique_name(name.c_str());
}

TBusNameOwner TDesktopBus::NameOwner(const std::string& name)
{
    if (!IsWellKnownName(name))
        return {};
    TGErrorPointer error;
    const TGVariantPointer pid = FConnection->CallBus(
        "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"), error);
    if (pid) {
        guint32 value = 0;
        g_variant_get(pid.get(), "(u)", &value);
        return {true, static_cast<pid_t>(value)};
    }
    if (IsRemoteError(error.get(), "org.freedesktop.DBus.Error.NameHasNoOwner"))
        return {};
    // Owned perhaps, by a process the bus cannot name.
    error.reset();
    const TGVariantPointer owned =
        FConnection->CallBus("NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"), error);
    gboolean value = FALSE;
    if (owned)
        g_variant_get(owned.get(), "(b)", &value);
    return {value != FALSE, 0};
}
