#pragma once
// Support for tests that start processes: the helper programs, the records
// the recorder helper writes, children of this process, scoped environment
// variables and a scratch directory.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// The path of a helper program built from tests/helpers/NAME_main.c(pp): a
// link to it whose name is this test process's own (NAME.PID), so that the
// process it starts is never taken for another test's copy of the same
// program, however many tests run at once.
std::string HelperPath(const std::string& name);

// One run of the recorder helper.
struct TRecorderRecord {
    pid_t Pid = 0;
    std::string WorkingDirectory;
    std::vector<std::string> Arguments; // argv, argv[0] included
    std::string Descriptors;            // its open descriptors above 2, blank-separated
};

// Every record in the recorder's output file, in the order written; none
// when the file does not exist.
std::vector<TRecorderRecord> ReadRecorderLog(const std::string& path);

// Polls condition until it holds or timeoutMs passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// Starts the program as a process that is not ours, as a copy the user
// started from the desktop is: its parent ends at once and leaves it to
// init. Its PID, 0 when it could not start.
pid_t StartElsewhere(const std::string& program, const std::vector<std::string>& arguments = {});
// Sends such a process the signal; true once it has ended.
bool EndElsewhere(pid_t pid, int signal);

// PIDs of our children that have ended but are not reaped.
std::vector<pid_t> ZombieChildren();
// True once pid is no longer an unreaped child of this process.
bool IsReaped(pid_t pid);

// Sets (or with unset, removes) an environment variable for the scope.
// Set variables only while no other thread of the test runs.
class TScopedEnvironment {
public:
    TScopedEnvironment(std::string name, const std::string& value, bool unset = false);
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;
    ~TScopedEnvironment();

private:
    std::string FName;
    bool FHadValue = false;
    std::string FOldValue;
};
