#include "Zel_tasks.h"

#include "Zel_translations.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace {

const char* const UnknownExceptionMessage = TrNoop("An unknown exception occured.");

} // namespace

// A GUI-thread object that runs one action when the GUI thread's event loop
// delivers a call to it. The call is made by name and carries no arguments,
// so nothing allocated by the posting thread is touched on the GUI thread.
class TMainThreadMessenger : public QObject {
    Q_OBJECT

public:
    explicit TMainThreadMessenger(std::function<void()> action) : FAction(std::move(action))
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            throw EInvalidOperation(Tr("The program has no application object to run tasks with."));
        if (thread() != app->thread())
            moveToThread(app->thread());
    }

    // Queues the action and returns at once.
    void Post() { QMetaObject::invokeMethod(this, "Run", Qt::QueuedConnection); }
    // Queues the action and blocks until the GUI thread has run it (or has
    // discarded it because its event loop is gone).
    void Send() { QMetaObject::invokeMethod(this, "Run", Qt::BlockingQueuedConnection); }

public Q_SLOTS:
    void Run() { FAction(); }

private:
    std::function<void()> FAction;
};

bool IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// --- TTaskThread ---

TTaskThread::TTaskThread()
    : FMessenger(std::make_unique<TMainThreadMessenger>([this] { Terminated(); }))
{
}

TTaskThread::~TTaskThread()
{
    // Only reached without a delivered end notification when the application
    // goes away first; never leave a joinable std::thread behind.
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
}

TTaskThread* TTaskThread::Resume(TAutoPointer<TTaskThread> thread)
{
    TTaskThread* self = thread.get();
    self->FThread = std::thread([self] {
        try {
            self->Execute();
        } catch (...) {
        }
        self->FMessenger->Post();
    });
    // From here the thread owns itself; Terminated frees it.
    (void)thread.release();
    return self;
}

void TTaskThread::DoTerminate()
{
    if (OnTerminate)
        OnTerminate(*this);
}

void TTaskThread::Execute()
{
    DoExecute();
}

void TTaskThread::DoExecute()
{
    if (OnExecute)
        OnExecute(*this);
}

void TTaskThread::Terminated() noexcept
{
    // Take back the ownership handed over by Resume. Joining first makes
    // everything the worker did visible here and lets the notification free
    // whatever the body used.
    TAutoPointer<TTaskThread> self(this);
    if (FThread.joinable())
        FThread.join();
    try {
        DoTerminate();
    } catch (...) {
    }
}

// --- TTask ---

TTask::TTask() : FMessenger(std::make_unique<TMainThreadMessenger>([this] { RunPendingCall(); }))
{
}

TTask::~TTask() = default;

void TTask::DoCancel()
{
    if (OnCancel)
        Synchronize([this] { OnCancel(*this); });
}

void TTask::DoFinish()
{
    if (OnFinish)
        Synchronize([this] { OnFinish(*this); });
}

void TTask::DoProgress(int position, int maximum)
{
    if (OnProgress)
        Synchronize([this, position, maximum] { OnProgress(*this, position, maximum); });
}

void TTask::DoException(const std::exception& e)
{
    if (OnException)
        Synchronize([this, &e] { OnException(*this, e); });
}

void TTask::Start()
{
    if (FStarted)
        throw EInvalidOperation(Tr("The task has already been started."));
    auto thread = std::make_unique<TTaskThread>();
    thread->OnExecute = [this](TTaskThread&) { Run(); };
    thread->OnTerminate = [this](TTaskThread&) { Finished(); };
    // Thread is set before the worker starts, so the body may read it.
    FStarted = true;
    Thread = thread.get();
    try {
        TTaskThread::Resume(std::move(thread));
    } catch (...) {
        Thread = nullptr;
        FStarted = false;
        throw;
    }
}

void TTask::Cancel()
{
    // exchange: two threads cancelling at once still fire OnCancel once.
    if (Cancelled.exchange(true))
        return;
    DoCancel();
}

void TTask::Synchronize(const std::function<void()>& method)
{
    if (IsMainThread()) {
        method();
        return;
    }
    FPendingCall = &method;
    FError = false;
    FAbort = false;
    FMessage.clear();
    FStepRan.store(false, std::memory_order_relaxed);
    // Publishes the fields above to the GUI thread, which acquires FPosted.
    FPosted.fetch_add(1, std::memory_order_release);
    FMessenger->Send();
    const bool ran = FStepRan.load(std::memory_order_acquire);
    FPendingCall = nullptr;
    if (!ran)
        throw EMainThreadAbort(EAbort().Message()); // the event loop is gone
    if (FError) {
        if (FAbort)
            throw EMainThreadAbort(FMessage);
        throw EMainThreadException(FMessage);
    }
}

void TTask::RunPendingCall() noexcept
{
    (void)FPosted.load(std::memory_order_acquire);
    try {
        try {
            (*FPendingCall)();
        } catch (const EAbort& e) {
            FError = true;
            FAbort = true;
            FMessage = e.Message();
        } catch (const std::exception& e) {
            FError = true;
            FMessage = e.what();
        } catch (...) {
            FError = true;
            FMessage = Tr(UnknownExceptionMessage);
        }
    } catch (...) {
        // Copying the message failed; the error itself is still reported.
        FError = true;
    }
    FStepRan.store(true, std::memory_order_release);
}

void TTask::Run() noexcept
{
    try {
        Execute();
    } catch (const EAbort&) {
        // A silent abort ends the run quietly.
    } catch (const std::exception& e) {
        try {
            DoException(e);
        } catch (...) {
        }
    } catch (...) {
        try {
            const Exception unknown(Tr(UnknownExceptionMessage));
            DoException(unknown);
        } catch (...) {
        }
    }
}

void TTask::Finished() noexcept
{
    Thread = nullptr; // it frees itself as soon as this returns
    try {
        DoFinish();
    } catch (...) {
    }
    if (FreeOnFinish) {
        // The started task owns itself in this mode.
        TAutoPointer<TTask> self(this);
    }
}

#include "Zel_tasks.moc"
