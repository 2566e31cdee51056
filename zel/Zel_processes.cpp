#include "Zel_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Reads a small /proc file whole into buffer; its length, or -1.
ssize_t ReadSmallFile(const char* path, char* buffer, std::size_t size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    std::size_t length = 0;
    while (length < size) {
        const ssize_t count = ::read(fd, buffer + length, size - length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count < 0)
                length = 0;
            break;
        }
        length += static_cast<std::size_t>(count);
    }
    ::close(fd);
    return length > 0 ? static_cast<ssize_t>(length) : -1;
}

std::string ProcPath(pid_t pid, const char* file)
{
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// Parses a line of /proc/PID/stat. The name sits in parentheses and may
// itself hold blanks and parentheses, so the fields after it are counted
// from the last ')'.
bool ParseStat(std::string_view line, pid_t pid, TProcessInfo& info)
{
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    std::string rest(line.substr(close + 1));
    char* cursor = rest.data();
    while (*cursor == ' ')
        ++cursor;
    if (!*cursor)
        return false;
    const char state = *cursor++;
    // Fields 4 to 22: the parent is the first, the start the last.
    unsigned long long fields[19];
    for (unsigned long long& field : fields) {
        char* end = nullptr;
        errno = 0;
        field = std::strtoull(cursor, &end, 10);
        if (end == cursor || errno != 0)
            return false;
        cursor = end;
    }
    info.Pid = pid;
    info.State = state;
    info.Name.assign(line.substr(open + 1, close - open - 1));
    info.ParentPid = static_cast<pid_t>(fields[0]);
    info.StartTime = fields[18];
    return true;
}

// The real user of the process; false when it is gone.
bool ReadRealUser(pid_t pid, uid_t& uid)
{
    char buffer[4096];
    const ssize_t length = ReadSmallFile(ProcPath(pid, "status").c_str(), buffer, sizeof buffer - 1);
    if (length < 0)
        return false;
    buffer[length] = '\0';
    const char* line = std::strstr(buffer, "\nUid:");
    if (!line)
        return false;
    char* end = nullptr;
    const unsigned long value = std::strtoul(line + 5, &end, 10);
    if (end == line + 5)
        return false;
    uid = static_cast<uid_t>(value);
    return true;
}

// Whether the process is this one's descendant, by its parents in /proc.
bool IsOurs(pid_t pid)
{
    const pid_t self = ::getpid();
    TProcessInfo info;
    for (int depth = 0; pid > 1 && depth < 64 && ReadProcessInfo(pid, info); ++depth) {
        if (info.ParentPid == self)
            return true;
        pid = info.ParentPid;
    }
    return false;
}

bool ByName(const TProcessInfo& a, const TProcessInfo& b)
{
    return a.Name < b.Name;
}

struct TDirectoryCloser {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

} // namespace

bool ReadProcessInfo(pid_t pid, TProcessInfo& info)
{
    if (pid <= 0)
        return false;
    // A stat line is short: two numbers of each of 50 fields at most.
    char buffer[1024];
    const ssize_t length = ReadSmallFile(ProcPath(pid, "stat").c_str(), buffer, sizeof buffer);
    return length > 0 && ParseStat(std::string_view(buffer, static_cast<std::size_t>(length)), pid, info);
}

std::int64_t ProcessAgeMs(const TProcessInfo& process)
{
    // The start in /proc counts from boot, suspended time included.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const std::int64_t nowMs = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    const std::int64_t startMs = static_cast<std::int64_t>(process.StartTime) * 1000 / (ticks > 0 ? ticks : 100);
    return std::max<std::int64_t>(nowMs - startMs, 0);
}

bool ExitedWithSuccess(int waitStatus) noexcept
{
    return waitStatus != -1 && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

TProcessSnapshot TProcessSnapshot::Take()
{
    TProcessSnapshot snapshot;
    snapshot.FTaken = TClock::now();
    const std::unique_ptr<DIR, TDirectoryCloser> proc(::opendir("/proc"));
    if (!proc)
        return snapshot;
    TProcessInfo info;
    while (const dirent* entry = ::readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (ReadProcessInfo(static_cast<pid_t>(pid), info) && info.State != 'Z' && info.State != 'X')
            snapshot.FProcesses.push_back(info);
    }
    std::sort(snapshot.FProcesses.begin(), snapshot.FProcesses.end(), ByName);
    return snapshot;
}

pid_t TProcessSnapshot::EarlierCopy(const TProcessInfo& process) const
{
    const auto [first, last] = std::equal_range(FProcesses.begin(), FProcesses.end(), process, ByName);
    const uid_t user = ::getuid();
    for (auto candidate = first; candidate != last; ++candidate) {
        if (candidate->Pid == process.Pid || candidate->StartTime >= process.StartTime)
            continue;
        // Still the same process, alive, and the user's own.
        TProcessInfo now;
        uid_t owner = 0;
        if (ReadProcessInfo(candidate->Pid, now) && now.StartTime == candidate->StartTime
            && now.Name == candidate->Name && now.State != 'Z' && now.State != 'X'
            && ReadRealUser(candidate->Pid, owner) && owner == user && !IsOurs(candidate->Pid))
            return candidate->Pid;
    }
    return 0;
}
