#pragma once
// The requests to end the program that come from outside it: the signals
// SIGTERM, SIGINT and SIGHUP, and the end of the desktop session (the session
// manager's request to save, then to quit). Each becomes a notification on
// the GUI thread. The signal handler itself only writes the signal's number
// to a pipe, which the event loop watches.

#include "Zel_autopointers.h"

#include <functional>

class TSessionEndDispatcher;

// Any number may exist; each is told of every request while it lives. The
// signals' handlers are installed with the first and restored with the last.
class TSessionEndWatcher {
public:
    // GUI thread, with an application object.
    TSessionEndWatcher();
    TSessionEndWatcher(const TSessionEndWatcher&) = delete;
    TSessionEndWatcher& operator=(const TSessionEndWatcher&) = delete;
    ~TSessionEndWatcher();

    // The program is asked to end: signal is the signal's number, or 0 for
    // the desktop session's end (the session manager's quit request, which
    // then does not close the windows by itself).
    std::function<void(TSessionEndWatcher& sender, int signal)> OnEnd;
    // The session manager asks for everything to be saved now; the session
    // may still go on.
    std::function<void(TSessionEndWatcher& sender)> OnSaveRequest;

private:
    friend class TSessionEndDispatcher;
};
