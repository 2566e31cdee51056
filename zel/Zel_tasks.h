#pragma once
// Background tasks: a body that runs on a worker thread while the user
// interface stays live. The body reaches the program's data only through
// steps it hands to the GUI thread (Synchronize), and every notification of
// a task is delivered on the GUI thread.

#include "Zel_autopointers.h"
#include "Zel_base.h"

#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <thread>

class TMainThreadMessenger;

// A step run on the GUI thread ended with a silent abort; carries its message.
class EMainThreadAbort : public EAbort {
public:
    explicit EMainThreadAbort(std::string message) : EAbort(std::move(message)) {}
};

// A step run on the GUI thread raised; carries that exception's message.
class EMainThreadException : public Exception {
public:
    using Exception::Exception;
};

// A worker thread that runs one body and then frees itself. Its end is
// announced through the GUI thread's event loop: there the thread is joined,
// the terminate notification fired and the object deleted, in that order.
class TTaskThread {
public:
    // Created suspended, on the GUI thread.
    TTaskThread();
    TTaskThread(const TTaskThread&) = delete;
    TTaskThread& operator=(const TTaskThread&) = delete;
    virtual ~TTaskThread();

    // The body, called on the worker by the run operation; cleared at construction.
    std::function<void(TTaskThread& sender)> OnExecute;
    // Fired on the GUI thread once the worker has ended.
    std::function<void(TTaskThread& sender)> OnTerminate;

    // Starts the worker and hands the object over to itself: from here on it
    // frees itself after its terminate notification. Returns it as an
    // observer that stays valid until then. Call once, on the GUI thread.
    static TTaskThread* Resume(TAutoPointer<TTaskThread> thread);

protected:
    virtual void DoTerminate();
    virtual void Execute();
    virtual void DoExecute();

private:
    void Terminated() noexcept;

    TAutoPointer<TMainThreadMessenger> FMessenger;
    std::thread FThread;
};

// A long job with an abstract body, Execute, run on a worker by Start.
// Ownership: with FreeOnFinish set the task deletes itself on the GUI thread
// right after its finish notification; the owner then must not touch it once
// OnFinish has returned. Without it, the owner deletes the task on the GUI
// thread, and never while its worker runs.
class TTask {
public:
    TTask();
    TTask(const TTask&) = delete;
    TTask& operator=(const TTask&) = delete;
    virtual ~TTask();

    // The worker, set by Start and cleared when it has ended (it frees itself).
    TTaskThread* Thread = nullptr;
    // Set once by Cancel, polled by the body.
    std::atomic<bool> Cancelled{false};
    bool FreeOnFinish = false;

    std::function<void(TTask& sender)> OnCancel;
    std::function<void(TTask& sender)> OnFinish;
    std::function<void(TTask& sender, int position, int maximum)> OnProgress;
    std::function<void(TTask& sender, const std::exception& e)> OnException;

    // The body, on the worker thread.
    virtual void Execute() = 0;
    virtual void DoCancel();
    virtual void DoFinish();
    virtual void DoProgress(int position, int maximum);
    virtual void DoException(const std::exception& e);
    // Creates and starts the worker. Once, on the GUI thread, after the
    // events and FreeOnFinish are set.
    virtual void Start();
    // Requests cancellation; either thread, any number of times. The body
    // must poll Cancelled and return.
    virtual void Cancel();
    // Runs method on the GUI thread and returns when it has run. Called on the
    // GUI thread it runs at once and its exceptions pass unchanged; from the
    // worker a failure comes back as EMainThreadAbort (for a silent abort) or
    // EMainThreadException, with the same message.
    virtual void Synchronize(const std::function<void()>& method);

private:
    void Run() noexcept;
    void Finished() noexcept;
    void RunPendingCall() noexcept;

    bool FStarted = false;

    // The step the worker waits for. Written only by the worker before it
    // posts the step and read by the GUI thread while the worker is blocked;
    // the two atomics below order those accesses.
    const std::function<void()>* FPendingCall = nullptr;
    bool FError = false;
    bool FAbort = false;
    std::string FMessage;
    std::atomic<unsigned> FPosted{0};
    std::atomic<bool> FStepRan{false};
    TAutoPointer<TMainThreadMessenger> FMessenger;
};

// True on the thread that runs the application's event loop.
bool IsMainThread();
