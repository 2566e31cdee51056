#include "Zel_signals.h"

#include "Zel_base.h"
#include "Zel_translations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QSocketNotifier>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> EndSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, for the handler; -1 while no handler is installed.
volatile sig_atomic_t PipeWriteEnd = -1;

void SignalHandler(int number)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = ::write(PipeWriteEnd, &byte, 1);
    errno = saved;
}

} // namespace

// The one receiver of the pipe and of the session manager's requests, shared
// by every watcher; it lives while a watcher does.
class TSessionEndDispatcher : public QObject {
public:
    static std::unique_ptr<TSessionEndDispatcher> Instance;

    TSessionEndDispatcher()
    {
        if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw EInvalidOperation(Tr("The program could not watch for the signals that end it."));
        FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
        connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
        PipeWriteEnd = FPipe[1];
        struct sigaction action{};
        action.sa_handler = SignalHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < EndSignals.size(); ++i)
            ::sigaction(EndSignals[i], &action, &FPrevious[i]);
        QCoreApplication::instance()->installEventFilter(this);
#if QT_CONFIG(sessionmanager)
        if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SaveRequest(); },
                    Qt::DirectConnection);
#endif
    }

    ~TSessionEndDispatcher() override
    {
        for (std::size_t i = 0; i < EndSignals.size(); ++i)
            ::sigaction(EndSignals[i], &FPrevious[i], nullptr);
        PipeWriteEnd = -1;
        FNotifier.reset();
        ::close(FPipe[0]);
        ::close(FPipe[1]);
    }

    std::vector<TSessionEndWatcher*> Watchers;

protected:
    // The session manager's quit request arrives as a spontaneous Quit for
    // the application, which would close every window with its questions.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit && event->spontaneous()) {
            End(0);
            return true;
        }
        return false;
    }

private:
    void Drain()
    {
        unsigned char bytes[64];
        std::vector<int> received;
        while (true) {
            const ssize_t got = ::read(FPipe[0], bytes, sizeof bytes);
            if (got <= 0)
                break;
            received.insert(received.end(), bytes, bytes + got);
        }
        for (const int number : received)
            End(number);
    }

    // Each watcher that still lives when its turn comes is told.
    template <typename TCall>
    void Broadcast(TCall call)
    {
        const std::vector<TSessionEndWatcher*> watchers = Watchers;
        for (TSessionEndWatcher* watcher : watchers) {
            if (std::find(Watchers.begin(), Watchers.end(), watcher) == Watchers.end())
                continue;
            try {
                call(*watcher);
            } catch (...) {
                // The watcher's owner reports its own failures.
            }
        }
    }

    void End(int signal)
    {
        Broadcast([signal](TSessionEndWatcher& watcher) {
            if (watcher.OnEnd)
                watcher.OnEnd(watcher, signal);
        });
    }

    void SaveRequest()
    {
        Broadcast([](TSessionEndWatcher& watcher) {
            if (watcher.OnSaveRequest)
                watcher.OnSaveRequest(watcher);
        });
    }

    int FPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::array<struct sigaction, EndSignals.size()> FPrevious{};
};

std::unique_ptr<TSessionEndDispatcher> TSessionEndDispatcher::Instance;

TSessionEndWatcher::TSessionEndWatcher()
{
    if (!QCoreApplication::instance())
        throw EInvalidOperation(Tr("The program has no application object to watch for its end with."));
    if (!TSessionEndDispatcher::Instance)
        TSessionEndDispatcher::Instance = std::make_unique<TSessionEndDispatcher>();
    TSessionEndDispatcher::Instance->Watchers.push_back(this);
}

TSessionEndWatcher::~TSessionEndWatcher()
{
    std::unique_ptr<TSessionEndDispatcher>& dispatcher = TSessionEndDispatcher::Instance;
    if (!dispatcher)
        return;
    std::erase(dispatcher->Watchers, this);
    if (dispatcher->Watchers.empty())
        dispatcher.reset();
}
