#pragma once
// Starting one document's process through the desktop shell, and waiting for
// it to end. Knows nothing of documents or program entries: the open task
// fills the creator for each document.

#include "App_common.h"
#include "Zel_autopointers.h"
#include "Zel_processes.h"

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class THandOffWatch;
class TProcessHandle;

class EProcessError : public EAppError {
public:
    using EAppError::EAppError;
};

// "The program could not create the process." Reason() keeps why: what the
// system or GIO said (strerror's text, a GError's message), else the shell's
// own sentence; empty when nobody said.
class EProcessCreateError : public EProcessError {
public:
    EProcessCreateError();
    explicit EProcessCreateError(std::string reason);
    const std::string& Reason() const noexcept { return FReason; }

private:
    std::string FReason;
};

// "The program abandoned the process." The normal outcome of a successful
// start with AbandonProcess set.
class EProcessAbandon : public EProcessError {
public:
    EProcessAbandon();
};

// "The program could not get the handle of the process." Started, but nothing
// came back to wait on.
class EProcessUnavailable : public EProcessError {
public:
    EProcessUnavailable();

protected:
    explicit EProcessUnavailable(std::string message);
};

// "The program handed the document to an application that was already
// running." A single-instance application was running before the start, so
// the process started for the document gives it to that instance and ends:
// as with no handle, there is nothing to wait for.
class EProcessHandOff : public EProcessUnavailable {
public:
    EProcessHandOff();
};

// "The program cannot determine whether the process has terminated."
class EProcessWaitFail : public EProcessError {
public:
    EProcessWaitFail();
};

// A started process that can be waited on. Used by one thread only.
// Destroying it never terminates the process; one still running is reaped in
// the background once it ends.
class TProcess {
public:
    // How a process ended: what /proc showed of it just before it was
    // reaped (Info.Pid 0 when nothing), and its waitpid() status.
    struct TEnd {
        pid_t Pid = 0;
        TProcessInfo Info;
        int Status = -1;
    };
    // Asked once, when the process's end is first seen: true when it ended
    // by handing its document to another instance.
    using THandOffCheck = std::function<bool(const TEnd& end)>;

    // Takes ownership of the handle.
    explicit TProcess(TAutoPointer<TProcessHandle> handle, THandOffCheck handOffCheck = nullptr);
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    virtual ~TProcess();

    // True when the process has ended, false when timeout (ms) elapsed first;
    // negative waits without limit, 0 only looks. Returns the moment the
    // process ends. Raises EProcessWaitFail when the wait itself fails.
    virtual bool WaitFor(int timeout);
    // True once WaitFor has seen the process end by handing its document off.
    bool HandedOff() const noexcept { return FHandedOff; }

private:
    TAutoPointer<TProcessHandle> FHandle;
    THandOffCheck FHandOffCheck;
    TProcessInfo FZombie;
    bool FHandedOff = false;
};

// One request to the shell, refilled for each document of a run.
//
// Single-instance applications keep one copy running: a second start hands
// its document to the first and ends. GApplication and KDE ones own their
// application id as a name on the session bus while they run, so a start
// that is to be waited for looks, before it starts, whether its
// application's name is owned (EProcessHandOff), and its process, when it
// ends, whether it was owned by another process meanwhile
// (TProcess::HandedOff). The bus is asked once a run for each application,
// and again only after it announces a change of owner.
//
// Others (office suites over a socket of their own, browsers under a bus
// name of their profile) are known by what their process leaves behind: a
// desktop application's process that ends with code 0 within
// HandOffSeconds of its start, while another copy of the same program of
// the same user, running since before it started and not started by us,
// goes on, has handed its document to that copy. (Our own earlier starts
// are left out: a viewer that shows each document in a process of its own
// leaves them behind when a run is cancelled.) The user's processes are read at most once a
// second during a run, and the one that ended once more as it ends.
// Without a desktop entry behind the program (a command-line program, a
// program file no entry runs) nothing changes.
//
// Parameters is the text the program entry builds: prefix + document path +
// suffix. It is split into arguments by the shell's quoting rules without
// running a shell, and the document's position inside it is carried beside
// it, so the characters of the path are always taken literally: a path with
// blanks, quotes, backslashes, $ or a newline stays inside the one argument
// it stands in and can never add arguments of its own.
class TProcessCreator {
public:
    // Show-window code of a normal window.
    static constexpr int DefaultShowCommand = 1;
    // A hand-off ends sooner than this after its start; a document window
    // closed by its user later is waited for as any other end.
    static constexpr int HandOffSeconds = 10;

    TProcessCreator() = default;
    TProcessCreator(const TProcessCreator&) = delete;
    TProcessCreator& operator=(const TProcessCreator&) = delete;
    virtual ~TProcessCreator() = default;

    // A program file, started directly; or with ByAssociation a document,
    // opened with the application the desktop associates with its type and
    // never run itself, even when it is executable. Parameters are not
    // handed on by association.
    std::string File;
    bool ByAssociation = false;
    // The working directory; empty keeps ours.
    std::string Directory;
    int ShowCommand = DefaultShowCommand;
    // Start without keeping a handle: Start then ends with EProcessAbandon.
    bool AbandonProcess = true;

    // Issues the request. Returns the started process, owned by the caller.
    // Raises EProcessCreateError when nothing could be started (the program
    // file or the working directory is missing, no application is associated,
    // the application's program cannot run, the launch failed),
    // EProcessAbandon after a start with AbandonProcess set,
    // EProcessUnavailable when the start gave nothing to wait on, and
    // EProcessHandOff when it went to an instance that was already running.
    // The fields are left as they are.
    virtual TAutoPointer<TProcess> Start();

    const std::string& Parameters() const noexcept { return FParameters; }
    // Parameters without a document in them; every character may quote.
    void SetParameters(std::string parameters);
    // Parameters = prefix + document + suffix, the document taken literally.
    void SetDocumentParameters(const std::string& prefix, const std::string& document,
                               const std::string& suffix);
    // Where the document stands in Parameters; npos when it holds none.
    std::size_t DocumentOffset() const noexcept { return FDocumentOffset; }
    std::size_t DocumentLength() const noexcept { return FDocumentLength; }

private:
    std::string FParameters;
    std::size_t FDocumentOffset = std::string::npos;
    std::size_t FDocumentLength = 0;
    // The run's bus and the names of its program; shared with the processes
    // it started, which ask it once more when they end.
    std::shared_ptr<THandOffWatch> FHandOff;
};
