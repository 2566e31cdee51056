#pragma once
// The desktop shell: start a program file with an argument list, open a
// document or a directory with the application the desktop associates with
// it, and optionally keep a waitable handle of the started process.
//
// Children are started only from an argument list, never through a shell;
// none inherits a descriptor of ours, and every one is reaped: a child whose
// handle is not kept, or is dropped while it runs, is reaped in the
// background once it ends. Nothing here terminates a process.

#include "Zel_autopointers.h"
#include "Zel_base.h"
#include "Zel_dynamicarrays.h"

#include <sys/types.h>

#include <functional>
#include <string>

// The shell could not start anything. The message is the shell's own
// sentence; Reason() keeps what the system or GIO said about it (strerror's
// text, a GError's message), empty when they said nothing.
class EShellExecuteError : public Exception {
public:
    explicit EShellExecuteError(std::string message, std::string reason = std::string());
    const std::string& Reason() const noexcept { return FReason; }

private:
    std::string FReason;
};

// Waiting for a process failed: whether it has ended is unknown.
class EProcessWaitError : public Exception {
public:
    using Exception::Exception;
};

// Splits a parameter text into arguments by the shell's quoting rules without
// any expansion: blanks (space, tab, newline) separate; single quotes keep
// everything up to the next single quote; double quotes keep everything up to
// the next unescaped double quote, where a backslash escapes only $ ` " \ and
// newline; outside quotes a backslash escapes the next character, and a
// backslash-newline disappears. Quotes that open an argument make it exist
// even when empty (""). $, *, ~, #, ;, | and the like are ordinary characters.
// An unterminated quote runs to the end of the text: what it holds is taken
// literally, so a missing closing quote never loses or splits anything. A
// backslash at the very end stays a backslash.
TStringDynArray SplitArguments(const std::string& text);

// The same for before + literal + after, except that every byte of literal is
// an ordinary character wherever it falls: it becomes part of exactly the
// argument it stands in and can never close a quote, separate, escape, or
// start another argument, whatever blanks, quotes, backslashes, newlines or
// non-UTF-8 bytes it holds. The argument it stands in exists even when
// literal is empty. So "\"" + path + "\"" and "" + path + "" both give the
// path as one argument, and "--flag \"" + path + "\"" gives --flag and the
// path. A backslash that ends before escapes literal's first byte as it would
// any other character (outside quotes it disappears; inside double quotes it
// stays unless that byte is $ ` " or \).
TStringDynArray SplitCommandLine(const std::string& before, const std::string& literal,
                                 const std::string& after);

// A started child of this process: its PID and a pidfd to wait on. Owns the
// child's reaping: Wait reaps it, and a handle dropped before its process has
// ended passes the child to the background reaper. Used by one thread only.
class TProcessHandle {
public:
    // Takes over a child of this process that nobody has reaped yet, and the
    // pidfd opened for it (closed with the handle).
    TProcessHandle(pid_t pid, int pidFd) noexcept;
    TProcessHandle(const TProcessHandle&) = delete;
    TProcessHandle& operator=(const TProcessHandle&) = delete;
    ~TProcessHandle();

    // Takes over an unreaped child: nullptr when no pidfd can be opened for it,
    // in which case the child is reaped in the background.
    static TAutoPointer<TProcessHandle> Open(pid_t pid);

    pid_t Pid() const noexcept { return FPid; }
    // True once the process has ended (and been reaped), false when timeoutMs
    // elapsed first. A negative timeout waits without limit, 0 only looks.
    // Returns the moment the process ends. Throws EProcessWaitError when the
    // wait itself fails.
    bool Wait(int timeoutMs);
    bool Ended() const noexcept { return FEnded; }
    // The waitpid() status once ended; -1 when it could not be collected.
    int ExitStatus() const noexcept { return FStatus; }
    // Called once, by the Wait that sees the process end, just before it is
    // reaped: /proc still shows it then, as a zombie. Must not throw.
    std::function<void(pid_t pid)> BeforeReap;

private:
    void Reap();

    pid_t FPid;
    int FPidFd;
    bool FEnded = false;
    int FStatus = -1;
};

enum class TShellStartOutcome {
    StartedWithHandle,    // Process holds the started process
    StartedWithoutHandle, // started; no handle asked for, or none to be had
};

struct TShellStart {
    TShellStartOutcome Outcome = TShellStartOutcome::StartedWithoutHandle;
    TAutoPointer<TProcessHandle> Process; // set exactly with StartedWithHandle
};

// The window state of the new process's first window (1 normal, 3 maximized,
// 6 minimized) is asked of the window manager on X11 (Zel_windows); for it
// the child gets the start's own DESKTOP_STARTUP_ID. Normal changes nothing.

// Starts the program file directly with argv = file, then arguments; the
// environment is ours. directory is the working directory, empty for ours.
// Fails (EShellExecuteError) before anything starts when the file does not
// exist, is not a regular file or is not executable, or when the directory
// does not exist. keepHandle asks for a waitable handle.
TShellStart StartProgram(const std::string& file, const TStringDynArray& arguments,
                         const std::string& directory, int showCommand, bool keepHandle);

// An application's id: its desktop id without ".desktop". A single-instance
// application (GApplication, KDE) owns it as its name on the session bus.
using TApplicationNotify = std::function<void(const std::string& applicationId)>;

// Opens the document (a file or a directory) with the desktop's default
// application for its content type, started as our child in directory (empty:
// ours). The handle needs the application's PID; an application the desktop
// starts by other means (D-Bus activation) gives StartedWithoutHandle. Fails
// (EShellExecuteError) when the document or the directory does not exist, no
// application is associated, the application's program cannot run from the
// directory (missing, not executable, or a script whose interpreter is), or
// the launch fails. beforeLaunch, when set, learns the application's id just
// before it starts; what it throws passes on and nothing starts.
TShellStart OpenDocument(const std::string& document, const std::string& directory, int showCommand,
                         bool keepHandle, const TApplicationNotify& beforeLaunch = nullptr);

// The ids of the desktop entries whose program is the file: the first word of
// their Exec, found as a launch finds it, is the same file once links are
// resolved, and only options and field codes follow it. An entry that hands
// its program other words runs it as a launcher of something else (sh -c,
// env, flatpak run) and does not count. Empty when there is none or the file
// does not exist. Reads every desktop entry, so ask once and keep the answer.
TStringDynArray ProgramApplicationIds(const std::string& file);

// Opens the directory in the desktop's file manager; not waited for.
void ExploreDirectory(const std::string& directory);

// Opens the file with its associated application; not waited for.
void OpenFile(const std::string& file);

// Test seam: OpenDocument hands every PID the desktop reports to filter
// first. Returning false withholds it, as though the application had been
// started without a PID; the filter then owns that child and must reap it.
// Set it while no launch runs; an empty function removes it.
void SetLaunchPidFilterForTesting(std::function<bool(pid_t pid)> filter);
