#include "Zel_desktopbus.h"

#include "DesktopRecorder.h"
#include "PrivateBus.h"
#include "ProcessTestSupport.h"
#include "Zel_shellexecute.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>

namespace {

const std::string AppId = "org.dorvane.BusTest";

// The sockets this process holds open.
std::size_t OpenSockets()
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error).string().rfind("socket:", 0) == 0;
    }
    return count;
}

} // namespace

TEST(DesktopBus, WhoOwnsAName)
{
    TPrivateBus privateBus;
    const TAutoPointer<TDesktopBus> bus = TDesktopBus::ConnectSession();
    ASSERT_TRUE(bus);
    EXPECT_FALSE(bus->NameOwner(AppId).Owned);
    EXPECT_TRUE(bus->WatchName(AppId));
    EXPECT_FALSE(bus->WatchName("nodots"));
    const unsigned changes = bus->OwnerChanges();

    // Another process owns it: the bus names that process, and announces
    // both its coming and its going.
    TScopedEnvironment id("SINGLEAPP_ID", AppId);
    TShellStart started = StartProgram(HelperPath("singleapp"), {}, "", 1, true);
    ASSERT_TRUE(started.Process);
    ASSERT_EQ(privateBus.WaitForOwner(AppId), started.Process->Pid());
    EXPECT_TRUE(bus->NameOwner(AppId).Owned);
    EXPECT_TRUE(WaitUntil([&] { return bus->OwnerChanges() == changes + 1; }));
    ::kill(started.Process->Pid(), SIGTERM);
    EXPECT_TRUE(started.Process->Wait(10000));
    EXPECT_TRUE(privateBus.WaitUntilUnowned(AppId));
    EXPECT_FALSE(bus->NameOwner(AppId).Owned);
    EXPECT_TRUE(WaitUntil([&] { return bus->OwnerChanges() == changes + 2; }));

    // Names no application can own are never asked about.
    for (const std::string name : {"", "nodots", ":1.1", "org..x", "org.1x", "org.example.", "a.b/c"}) {
        EXPECT_FALSE(TDesktopBus::IsWellKnownName(name)) << name;
        EXPECT_FALSE(bus->NameOwner(name).Owned) << name;
    }
    EXPECT_TRUE(TDesktopBus::IsWellKnownName("org.xfce.mousepad"));
    EXPECT_TRUE(TDesktopBus::IsWellKnownName("org.example.App-2_x"));
}

TEST(DesktopBus, NoBusIsNothingThere)
{
    {
        TScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/dorvane-bus");
        EXPECT_FALSE(TDesktopBus::ConnectSession());
    }
    {
        // No address and no socket in the runtime directory: no bus is started for us.
        TScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", "", true);
        TScopedEnvironment runtime("XDG_RUNTIME_DIR", "/nonexistent");
        EXPECT_FALSE(TDesktopBus::ConnectSession());
    }
    EXPECT_FALSE(TDesktopBus::Connect("not an address"));
}

TEST(DesktopBus, ConnectionsCloseAndABusThatGoesAwayEndsNothing)
{
    TAutoPointer<TDesktopBus> orphan;
    {
        TPrivateBus privateBus;
        // Warm up GDBus's own thread and descriptors, which stay.
        ASSERT_TRUE(TDesktopBus::Connect(privateBus.Address()));
        const std::size_t before = OpenSockets();
        for (int i = 0; i < 10; ++i) {
            const TAutoPointer<TDesktopBus> bus = TDesktopBus::Connect(privateBus.Address());
            ASSERT_TRUE(bus);
            EXPECT_FALSE(bus->NameOwner(AppId).Owned);
        }
        EXPECT_TRUE(WaitUntil([&] { return OpenSockets() <= before; }));
        orphan = TDesktopBus::Connect(privateBus.Address());
        ASSERT_TRUE(orphan);
    }
    // The daemon has ended: the program goes on, and nothing is owned.
    EXPECT_FALSE(orphan->NameOwner(AppId).Owned);
    orphan.reset();
}

// A notice and the launcher's progress reach the desktop's side of the bus as
// they were given; neither waits for anyone, so a bus without a notification
// service costs nothing, and a bus that has gone reports it.
TEST(DesktopBus, NoticesAndLauncherProgressReachTheDesktop)
{
    TAutoPointer<TDesktopBus> orphan;
    {
        TPrivateBus privateBus;
        const TAutoPointer<TDesktopBus> bus = TDesktopBus::ConnectSession();
        ASSERT_TRUE(bus);
        {
            // Nobody owns the service's name yet: sent, and nothing waits.
            TDesktopRecorder listener(privateBus.Address(), false);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(bus->Notify({"Dorvane", "dorvane", "Nobody there", "", ""}));
            EXPECT_TRUE(bus->SetLauncherProgress("org.example.App.desktop", 0.25, true));
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
            EXPECT_TRUE(WaitUntil([&] { return listener.LauncherUpdates().size() == 1; }));
        }

        TDesktopRecorder desktop(privateBus.Address());
        EXPECT_TRUE(bus->Notify({"Dorvane", "org.example.App", "Summary & <more>", "Body\nline two \xFF",
                                 "org.example.App"}));
        EXPECT_TRUE(bus->SetLauncherProgress("org.example.App.desktop", 0.5, true));
        EXPECT_TRUE(bus->SetLauncherProgress("org.example.App.desktop", 7, false));
        ASSERT_TRUE(WaitUntil([&] { return desktop.LauncherUpdates().size() == 2; }));
        // Sent before the signals, so in by now.
        const std::vector<TRecordedNotice> notices = desktop.Notices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].AppName, "Dorvane");
        EXPECT_EQ(notices[0].AppIcon, "org.example.App");
        EXPECT_EQ(notices[0].Summary, "Summary & <more>");
        EXPECT_EQ(notices[0].Body, "Body\nline two \xEF\xBF\xBD") << "bytes that are not UTF-8 become U+FFFD";
        EXPECT_EQ(notices[0].DesktopEntry, "org.example.App");
        const std::vector<TRecordedLauncherUpdate> updates = desktop.LauncherUpdates();
        EXPECT_EQ(updates[0].AppUri, "application://org.example.App.desktop");
        EXPECT_EQ(updates[0].Path, "/com/canonical/unity/launcherentry/org_example_App_desktop");
        EXPECT_EQ(updates[0].Progress, 0.5);
        EXPECT_EQ(updates[0].Visible, true);
        EXPECT_EQ(updates[1].Progress, 1.0) << "kept within 0 to 1";
        EXPECT_EQ(updates[1].Visible, false);
        EXPECT_FALSE(bus->IsClosed());
        orphan = TDesktopBus::Connect(privateBus.Address());
        ASSERT_TRUE(orphan);
    }
    // The daemon has ended: sending says so and costs nothing.
    EXPECT_TRUE(WaitUntil([&] { return orphan->IsClosed(); }));
    EXPECT_FALSE(orphan->Notify({"Dorvane", "", "Gone", "", ""}));
    EXPECT_FALSE(orphan->SetLauncherProgress("org.example.App.desktop", 0, false));
}
