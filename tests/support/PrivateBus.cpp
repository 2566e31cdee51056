#include "PrivateBus.h"

#include "Zel_desktopbus.h"

#include <gio/gio.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

// Anyone may own and call anything; nothing is activated.
std::string BusConfig(const std::string& directory)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <listen>unix:dir="
        + directory
        + "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
          "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
}

// The first line the daemon prints, within 10 s; empty when none came.
std::string ReadLine(int fd)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + std::chrono::seconds(10);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        pollfd request{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&request, 1, static_cast<int>(left)) <= 0)
            return std::string();
        char buffer[256];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return std::string();
        line.append(buffer, static_cast<std::size_t>(count));
    }
    return line.substr(0, line.find('\n'));
}

} // namespace

TPrivateBus::TPrivateBus()
{
    const std::string config = FRoot.WriteFile("bus.conf", BusConfig(FRoot.MakeDir("socket")));
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe for the bus daemon");
    const std::unique_ptr<gchar, decltype(&g_free)> program(g_find_program_in_path("dbus-daemon"), g_free);
    const std::string configArgument = "--config-file=" + config;
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(configArgument.c_str()),
                    const_cast<char*>("--nofork"), const_cast<char*>("--nopidfile"),
                    const_cast<char*>("--print-address=1"), nullptr};
    const pid_t parent = ::getpid();
    FPid = program ? ::fork() : -1;
    if (FPid == 0) {
        // Only async-signal-safe calls until exec. The daemon ends with the
        // test, also when a timeout kills the test.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            _exit(127);
        ::dup2(pipeFds[1], 1);
        // It complains as root that it cannot raise its descriptor limit.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, 2);
        ::closefrom(3);
        ::execv(program.get(), argv);
        _exit(127);
    }
    ::close(pipeFds[1]);
    if (FPid < 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("dbus-daemon could not be started");
    }
    FAddress = ReadLine(pipeFds[0]);
    ::close(pipeFds[0]);
    if (FAddress.empty()) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        throw std::runtime_error("dbus-daemon gave no address");
    }
    FVariable = std::make_unique<TScopedEnvironment>("DBUS_SESSION_BUS_ADDRESS", FAddress);
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(shared, FALSE);
        FShared.reset(shared, g_object_unref);
    }
}

TPrivateBus::~TPrivateBus()
{
    FShared.reset();
    FVariable.reset();
    ::kill(FPid, SIGTERM);
    while (::waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

namespace {

const char* const CountMarker = "org.dorvane.CountMarker";

GDBusMessage* CountCall(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data)
{
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
        return message;
    TCallCount& count = **static_cast<std::shared_ptr<TCallCount>*>(data);
    GVariant* body = g_dbus_message_get_body(message);
    const gchar* first = nullptr;
    if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(s)")))
        g_variant_get(body, "(&s)", &first);
    if (g_strcmp0(first, CountMarker) == 0)
        count.Marked = true;
    else
        ++count.Calls;
    // Dropped: GDBus would answer it, and the bus disconnects a monitor
    // that sends anything.
    g_object_unref(message);
    return nullptr;
}

void ReleaseCount(gpointer data)
{
    const std::unique_ptr<std::shared_ptr<TCallCount>> held(static_cast<std::shared_ptr<TCallCount>*>(data));
}

} // namespace

void TPrivateBus::CountCalls(const std::string& method)
{
    GDBusConnection* monitor = g_dbus_connection_new_for_address_sync(
        FAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                          | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!monitor)
        throw std::runtime_error("no monitor connection");
    FMonitor.reset(monitor, g_object_unref);
    FCount = std::make_shared<TCallCount>();
    g_dbus_connection_add_filter(monitor, CountCall, new std::shared_ptr<TCallCount>(FCount), ReleaseCount);
    const std::string rule = "type='method_call',member='" + method + "'";
    const gchar* rules[] = {rule.c_str(), nullptr};
    GVariant* reply = g_dbus_connection_call_sync(monitor, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                                                  g_variant_new("(^asu)", rules, 0u), nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply)
        throw std::runtime_error("the bus refused a monitor");
    g_variant_unref(reply);
}

unsigned TPrivateBus::CountedCalls() const
{
    // The bus passes calls on in the order it answers them: once a marker
    // call of ours is seen, every call answered before it has been counted.
    FCount->Marked = false;
    const TAutoPointer<TDesktopBus> bus = TDesktopBus::Connect(FAddress);
    if (!bus)
        return FCount->Calls;
    (void)bus->NameOwner(CountMarker);
    WaitUntil([this] { return FCount->Marked.load(); });
    return FCount->Calls;
}

pid_t TPrivateBus::WaitForOwner(const std::string& name, int timeoutMs) const
{
    const TAutoPointer<TDesktopBus> bus = TDesktopBus::Connect(FAddress);
    pid_t owner = 0;
    if (bus)
        WaitUntil([&] { return (owner = bus->NameOwner(name).Pid) > 0; }, timeoutMs);
    return owner;
}

bool TPrivateBus::WaitUntilUnowned(const std::string& name, int timeoutMs) const
{
    const TAutoPointer<TDesktopBus> bus = TDesktopBus::Connect(FAddress);
    return bus && WaitUntil([&] { return !bus->NameOwner(name).Owned; }, timeoutMs);
}
