#include "Zel_windows.h"

#include "Zel_processes.h"

#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr auto WatchTime = std::chrono::seconds(30);
// Deeper than any launcher chain; stops a walk through a /proc that changes under it.
constexpr int MaxAncestors = 64;
constexpr std::uint32_t NetWmStateAdd = 1;
constexpr std::uint32_t SourceApplication = 1;
constexpr std::uint32_t IconicState = 3;

enum TAtom {
    ClientListAtom,
    WmPidAtom,
    StartupIdAtom,
    WindowTypeAtom,
    WindowTypeNormalAtom,
    WmStateAtom,
    MaximizedVertAtom,
    MaximizedHorzAtom,
    ChangeStateAtom,
    AtomCount
};
const char* const AtomNames[AtomCount] = {
    "_NET_CLIENT_LIST",
    "_NET_WM_PID",
    "_NET_STARTUP_ID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_STATE",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "WM_CHANGE_STATE",
};

struct TFreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using TXcbReply = std::unique_ptr<T, TFreeDeleter>;

class TDescriptor {
public:
    explicit TDescriptor(int fd = -1) noexcept : FFd(fd) {}
    TDescriptor(TDescriptor&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TDescriptor& operator=(TDescriptor&& other) noexcept
    {
        std::swap(FFd, other.FFd);
        return *this;
    }
    ~TDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Get() const noexcept { return FFd; }

private:
    int FFd;
};

struct TWatch {
    pid_t Pid;
    std::uint64_t StartTime; // clock ticks after boot
    TDescriptor PidFd; // readable once the process has ended; -1 when none could be had
    std::string StartupId;
    TWindowState State;
    TClock::time_point Deadline;
};

// The X side: one connection, read and written only by the watcher's thread.
class TDisplay {
public:
    // Connects to DISPLAY; Connection() is nullptr when that failed.
    TDisplay()
    {
        int screenNumber = 0;
        FConnection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(FConnection)) {
            Close();
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(FConnection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem) {
            Close();
            return;
        }
        FRoot = screens.data->root;
        xcb_intern_atom_cookie_t cookies[AtomCount];
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(FConnection, 0, static_cast<std::uint16_t>(std::strlen(AtomNames[i])),
                                         AtomNames[i]);
        for (int i = 0; i < AtomCount; ++i) {
            const TXcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(FConnection, cookies[i], nullptr));
            FAtoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
        // An EWMH window manager lists every window it manages on the root;
        // one that does not (weston's) still takes the window from the root
        // into a frame, and without a window manager it is mapped there.
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &events);
        xcb_flush(FConnection);
    }
    TDisplay(const TDisplay&) = delete;
    TDisplay& operator=(const TDisplay&) = delete;
    ~TDisplay() { Close(); }

    xcb_connection_t* Connection() const noexcept { return FConnection; }
    bool Broken() const noexcept { return !FConnection || xcb_connection_has_error(FConnection); }

    // Reads the events so far: true when they say the window manager's list
    // changed; the windows they show coming up on the root go to appeared.
    bool ReadEvents(std::vector<xcb_window_t>& appeared)
    {
        bool changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(FConnection)) {
            switch (event->response_type & 0x7f) {
            case XCB_PROPERTY_NOTIFY: {
                const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
                changed = changed || (property->window == FRoot && property->atom == FAtoms[ClientListAtom]);
                break;
            }
            case XCB_REPARENT_NOTIFY: {
                const auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
                if (reparent->event == FRoot && reparent->parent != FRoot && !reparent->override_redirect)
                    appeared.push_back(reparent->window);
                break;
            }
            case XCB_MAP_NOTIFY: {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (map->event == FRoot && !map->override_redirect)
                    appeared.push_back(map->window);
                break;
            }
            default:
                break;
            }
            std::free(event);
        }
        return changed;
    }

    // The windows the window manager manages, sorted; none without one.
    std::vector<xcb_window_t> ClientList()
    {
        std::vector<xcb_window_t> windows;
        const TXcbReply<xcb_get_property_reply_t> reply(
            Property(FRoot, FAtoms[ClientListAtom], XCB_ATOM_WINDOW, 1u << 16));
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
            windows.assign(data, data + xcb_get_property_value_length(reply.get()) / 4);
        }
        std::sort(windows.begin(), windows.end());
        return windows;
    }

    struct TWindowFacts {
        xcb_window_t Window = XCB_WINDOW_NONE;
        pid_t Pid = 0;         // 0 when it names none
        std::string StartupId; // empty when it has none
        bool TopLevel = false; // a normal window, not transient for another
    };

    // What the windows say of themselves, asked in one round trip.
    std::vector<TWindowFacts> Facts(const std::vector<xcb_window_t>& windows)
    {
        struct TCookies {
            xcb_get_property_cookie_t Pid, StartupId, Type, TransientFor;
        };
        std::vector<TCookies> cookies;
        cookies.reserve(windows.size());
        for (const xcb_window_t window : windows)
            cookies.push_back({
                xcb_get_property(FConnection, 0, window, FAtoms[WmPidAtom], XCB_ATOM_CARDINAL, 0, 1),
                xcb_get_property(FConnection, 0, window, FAtoms[StartupIdAtom], XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                xcb_get_property(FConnection, 0, window, FAtoms[WindowTypeAtom], XCB_ATOM_ATOM, 0, 32),
                xcb_get_property(FConnection, 0, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
            });
        std::vector<TWindowFacts> facts(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            TWindowFacts& window = facts[i];
            window.Window = windows[i];
            const TXcbReply<xcb_get_property_reply_t> pid(Reply(cookies[i].Pid));
            if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4)
                window.Pid = static_cast<pid_t>(*static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())));
            const TXcbReply<xcb_get_property_reply_t> startupId(Reply(cookies[i].StartupId));
            if (startupId && startupId->format == 8)
                window.StartupId.assign(static_cast<const char*>(xcb_get_property_value(startupId.get())),
                                        static_cast<std::size_t>(xcb_get_property_value_length(startupId.get())));
            const TXcbReply<xcb_get_property_reply_t> type(Reply(cookies[i].Type));
            const TXcbReply<xcb_get_property_reply_t> transientFor(Reply(cookies[i].TransientFor));
            window.TopLevel = IsNormal(type.get()) && !(transientFor && xcb_get_property_value_length(transientFor.get()) > 0);
        }
        return facts;
    }

    // Asks the window manager to maximize or iconify the window.
    void Apply(xcb_window_t window, TWindowState state)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        if (state == TWindowState::Maximized) {
            message.type = FAtoms[WmStateAtom];
            message.data.data32[0] = NetWmStateAdd;
            message.data.data32[1] = FAtoms[MaximizedVertAtom];
            message.data.data32[2] = FAtoms[MaximizedHorzAtom];
            message.data.data32[3] = SourceApplication;
        } else {
            message.type = FAtoms[ChangeStateAtom];
            message.data.data32[0] = IconicState;
        }
        xcb_send_event(FConnection, 0, FRoot,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(FConnection);
    }

private:
    void Close() noexcept
    {
        if (FConnection)
            xcb_disconnect(FConnection);
        FConnection = nullptr;
    }

    xcb_get_property_reply_t* Property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                       std::uint32_t length)
    {
        return Reply(xcb_get_property(FConnection, 0, window, property, type, 0, length));
    }

    xcb_get_property_reply_t* Reply(xcb_get_property_cookie_t cookie)
    {
        // A window that is already gone answers with an error: nothing to say.
        return xcb_get_property_reply(FConnection, cookie, nullptr);
    }

    // No type at all is a normal window too.
    bool IsNormal(const xcb_get_property_reply_t* type) const
    {
        if (!type || type->format != 32 || xcb_get_property_value_length(type) == 0)
            return true;
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type));
        const auto* end = atoms + xcb_get_property_value_length(type) / 4;
        return std::find(atoms, end, FAtoms[WindowTypeNormalAtom]) != end;
    }

    xcb_connection_t* FConnection = nullptr;
    xcb_window_t FRoot = XCB_WINDOW_NONE;
    xcb_atom_t FAtoms[AtomCount] = {};
};

// Every start's watch, on one thread and one X connection for the process.
class TWindowWatcher {
public:
    // The process's watcher, made on first use; nullptr when there is no
    // display to watch or it could not be reached.
    static TWindowWatcher* Instance()
    {
        static std::mutex lock;
        static std::unique_ptr<TWindowWatcher> watcher;
        static bool made = false;
        const std::lock_guard<std::mutex> guard(lock);
        if (!made) {
            made = true;
            const char* display = std::getenv("DISPLAY");
            if (display && *display) {
                try {
                    watcher.reset(new TWindowWatcher());
                } catch (...) {
                    watcher.reset(); // no thread or no memory: nothing is applied
                }
            }
        }
        return watcher && !watcher->FFailed ? watcher.get() : nullptr;
    }

    TWindowWatcher(const TWindowWatcher&) = delete;
    TWindowWatcher& operator=(const TWindowWatcher&) = delete;

    ~TWindowWatcher()
    {
        {
            const std::lock_guard<std::mutex> guard(FLock);
            FStopping = true;
        }
        Wake();
        if (FThread.joinable())
            FThread.join();
    }

    void Add(TWatch watch) noexcept
    {
        {
            const std::lock_guard<std::mutex> guard(FLock);
            if (FFailed || FStopping)
                return;
            try {
                FAdded.push_back(std::move(watch));
            } catch (...) {
                return;
            }
            ++FCount;
        }
        Wake();
    }

    std::size_t Count() const noexcept { return FCount; }

private:
    TWindowWatcher() : FWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (FWakeFd.Get() < 0)
            throw std::system_error(errno, std::generic_category());
        FThread = std::thread(&TWindowWatcher::Run, this);
    }

    void Wake() noexcept
    {
        const std::uint64_t one = 1;
        (void)!::write(FWakeFd.Get(), &one, sizeof one);
    }

    // False once stopping.
    bool TakeAdded()
    {
        const std::lock_guard<std::mutex> guard(FLock);
        for (TWatch& watch : FAdded)
            FWatches.push_back(std::move(watch));
        FAdded.clear();
        return !FStopping;
    }

    void Drop(std::size_t index)
    {
        FWatches.erase(FWatches.begin() + static_cast<std::ptrdiff_t>(index));
        --FCount;
    }

    void Run() noexcept
    {
        try {
            Watch();
        } catch (...) {
            Fail(); // out of memory: the remaining windows keep their programs' states
        }
    }

    void Watch()
    {
        // Connected here, so that a slow server never holds up a start.
        TDisplay display;
        if (display.Broken()) {
            Fail();
            return;
        }
        // The first list is looked at whole: a window of a start that came
        // up before it was read is new all the same.
        bool changed = true;
        std::vector<xcb_window_t> appeared;
        std::vector<pollfd> fds;
        while (TakeAdded()) {
            changed = display.ReadEvents(appeared) || changed;
            if (display.Broken()) {
                Fail();
                return;
            }
            if (changed || !appeared.empty()) {
                Look(display, changed, appeared);
                changed = false;
                appeared.clear();
                continue; // the replies may have brought further events
            }
            const TClock::time_point now = TClock::now();
            TClock::time_point next = TClock::time_point::max();
            for (std::size_t i = FWatches.size(); i-- > 0;) {
                if (FWatches[i].Deadline <= now)
                    Drop(i);
                else
                    next = std::min(next, FWatches[i].Deadline);
            }
            fds.assign({pollfd{FWakeFd.Get(), POLLIN, 0},
                        pollfd{xcb_get_file_descriptor(display.Connection()), POLLIN, 0}});
            for (const TWatch& watch : FWatches)
                fds.push_back(pollfd{watch.PidFd.Get(), POLLIN, 0});
            int timeout = -1;
            if (next != TClock::time_point::max())
                timeout = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                Fail();
                return;
            }
            std::uint64_t count;
            (void)!::read(FWakeFd.Get(), &count, sizeof count);
            // An ended process has no more windows to come.
            for (std::size_t i = FWatches.size(); i-- > 0;)
                if (fds[i + 2].revents != 0 && FWatches[i].PidFd.Get() >= 0)
                    Drop(i);
        }
    }

    // Looks at the windows that came up: those new in the window manager's
    // list when it changed, and those that appeared.
    void Look(TDisplay& display, bool listChanged, std::vector<xcb_window_t>& appeared)
    {
        std::vector<xcb_window_t> added;
        if (listChanged) {
            std::vector<xcb_window_t> windows = display.ClientList();
            std::set_difference(windows.begin(), windows.end(), FKnown.begin(), FKnown.end(),
                                std::back_inserter(added));
            FKnown = std::move(windows);
        }
        added.insert(added.end(), appeared.begin(), appeared.end());
        std::sort(added.begin(), added.end());
        added.erase(std::unique(added.begin(), added.end()), added.end());
        if (added.empty() || FWatches.empty())
            return;
        for (const TDisplay::TWindowFacts& window : display.Facts(added)) {
            if (!window.TopLevel)
                continue;
            const std::size_t owner = Owner(window);
            if (owner == FWatches.size())
                continue;
            display.Apply(window.Window, FWatches[owner].State);
            Drop(owner);
            if (FWatches.empty())
                return;
        }
    }

    // The index of the watch the window belongs to; FWatches.size() for none.
    std::size_t Owner(const TDisplay::TWindowFacts& window) const
    {
        TProcessInfo process;
        bool known = false;
        pid_t pid = window.Pid;
        for (int depth = 0; pid > 1 && depth < MaxAncestors; ++depth) {
            for (std::size_t i = 0; i < FWatches.size(); ++i)
                if (FWatches[i].Pid == pid)
                    return i;
            TProcessInfo info;
            if (!ReadProcessInfo(pid, info))
                break;
            if (depth == 0) {
                process = info;
                known = true;
            }
            pid = info.ParentPid;
        }
        if (window.StartupId.empty())
            return FWatches.size();
        for (std::size_t i = 0; i < FWatches.size(); ++i) {
            // A process that ran before the start is an instance that took the document over.
            if (FWatches[i].StartupId == window.StartupId
                && (window.Pid == 0 || (known && process.StartTime > FWatches[i].StartTime)))
                return i;
        }
        return FWatches.size();
    }

    void Fail()
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FFailed = true;
        FCount -= FAdded.size() + FWatches.size();
        FAdded.clear();
        FWatches.clear();
    }

    TDescriptor FWakeFd;
    std::mutex FLock;
    std::vector<TWatch> FAdded; // under FLock
    bool FStopping = false;     // under FLock
    std::atomic<bool> FFailed = false;
    std::atomic<std::size_t> FCount = 0;
    // The thread's own.
    std::vector<TWatch> FWatches;
    std::vector<xcb_window_t> FKnown;
    std::thread FThread;
};

std::string NewStartupId()
{
    static std::atomic<unsigned> sequence = 0;
    char id[96];
    std::snprintf(id, sizeof id, "dorvane-%d-%lld-%u", static_cast<int>(::getpid()),
                  static_cast<long long>(std::time(nullptr)), ++sequence);
    return id;
}

} // namespace

TWindowState WindowStateOfShowCommand(int showCommand) noexcept
{
    switch (showCommand) {
    case 3:
        return TWindowState::Maximized;
    case 6:
        return TWindowState::Minimized;
    default:
        return TWindowState::Normal;
    }
}

TWindowStateRequest::TWindowStateRequest(TWindowState state) : FState(state)
{
    if (state != TWindowState::Normal && TWindowWatcher::Instance())
        FStartupId = NewStartupId();
}

void TWindowStateRequest::Watch(pid_t pid) const noexcept
{
    TWindowWatcher* watcher = FStartupId.empty() ? nullptr : TWindowWatcher::Instance();
    if (!watcher || pid <= 0)
        return;
    try {
        TProcessInfo process;
        if (!ReadProcessInfo(pid, process))
            return;
        // Opened while the child is unreaped, so the PID is still its own.
        TDescriptor pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        watcher->Add(TWatch{pid, process.StartTime, std::move(pidFd), FStartupId, FState, TClock::now() + WatchTime});
    } catch (...) {
        // No memory for the watch: the window keeps the state its program gives it.
    }
}

std::size_t WatchedStartCount() noexcept
{
    TWindowWatcher* watcher = TWindowWatcher::Instance();
    return watcher ? watcher->Count() : 0;
}
