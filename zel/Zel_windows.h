#pragma once
// The state of a started program's first window. On X11 the window manager
// takes requests about any client's window, so a watcher with an X
// connection of its own, on a thread of its own, finds the first top-level
// window of each start and asks for the state (EWMH maximized, ICCCM
// iconic). One connection and one thread serve every start of the process;
// they are made on first use. Without an X display (no DISPLAY, or no
// server behind it) nothing is applied, silently; a native Wayland client's
// window is never seen, so it keeps the state its program gives it.

#include <sys/types.h>

#include <cstddef>
#include <string>

enum class TWindowState { Normal, Minimized, Maximized };

// The window state of a show-window code: 6 minimized, 3 maximized; every
// other code (1 normal among them) asks for nothing.
TWindowState WindowStateOfShowCommand(int showCommand) noexcept;

// One start's request for the state of its first window. Make it just
// before the start, give the child StartupId() as DESKTOP_STARTUP_ID, and
// hand the started process to Watch.
//
// A window belongs to the start when its _NET_WM_PID is the started process
// or one of its descendants, or when its _NET_STARTUP_ID is the start's own
// id and the process that owns it did not run before the start (that is an
// application that was already running and took the document over). The
// first such window that is a normal top-level window (not transient, not a
// splash screen or a dialog) gets the state. Watching ends there, when the
// started process ends, or 30 s after the start, whichever comes first.
// Nothing here blocks: the watcher does its work on its own thread.
class TWindowStateRequest {
public:
    explicit TWindowStateRequest(TWindowState state);

    // Empty when nothing is to be applied: Normal, or no X display.
    const std::string& StartupId() const noexcept { return FStartupId; }
    // Watches for the first window of the started process, an unreaped
    // child of ours. Does nothing when StartupId() is empty.
    void Watch(pid_t pid) const noexcept;

private:
    TWindowState FState;
    std::string FStartupId;
};

// The starts being watched right now (for tests and diagnostics).
std::size_t WatchedStartCount() noexcept;
