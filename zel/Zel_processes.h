#pragma once
// What Linux shows of processes through /proc: a process's name, state and
// start, also while it is a zombie that nobody has reaped yet, and this
// user's processes at one moment. Knows nothing of what they were started
// for.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// What /proc/PID/stat says of a process.
struct TProcessInfo {
    pid_t Pid = 0;
    pid_t ParentPid = 0;
    // 'R' running, 'S' sleeping, 'Z' zombie, ...
    char State = 0;
    // The kernel's name for it: the file name it last executed (a script's
    // own name, not its interpreter's), at most 15 bytes.
    std::string Name;
    // Clock ticks after boot.
    std::uint64_t StartTime = 0;
};

// False when there is no such process. A zombie answers until it is reaped,
// even though its executable and most else of it are gone.
bool ReadProcessInfo(pid_t pid, TProcessInfo& info);

// Milliseconds since the process started (0 for a start in the future).
std::int64_t ProcessAgeMs(const TProcessInfo& process);

// True when a waitpid() status tells of a normal exit with code 0.
bool ExitedWithSuccess(int waitStatus) noexcept;

// The processes that ran at one moment, kept by name, so that whether a
// program already ran then is learned without reading /proc again.
class TProcessSnapshot {
public:
    using TClock = std::chrono::steady_clock;

    // Empty; taken at the clock's epoch.
    TProcessSnapshot() = default;
    // Reads every process's /proc/PID/stat once.
    static TProcessSnapshot Take();

    TClock::time_point Taken() const noexcept { return FTaken; }

    // Another copy of the same program, of this user, that was running before
    // process started and runs now: a process of the snapshot with process's
    // name and an earlier start, checked again in /proc. A copy that this
    // program started itself, or one of its descendants did, does not count.
    // 0 when there is none.
    pid_t EarlierCopy(const TProcessInfo& process) const;

private:
    std::vector<TProcessInfo> FProcesses; // by name
    TClock::time_point FTaken;
};
