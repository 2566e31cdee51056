// The window state of a start, seen on real windows: run under an X server
// with a window manager (tests/smoke/xvfb_gtest.sh starts Xvfb and openbox).
// The windowed helper maps one window and tells which; the test reads the
// state the window manager gave it.

#include "App_processes.h"

#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "TempDirectory.h"
#include "Zel_shellexecute.h"
#include "Zel_windows.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace {

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

constexpr int Normal = 1;
constexpr int Maximized = 3;
constexpr int Minimized = 6;

// What the window manager made of a window, read as a pager would.
class TXServer {
public:
    TXServer() : FConnection(xcb_connect(nullptr, nullptr)) {}
    ~TXServer() { xcb_disconnect(FConnection); }
    bool Connected() const { return !xcb_connection_has_error(FConnection); }

    // "maximized", "iconic" or "normal".
    std::string State(xcb_window_t window)
    {
        const std::vector<std::uint32_t> wmState = Property(window, "WM_STATE");
        if (!wmState.empty() && wmState.front() == 3)
            return "iconic";
        const std::vector<std::uint32_t> netState = Property(window, "_NET_WM_STATE");
        const auto has = [&](const char* name) {
            return std::find(netState.begin(), netState.end(), Atom(name)) != netState.end();
        };
        return has("_NET_WM_STATE_MAXIMIZED_VERT") && has("_NET_WM_STATE_MAXIMIZED_HORZ") ? "maximized" : "normal";
    }

private:
    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            FConnection, xcb_intern_atom(FConnection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    std::vector<std::uint32_t> Property(xcb_window_t window, const char* name)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            FConnection, xcb_get_property(FConnection, 0, window, Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr);
        std::vector<std::uint32_t> values;
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return values;
    }

    xcb_connection_t* FConnection;
};

struct THelperWindow {
    xcb_window_t Window = XCB_WINDOW_NONE;
    pid_t Pid = 0;
};

class WindowStateTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY") || !X.Connected())
            GTEST_SKIP() << "needs an X server with a window manager (tests/smoke/xvfb_gtest.sh)";
    }

    void TearDown() override
    {
        for (const pid_t pid : Helpers)
            ::kill(pid, SIGTERM);
        Processes.clear();
        Others.clear();
        EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty() && WatchedStartCount() == 0; }));
    }

    // Starts program (the windowed helper unless told) with the arguments and
    // an info file of its own as the document; the window shows up as name.
    void Start(const std::string& name, int showCommand, const std::string& arguments = "",
               const std::string& program = HelperPath("windowed"))
    {
        TProcessCreator creator;
        creator.File = program;
        creator.SetDocumentParameters(arguments + " \"", Scratch / name, "\"");
        creator.ShowCommand = showCommand;
        creator.AbandonProcess = false;
        Processes.push_back(creator.Start());
    }

    // Opens a document of the windowed helper's type by its association.
    void Open(const std::string& name, int showCommand)
    {
        TProcessCreator creator;
        creator.File = Scratch.WriteFile(name + TPrivateXdg::WindowExtension);
        creator.ByAssociation = true;
        creator.ShowCommand = showCommand;
        creator.AbandonProcess = false;
        Processes.push_back(creator.Start());
    }

    // A program that runs beside the starts, not started by them.
    void StartOther(const std::string& name, const TStringDynArray& arguments)
    {
        TStringDynArray all = arguments;
        all.push_back(Scratch / name);
        TShellStart started = StartProgram(HelperPath("windowed"), all, std::string(), Normal, true);
        ASSERT_TRUE(started.Process);
        Others.push_back(std::move(started.Process));
    }

    // The helper's window once it is mapped.
    THelperWindow Window(const std::string& name)
    {
        THelperWindow window;
        const std::string info = Scratch / name + ".window";
        EXPECT_TRUE(WaitUntil([&] { return std::ifstream(info).good(); })) << name;
        std::ifstream(info) >> window.Window >> window.Pid;
        if (window.Pid > 0)
            Helpers.push_back(window.Pid);
        return window;
    }

    std::string StateBecomes(const THelperWindow& window, const std::string& state)
    {
        WaitUntil([&] { return X.State(window.Window) == state; });
        return X.State(window.Window);
    }

    TXServer X;
    TTempDirectory Scratch;
    std::vector<pid_t> Helpers;
    std::vector<TAutoPointer<TProcess>> Processes;
    std::vector<TAutoPointer<TProcessHandle>> Others;
};

} // namespace

TEST_F(WindowStateTest, MaximizedReachesTheStartsFirstWindowHoweverItComes)
{
    // A launcher that keeps the startup id to itself: its child is known by its parent alone.
    const std::string launcher = Scratch.WriteFile(
        "launcher", "#!/bin/sh\nunset DESKTOP_STARTUP_ID\n\"" + HelperPath("windowed") + "\" \"$@\"\n");
    std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);
    Start("direct", Maximized);
    Start("late", Maximized, "--delay 2000");
    Start("child", Maximized, "", launcher);
    Start("by-id", Maximized, "--no-pid");
    Open("associated", Maximized);
    for (const char* name : {"direct", "late", "child", "by-id"})
        EXPECT_EQ(StateBecomes(Window(name), "maximized"), "maximized") << name;
    EXPECT_EQ(StateBecomes(Window(std::string("associated") + TPrivateXdg::WindowExtension), "maximized"),
              "maximized");
}

TEST_F(WindowStateTest, MinimizedEndsIconic)
{
    Start("direct", Minimized);
    Open("associated", Minimized);
    EXPECT_EQ(StateBecomes(Window("direct"), "iconic"), "iconic");
    EXPECT_EQ(StateBecomes(Window(std::string("associated") + TPrivateXdg::WindowExtension), "iconic"), "iconic");
}

// Only the start's own window changes: not a Normal start's, not another
// program's that comes up meanwhile, and not the window of an application
// that ran before the start and took its startup id over, as one that is
// handed the document does.
TEST_F(WindowStateTest, OtherWindowsAreUntouched)
{
    StartOther("earlier", {"--startup-id-from", Scratch / "handing-off"});
    StartOther("meanwhile", {"--delay", "300"});
    Start("normal", Normal);
    Start("handing-off", Maximized, "--no-window --linger 1500");
    Start("last", Maximized, "--delay 2000");
    EXPECT_EQ(StateBecomes(Window("last"), "maximized"), "maximized");
    Window("handing-off");
    EXPECT_TRUE(Processes[1]->WaitFor(10000));
    for (const char* name : {"earlier", "meanwhile", "normal"})
        EXPECT_EQ(X.State(Window(name).Window), "normal") << name;
}

TEST_F(WindowStateTest, ProgramsWithoutWindowsDoNotHoldTheRun)
{
    const std::string document = Scratch.WriteFile("document", "data");
    const auto started = std::chrono::steady_clock::now();
    for (const char* program : {"/bin/true", "/bin/gzip"}) {
        TProcessCreator creator;
        creator.File = program;
        creator.SetDocumentParameters("-kf \"", document, "\"");
        creator.ShowCommand = Maximized;
        creator.AbandonProcess = false;
        EXPECT_TRUE(creator.Start()->WaitFor(10000)) << program;
    }
    // Their watches end with them, long before the time limit.
    EXPECT_TRUE(WaitUntil([] { return WatchedStartCount() == 0; }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(std::ifstream(document + ".gz").good());
}
