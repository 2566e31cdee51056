#include "ProcessTestSupport.h"

#include "TempDirectory.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

std::string HelperPath(const std::string& name)
{
    // A link of this test process's own, whose name carries our PID in base
    // 36 and fits the kernel's 15 bytes for a process name.
    static const TTempDirectory links;
    static std::mutex lock;
    std::string tag;
    for (unsigned long pid = static_cast<unsigned long>(::getpid()); pid != 0; pid /= 36)
        tag.insert(tag.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[pid % 36]);
    const std::string link = links / (name.substr(0, 15 - 1 - tag.size()) + "." + tag);
    const std::lock_guard<std::mutex> guard(lock);
    std::error_code error;
    if (!std::filesystem::is_symlink(link, error))
        std::filesystem::create_symlink(std::string(DORVANE_TEST_HELPERS_DIR) + "/" + name, link);
    return link;
}

std::vector<TRecorderRecord> ReadRecorderLog(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    std::vector<TRecorderRecord> records;
    std::size_t position = 0;
    // A field is complete only with its NUL; a record still being written is left out.
    auto next = [&](std::string& field) {
        const std::size_t end = data.find('\0', position);
        if (end == std::string::npos)
            return false;
        field.assign(data, position, end - position);
        position = end + 1;
        return true;
    };
    for (;;) {
        TRecorderRecord record;
        std::string pid, argc;
        if (!next(pid) || !next(record.WorkingDirectory) || !next(argc))
            break;
        record.Pid = static_cast<pid_t>(std::stol(pid));
        record.Arguments.resize(std::stoul(argc));
        bool complete = true;
        for (std::string& argument : record.Arguments)
            complete = complete && next(argument);
        if (!complete || !next(record.Descriptors))
            break;
        records.push_back(std::move(record));
    }
    return records;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

namespace {

// State and parent from /proc/PID/stat; false when the process is gone.
bool ReadStat(pid_t pid, char& state, pid_t& parent)
{
    std::ifstream stream("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stream, line))
        return false;
    // The name in parentheses may hold blanks and parentheses itself.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(line.substr(close + 1));
    long ppid = 0;
    rest >> state >> ppid;
    parent = static_cast<pid_t>(ppid);
    return static_cast<bool>(rest);
}

} // namespace

pid_t StartElsewhere(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return 0;
    // Only async-signal-safe calls between fork and exec.
    const pid_t middle = ::fork();
    if (middle == 0) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        (void)!::write(pipe[1], &pid, sizeof pid);
        ::_exit(0);
    }
    ::close(pipe[1]);
    pid_t pid = 0;
    if (middle > 0) {
        if (::read(pipe[0], &pid, sizeof pid) != sizeof pid)
            pid = 0;
        ::waitpid(middle, nullptr, 0);
    }
    ::close(pipe[0]);
    return pid > 0 ? pid : 0;
}

bool EndElsewhere(pid_t pid, int signal)
{
    ::kill(pid, signal);
    return WaitUntil([pid] {
        char state = 0;
        pid_t parent = 0;
        return !ReadStat(pid, state, parent) || state == 'Z';
    });
}

std::vector<pid_t> ZombieChildren()
{
    std::vector<pid_t> zombies;
    const pid_t self = ::getpid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        char state = 0;
        pid_t parent = 0;
        if (ReadStat(pid, state, parent) && parent == self && state == 'Z')
            zombies.push_back(pid);
    }
    return zombies;
}

bool IsReaped(pid_t pid)
{
    char state = 0;
    pid_t parent = 0;
    return !ReadStat(pid, state, parent) || parent != ::getpid();
}

TScopedEnvironment::TScopedEnvironment(std::string name, const std::string& value, bool unset)
    : FName(std::move(name))
{
    if (const char* old = std::getenv(FName.c_str())) {
        FHadValue = true;
        FOldValue = old;
    }
    if (unset)
        ::unsetenv(FName.c_str());
    else
        ::setenv(FName.c_str(), value.c_str(), 1);
}

TScopedEnvironment::~TScopedEnvironment()
{
    if (FHadValue)
        ::setenv(FName.c_str(), FOldValue.c_str(), 1);
    else
        ::unsetenv(FName.c_str());
}
