#pragma once
// A session bus of the test's own: a dbus-daemon that lives as long as the
// object, listening in a scratch directory, with DBUS_SESSION_BUS_ADDRESS
// pointing at it for the same time, so the program and every child it starts
// find it and nothing reaches the user's own bus. Make it while no other
// thread of the test runs.
//
// GIO's shared connection to the session bus ends the process when its bus
// goes away. While the object lives that connection is this bus's, and it is
// told not to, so ending the daemon never ends the test.

#include "ProcessTestSupport.h"
#include "TempDirectory.h"

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <string>

// Calls a monitor of the bus has seen, counted on GDBus's own thread.
struct TCallCount {
    std::atomic<unsigned> Calls{0};
    std::atomic<bool> Marked{false};
};

class TPrivateBus {
public:
    // Throws std::runtime_error when the daemon does not come up.
    TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;
    // Ends the daemon, reaps it and restores the variable.
    ~TPrivateBus();

    const std::string& Address() const noexcept { return FAddress; }
    // The process that owns the name once it is owned (0 after timeoutMs).
    pid_t WaitForOwner(const std::string& name, int timeoutMs = 10000) const;
    // True once nobody owns the name.
    bool WaitUntilUnowned(const std::string& name, int timeoutMs = 10000) const;

    // From now on counts the calls of the bus's method (one taking a name)
    // that anyone makes.
    void CountCalls(const std::string& method);
    // The calls counted so far, every one answered before this call included.
    unsigned CountedCalls() const;

private:
    TTempDirectory FRoot;
    pid_t FPid = -1;
    std::string FAddress;
    std::unique_ptr<TScopedEnvironment> FVariable;
    // GIO's shared connection, which its launcher announces launches on;
    // held as an opaque reference so that GIO stays out of this header.
    std::shared_ptr<void> FShared;
    // A monitor connection and its count; opaque for the same reason.
    std::shared_ptr<void> FMonitor;
    std::shared_ptr<TCallCount> FCount;
};
