#include "Zel_shellexecute.h"

#include "Zel_glib.h"
#include "Zel_translations.h"
#include "Zel_windows.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

const char* const ProgramMissingMessage = TrNoop("The program file does not exist.");
const char* const NotExecutableMessage = TrNoop("The file is not an executable program.");
const char* const DirectoryMissingMessage = TrNoop("The working directory does not exist.");
const char* const DocumentMissingMessage = TrNoop("The document does not exist.");
const char* const NotDirectoryMessage = TrNoop("The directory does not exist.");
const char* const NoAssociationMessage = TrNoop("No application is associated with the document.");
const char* const StartFailedMessage = TrNoop("The shell could not start the process.");
const char* const WaitFailedMessage = TrNoop("The process could not be waited for.");

[[noreturn]] void Fail(const char* message, int error)
{
    throw EShellExecuteError(Tr(message), SystemErrorText(error));
}

// --- Argument splitting ---

class TArgumentSplitter {
public:
    void Feed(std::string_view text, bool literal)
    {
        if (literal) {
            FInWord = true; // the literal's argument exists even when it is empty
            // A backslash before an empty literal stays itself: the text on
            // one side of the document never escapes the other side.
            if (text.empty() && FEscape) {
                FEscape = false;
                Append('\\');
            }
        }
        for (const char c : text) {
            if (FEscape)
                Escaped(c, literal);
            else if (literal)
                Append(c);
            else
                Plain(c);
        }
    }

    TStringDynArray Finish()
    {
        if (FEscape)
            Append('\\');
        EndWord();
        return std::move(FArguments);
    }

private:
    enum class TQuote { None, Single, Double };

    void Append(char c)
    {
        FWord += c;
        FInWord = true;
    }

    void EndWord()
    {
        if (!FInWord)
            return;
        FArguments.push_back(std::move(FWord));
        FWord.clear();
        FInWord = false;
    }

    void Escaped(char c, bool literal)
    {
        FEscape = false;
        if (FQuote == TQuote::Double) {
            if (c == '\n' && !literal)
                return; // line continuation
            if (c != '$' && c != '`' && c != '"' && c != '\\' && c != '\n')
                Append('\\');
            Append(c);
        } else {
            if (c == '\n' && !literal)
                return;
            Append(c);
        }
    }

    void Plain(char c)
    {
        switch (FQuote) {
        case TQuote::Single:
            if (c == '\'')
                FQuote = TQuote::None;
            else
                Append(c);
            break;
        case TQuote::Double:
            if (c == '"')
                FQuote = TQuote::None;
            else if (c == '\\')
                FEscape = true;
            else
                Append(c);
            break;
        case TQuote::None:
            if (c == ' ' || c == '\t' || c == '\n') {
                EndWord();
            } else if (c == '\'') {
                FQuote = TQuote::Single;
                FInWord = true;
            } else if (c == '"') {
                FQuote = TQuote::Double;
                FInWord = true;
            } else if (c == '\\') {
                FEscape = true;
            } else {
                Append(c);
            }
            break;
        }
    }

    TStringDynArray FArguments;
    std::string FWord;
    bool FInWord = false;
    bool FEscape = false;
    TQuote FQuote = TQuote::None;
};

// --- Descriptors and children ---

void CloseDescriptor(int fd) noexcept
{
    if (fd >= 0)
        ::close(fd);
}

int OpenPidFd(pid_t pid) noexcept
{
    // pidfds are always close-on-exec.
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Reaps the child if it has ended; true when it is gone.
bool TryReap(pid_t pid) noexcept
{
    int status = 0;
    pid_t result;
    do
        result = ::waitpid(pid, &status, WNOHANG);
    while (result < 0 && errno == EINTR);
    return result == pid || (result < 0 && errno == ECHILD);
}

// Reaps the children nobody waits for: it polls their pidfds on a thread of
// its own, which runs only while there is something to reap.
class TChildReaper {
public:
    static TChildReaper& Instance()
    {
        static TChildReaper reaper;
        return reaper;
    }

    TChildReaper(const TChildReaper&) = delete;
    TChildReaper& operator=(const TChildReaper&) = delete;

    ~TChildReaper()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStopping = true;
        }
        Wake();
        if (FThread.joinable())
            FThread.join();
        // Still running at exit: they pass to init, which reaps them.
        for (const TChild& child : FChildren)
            CloseDescriptor(child.PidFd);
        CloseDescriptor(FWakeFd);
    }

    // Takes over the child and its pidfd (-1 when none could be opened).
    void Adopt(pid_t pid, int pidFd) noexcept
    {
        if (TryReap(pid)) {
            CloseDescriptor(pidFd);
            return;
        }
        std::unique_lock<std::mutex> lock(FLock, std::defer_lock);
        try {
            lock.lock();
            if (!FStopping)
                FChildren.push_back({pid, pidFd});
        } catch (...) {
            // Out of memory: init reaps it once we exit.
            CloseDescriptor(pidFd);
            return;
        }
        if (FStopping) {
            CloseDescriptor(pidFd);
        } else if (FRunning) {
            Wake();
        } else {
            try {
                // A finished loop only has to return; joining it cannot block on us.
                if (FThread.joinable())
                    FThread.join();
                FThread = std::thread(&TChildReaper::Run, this);
                FRunning = true;
            } catch (...) {
                // No thread now: the child stays listed for the next Adopt.
            }
        }
    }

private:
    struct TChild {
        pid_t Pid;
        int PidFd;
    };

    TChildReaper() : FWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void Wake() noexcept
    {
        if (FWakeFd >= 0) {
            const std::uint64_t one = 1;
            (void)!::write(FWakeFd, &one, sizeof one);
        }
    }

    void Run()
    {
        std::vector<TChild> watched;
        std::vector<pollfd> fds;
        std::vector<pid_t> reaped;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(FLock);
                if (FStopping || FChildren.empty()) {
                    FRunning = false;
                    return;
                }
                watched = FChildren;
            }
            fds.assign(1, pollfd{FWakeFd, POLLIN, 0});
            bool blind = FWakeFd < 0;
            for (const TChild& child : watched) {
                fds.push_back(pollfd{child.PidFd, POLLIN, 0});
                blind = blind || child.PidFd < 0;
            }
            // Without a pidfd (or a wake-up descriptor) look again every 100 ms.
            if (::poll(fds.data(), fds.size(), blind ? 100 : -1) < 0 && errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (FWakeFd >= 0) {
                std::uint64_t count;
                (void)!::read(FWakeFd, &count, sizeof count);
            }
            reaped.clear();
            for (std::size_t i = 0; i < watched.size(); ++i)
                if ((watched[i].PidFd < 0 || fds[i + 1].revents != 0) && TryReap(watched[i].Pid))
                    reaped.push_back(watched[i].Pid);
            if (reaped.empty())
                continue;
            std::lock_guard<std::mutex> lock(FLock);
            const auto gone = std::remove_if(FChildren.begin(), FChildren.end(), [&](const TChild& child) {
                if (std::find(reaped.begin(), reaped.end(), child.Pid) == reaped.end())
                    return false;
                CloseDescriptor(child.PidFd);
                return true;
            });
            FChildren.erase(gone, FChildren.end());
        }
    }

    std::mutex FLock;
    std::vector<TChild> FChildren;
    bool FRunning = false;
    bool FStopping = false;
    const int FWakeFd;
    std::thread FThread;
};

// Hands a child nobody will wait for to the reaper.
void AbandonChild(pid_t pid) noexcept
{
    TChildReaper::Instance().Adopt(pid, OpenPidFd(pid));
}

TShellStart Started(pid_t pid, bool keepHandle)
{
    TShellStart result;
    if (keepHandle)
        result.Process = TProcessHandle::Open(pid);
    else
        AbandonChild(pid);
    if (result.Process)
        result.Outcome = TShellStartOutcome::StartedWithHandle;
    return result;
}

// --- Checks ---

// A relative path is taken relative to our working directory, also when the
// child gets another one; . and .. are resolved lexically.
std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    std::filesystem::path current = std::filesystem::current_path(error);
    if (error)
        throw EShellExecuteError(Tr(StartFailedMessage), error.message());
    return (current / path).lexically_normal().string();
}

bool IsDirectory(const std::string& path) noexcept
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The working directory, absolute; empty stays empty (ours).
std::string CheckDirectory(const std::string& directory)
{
    if (directory.empty())
        return directory;
    struct stat status;
    if (::stat(directory.c_str(), &status) != 0)
        Fail(DirectoryMissingMessage, errno);
    if (!S_ISDIR(status.st_mode))
        Fail(DirectoryMissingMessage, ENOTDIR);
    return AbsolutePath(directory);
}

// Throws unless path is a regular file that we may execute.
void CheckExecutableFile(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        Fail(ProgramMissingMessage, errno);
    if (!S_ISREG(status.st_mode))
        Fail(NotExecutableMessage, EACCES); // what exec says of anything else
    if (::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0)
        Fail(NotExecutableMessage, errno);
}

// The interpreter a script names on its #! line; empty for anything else.
std::string ScriptInterpreter(const std::string& path)
{
    char head[256];
    ssize_t count = -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        do
            count = ::read(fd, head, sizeof head);
        while (count < 0 && errno == EINTR);
        ::close(fd);
    }
    if (count < 2 || head[0] != '#' || head[1] != '!')
        return std::string();
    const std::string_view line(head + 2, static_cast<std::size_t>(count) - 2);
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return std::string();
    return std::string(line.substr(start, line.find_first_of(" \t\n", start) - start));
}

// --- posix_spawn ---

class TSpawnActions {
public:
    explicit TSpawnActions(const std::string& directory)
    {
        if (const int error = ::posix_spawn_file_actions_init(&Actions))
            Fail(StartFailedMessage, error);
        // Nothing of ours past stdin, stdout and stderr reaches the child,
        // not even a descriptor someone opened without O_CLOEXEC.
        int error = directory.empty() ? 0 : ::posix_spawn_file_actions_addchdir_np(&Actions, directory.c_str());
        if (error == 0)
            error = ::posix_spawn_file_actions_addclosefrom_np(&Actions, 3);
        if (error != 0) {
            ::posix_spawn_file_actions_destroy(&Actions);
            Fail(StartFailedMessage, error);
        }
    }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
    ~TSpawnActions() { ::posix_spawn_file_actions_destroy(&Actions); }

    posix_spawn_file_actions_t Actions;
};

class TSpawnAttributes {
public:
    TSpawnAttributes()
    {
        if (const int error = ::posix_spawnattr_init(&Attributes))
            Fail(StartFailedMessage, error);
        // The child starts with no signal blocked or ignored, whatever we do.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        if (::posix_spawnattr_setsigmask(&Attributes, &none) != 0
            || ::posix_spawnattr_setsigdefault(&Attributes, &all) != 0
            || ::posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
            ::posix_spawnattr_destroy(&Attributes);
            Fail(StartFailedMessage, EINVAL);
        }
    }
    TSpawnAttributes(const TSpawnAttributes&) = delete;
    TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
    ~TSpawnAttributes() { ::posix_spawnattr_destroy(&Attributes); }

    posix_spawnattr_t Attributes;
};

// Our environment for a child, with DESKTOP_STARTUP_ID set to the start's
// own id when it has one, so that its windows can be told by it.
class TChildEnvironment {
public:
    explicit TChildEnvironment(const std::string& startupId)
    {
        if (startupId.empty())
            return;
        const std::string_view name("DESKTOP_STARTUP_ID=");
        FStartupId = std::string(name) + startupId;
        for (char** variable = environ; *variable; ++variable)
            if (!std::string_view(*variable).starts_with(name))
                FVariables.push_back(*variable);
        FVariables.push_back(FStartupId.data());
        FVariables.push_back(nullptr);
    }

    char** Get() noexcept { return FVariables.empty() ? environ : FVariables.data(); }

private:
    std::string FStartupId;
    std::vector<char*> FVariables;
};

// --- GIO ---

std::function<bool(pid_t)> LaunchPidFilter;

// The content type from the name and, for a regular file, its first bytes.
TGCharPointer GuessContentType(const std::string& document, const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return TGCharPointer(g_strdup("inode/directory"));
    std::vector<unsigned char> head;
    if (S_ISREG(status.st_mode)) {
        const int fd = ::open(document.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            head.resize(4096);
            ssize_t count;
            do
                count = ::read(fd, head.data(), head.size());
            while (count < 0 && errno == EINTR);
            head.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
            ::close(fd);
        }
    }
    return TGCharPointer(
        g_content_type_guess(document.c_str(), head.empty() ? nullptr : head.data(), head.size(), nullptr));
}

// The program a desktop entry runs: the first word of its Exec; empty when
// it has none.
// The words of the entry's Exec line, as a launch splits them; empty when
// it has none or they do not parse.
TStringDynArray EntryWords(GDesktopAppInfo* application)
{
    TStringDynArray result;
    const TGCharPointer exec(g_desktop_app_info_get_string(application, G_KEY_FILE_DESKTOP_KEY_EXEC));
    gchar** argv = nullptr;
    if (!exec || !g_shell_parse_argv(exec.get(), nullptr, &argv, nullptr))
        return result;
    const TGStrvPointer words(argv);
    for (gchar** word = words.get(); *word; ++word)
        result.emplace_back(*word);
    return result;
}

std::string EntryProgram(GDesktopAppInfo* application)
{
    TStringDynArray words = EntryWords(application);
    return words.empty() ? std::string() : std::move(words.front());
}

// Whether the entry's program is the application itself rather than a
// launcher of another one (sh -c ..., env NAME=value app, flatpak run id):
// after the program come only options and field codes.
bool RunsItself(const TStringDynArray& words)
{
    return std::all_of(words.begin() + 1, words.end(), [](const std::string& word) {
        return word.starts_with('-') || (word.size() == 2 && word.front() == '%');
    });
}

// The file exec would run for program: a name without a slash is looked up
// on PATH, a relative path starts in directory (empty: ours). Empty when
// there is none.
std::string FindProgram(const std::string& program, const std::string& directory)
{
    if (program.empty())
        return program;
    if (program.find('/') == std::string::npos) {
        const TGCharPointer found(g_find_program_in_path(program.c_str()));
        return found ? std::string(found.get()) : std::string();
    }
    if (program.front() == '/' || directory.empty())
        return program;
    return directory + "/" + program;
}

// GIO's launcher helper starts first and only then runs the entry's program,
// so a program that cannot run would look like one that started and ended.
// Checked here as the helper's exec will find it, from the child's directory.
void CheckEntryProgram(GDesktopAppInfo* application, const std::string& directory)
{
    const std::string program = EntryProgram(application);
    if (program.empty())
        return; // nothing to run: GIO activates it by other means or refuses
    const std::string path = FindProgram(program, directory);
    if (path.empty())
        Fail(ProgramMissingMessage, ENOENT);
    CheckExecutableFile(path);
    const std::string interpreter = ScriptInterpreter(path);
    if (!interpreter.empty() && interpreter.front() == '/')
        CheckExecutableFile(interpreter);
}

std::string ApplicationId(GAppInfo* application)
{
    const char* id = g_app_info_get_id(application);
    if (!id)
        return std::string();
    std::string_view text(id);
    const std::string_view suffix(".desktop");
    if (text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix)
        text.remove_suffix(suffix.size());
    return std::string(text);
}

// The path with every link resolved; empty when it does not exist.
std::string CanonicalPath(const std::string& path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? std::string() : resolved.string();
}

struct TLaunchedChildren {
    std::vector<pid_t> Pids;
};

// Runs in the forked child before exec: async-signal-safe calls only.
void ChangeDirectoryInChild(gpointer directory)
{
    if (::chdir(static_cast<const char*>(directory)) != 0)
        _exit(127);
}

void CollectPid(GDesktopAppInfo*, GPid pid, gpointer data)
{
    try {
        if (LaunchPidFilter && !LaunchPidFilter(pid))
            return;
        static_cast<TLaunchedChildren*>(data)->Pids.push_back(pid);
    } catch (...) {
        AbandonChild(pid);
    }
}

} // namespace

EShellExecuteError::EShellExecuteError(std::string message, std::string reason)
    : Exception(std::move(message)), FReason(std::move(reason))
{
}

// --- Argument splitting ---

TStringDynArray SplitArguments(const std::string& text)
{
    TArgumentSplitter splitter;
    splitter.Feed(text, false);
    return splitter.Finish();
}

TStringDynArray SplitCommandLine(const std::string& before, const std::string& literal, const std::string& after)
{
    TArgumentSplitter splitter;
    splitter.Feed(before, false);
    splitter.Feed(literal, true);
    splitter.Feed(after, false);
    return splitter.Finish();
}

// --- TProcessHandle ---

TProcessHandle::TProcessHandle(pid_t pid, int pidFd) noexcept : FPid(pid), FPidFd(pidFd)
{
    // Made before the handle is complete, so it outlives every handle.
    (void)TChildReaper::Instance();
}

TProcessHandle::~TProcessHandle()
{
    if (FEnded)
        CloseDescriptor(FPidFd);
    else
        TChildReaper::Instance().Adopt(FPid, FPidFd);
}

TAutoPointer<TProcessHandle> TProcessHandle::Open(pid_t pid)
{
    TChildReaper& reaper = TChildReaper::Instance();
    const int pidFd = OpenPidFd(pid);
    if (pidFd < 0) {
        reaper.Adopt(pid, -1);
        return nullptr;
    }
    try {
        return std::make_unique<TProcessHandle>(pid, pidFd);
    } catch (...) {
        reaper.Adopt(pid, pidFd);
        throw;
    }
}

bool TProcessHandle::Wait(int timeoutMs)
{
    if (FEnded)
        return true;
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int pollTimeout = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
            pollTimeout = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd request{FPidFd, POLLIN, 0};
        const int ready = ::poll(&request, 1, pollTimeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw EProcessWaitError(Tr(WaitFailedMessage));
        }
        if (ready > 0) {
            if ((request.revents & POLLNVAL) != 0)
                throw EProcessWaitError(Tr(WaitFailedMessage));
            if (BeforeReap)
                std::exchange(BeforeReap, nullptr)(FPid);
            Reap();
            return true;
        }
        if (pollTimeout == 0)
            return false;
    }
}

void TProcessHandle::Reap()
{
    int status = 0;
    pid_t result;
    do
        result = ::waitpid(FPid, &status, 0);
    while (result < 0 && errno == EINTR);
    if (result == FPid)
        FStatus = status;
    else if (errno != ECHILD) // ECHILD: ended, but someone else collected it
        throw EProcessWaitError(Tr(WaitFailedMessage));
    FEnded = true;
}

// --- Starting ---

TShellStart StartProgram(const std::string& file, const TStringDynArray& arguments, const std::string& directory,
                         int showCommand, bool keepHandle)
{
    if (file.empty())
        Fail(ProgramMissingMessage, ENOENT);
    const std::string path = AbsolutePath(file);
    CheckExecutableFile(path);
    const std::string workingDirectory = CheckDirectory(directory);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    TSpawnActions actions(workingDirectory);
    TSpawnAttributes attributes;
    const TWindowStateRequest window(WindowStateOfShowCommand(showCommand));
    TChildEnvironment environment(window.StartupId());
    pid_t pid = 0;
    if (const int error = ::posix_spawn(&pid, path.c_str(), &actions.Actions, &attributes.Attributes, argv.data(),
                                        environment.Get()))
        Fail(StartFailedMessage, error);
    window.Watch(pid);
    return Started(pid, keepHandle);
}

TShellStart OpenDocument(const std::string& document, const std::string& directory, int showCommand,
                         bool keepHandle, const TApplicationNotify& beforeLaunch)
{
    struct stat status;
    if (document.empty())
        Fail(DocumentMissingMessage, ENOENT);
    if (::stat(document.c_str(), &status) != 0)
        Fail(DocumentMissingMessage, errno);
    const std::string workingDirectory = CheckDirectory(directory);

    const TGCharPointer contentType = GuessContentType(document, status);
    const TGObjectPointer<GAppInfo> application(g_app_info_get_default_for_type(contentType.get(), FALSE));
    if (!application)
        throw EShellExecuteError(Tr(NoAssociationMessage));
    const TGObjectPointer<GFile> file(g_file_new_for_path(document.c_str()));
    const TGCharPointer uri(g_file_get_uri(file.get()));
    GList uris{uri.get(), nullptr, nullptr};
    TGErrorPointer failure;

    if (!G_IS_DESKTOP_APP_INFO(application.get())) {
        // No desktop file behind it: it starts without telling us a PID.
        if (beforeLaunch)
            beforeLaunch(ApplicationId(application.get()));
        if (!g_app_info_launch_uris(application.get(), &uris, nullptr, TGErrorReceiver(failure)))
            throw EShellExecuteError(Tr(StartFailedMessage), failure ? failure->message : "");
        return TShellStart();
    }
    CheckEntryProgram(G_DESKTOP_APP_INFO(application.get()), workingDirectory);
    if (beforeLaunch)
        beforeLaunch(ApplicationId(application.get()));

    // GIO gives a launch a startup id only through a toolkit's launch
    // context, so the start's own goes into the environment here.
    const TWindowStateRequest window(WindowStateOfShowCommand(showCommand));
    TGObjectPointer<GAppLaunchContext> context;
    if (!window.StartupId().empty()) {
        context.reset(g_app_launch_context_new());
        g_app_launch_context_setenv(context.get(), "DESKTOP_STARTUP_ID", window.StartupId().c_str());
    }
    TLaunchedChildren children;
    children.Pids.reserve(4);
    // We reap the child ourselves (DO_NOT_REAP_CHILD), so its PID stays ours
    // to wait on; D-Bus activated applications report no PID at all.
    const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
        G_DESKTOP_APP_INFO(application.get()), &uris, context.get(),
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
        workingDirectory.empty() ? nullptr : ChangeDirectoryInChild,
        workingDirectory.empty() ? nullptr : const_cast<char*>(workingDirectory.c_str()), CollectPid, &children,
        TGErrorReceiver(failure));
    if (!launched) {
        for (const pid_t pid : children.Pids)
            AbandonChild(pid);
        throw EShellExecuteError(Tr(StartFailedMessage), failure ? failure->message : "");
    }
    if (children.Pids.empty())
        return TShellStart();
    for (std::size_t i = 1; i < children.Pids.size(); ++i)
        AbandonChild(children.Pids[i]);
    window.Watch(children.Pids.front());
    return Started(children.Pids.front(), keepHandle);
}

TStringDynArray ProgramApplicationIds(const std::string& file)
{
    TStringDynArray ids;
    if (file.empty())
        return ids;
    const std::string target = CanonicalPath(file);
    if (target.empty())
        return ids;
    const TGObjectListPointer applications(g_app_info_get_all());
    for (GList* item = applications.get(); item; item = item->next) {
        if (!G_IS_DESKTOP_APP_INFO(item->data))
            continue;
        const TStringDynArray words = EntryWords(G_DESKTOP_APP_INFO(item->data));
        if (words.empty() || !RunsItself(words))
            continue;
        const std::string program = FindProgram(words.front(), std::string());
        if (!program.empty() && CanonicalPath(program) == target)
            ids.push_back(ApplicationId(G_APP_INFO(item->data)));
    }
    return ids;
}

void ExploreDirectory(const std::string& directory)
{
    if (!IsDirectory(directory))
        throw EShellExecuteError(Tr(NotDirectoryMessage));
    OpenDocument(directory, std::string(), 1, false);
}

void OpenFile(const std::string& file)
{
    OpenDocument(file, std::string(), 1, false);
}

void SetLaunchPidFilterForTesting(std::function<bool(pid_t pid)> filter)
{
    LaunchPidFilter = std::move(filter);
}
