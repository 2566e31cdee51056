#include "Zel_desktopbus.h"

#include "PrivateBus.h"
#include "ProcessTestSupport.h"
#include "Zel_shellexecute.h"

#include <gtest/gtest.h>

#include <signal.h>

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
