#include "Zel_tasks.h"

#include <QCoreApplication>
#include <QDialog>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <typeinfo>
#include <vector>

namespace {

bool OnGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

class TTestTask : public TTask {
public:
    explicit TTestTask(std::function<void(TTestTask&)> body, bool* destroyed = nullptr)
        : FBody(std::move(body)), FDestroyed(destroyed)
    {
    }
    ~TTestTask() override
    {
        if (FDestroyed)
            *FDestroyed = true;
    }
    void Execute() override { FBody(*this); }

private:
    std::function<void(TTestTask&)> FBody;
    bool* FDestroyed;
};

// Starts the task under a modal dialog, as the program does, and returns true
// once OnFinish has run; false after 20 s without it. With FreeOnFinish the
// task is gone when this returns.
bool RunModal(TTask& task)
{
    bool finished = false;
    QDialog dialog;
    task.OnFinish = [&dialog, &finished, chained = task.OnFinish](TTask& sender) {
        finished = OnGuiThread();
        dialog.accept();
        if (chained)
            chained(sender);
    };
    QTimer::singleShot(0, &dialog, [&task] { task.Start(); });
    QTimer::singleShot(20000, &dialog, [&dialog] { dialog.reject(); });
    dialog.exec();
    return finished;
}

struct TOutcome {
    std::string Kind;
    std::string Message;
    bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const TOutcome& outcome)
{
    return stream << outcome.Kind << ": " << outcome.Message;
}

} // namespace

TEST(Tasks, SynchronizeOnGuiThreadRunsDirectlyAndPassesExceptionsUnchanged)
{
    TTestTask task([](TTestTask&) {});
    bool ranHere = false;
    task.Synchronize([&] { ranHere = OnGuiThread(); });
    EXPECT_TRUE(ranHere);
    try {
        task.Synchronize([] { throw EAbort("quiet"); });
        ADD_FAILURE() << "no exception";
    } catch (const EAbort& e) {
        EXPECT_EQ(typeid(e), typeid(EAbort));
        EXPECT_EQ(e.Message(), "quiet");
    }
    try {
        task.Synchronize([] { throw Exception("loud"); });
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(typeid(e), typeid(Exception));
        EXPECT_EQ(e.Message(), "loud");
    }
    // Notifications fired on the GUI thread run at once; Cancel fires once.
    int cancels = 0;
    task.OnCancel = [&](TTask& sender) {
        EXPECT_EQ(&sender, &task);
        ++cancels;
    };
    task.Cancel();
    task.Cancel();
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(task.Cancelled);
}

TEST(Tasks, WorkerStepsRunOnGuiThreadAndFailuresComeBackWrapped)
{
    std::vector<TOutcome> outcomes;
    std::vector<std::pair<int, bool>> progress;
    int written = 0;
    TTestTask task([&](TTestTask& self) {
        self.Synchronize([&] { written = OnGuiThread() ? 42 : -1; });
        outcomes.push_back({"written", std::to_string(written)});
        auto attempt = [&](const std::function<void()>& step) {
            try {
                self.Synchronize(step);
                outcomes.push_back({"none", ""});
            } catch (const EMainThreadAbort& e) {
                outcomes.push_back({"abort", e.Message()});
            } catch (const EMainThreadException& e) {
                outcomes.push_back({"exception", e.Message()});
            } catch (...) {
                outcomes.push_back({"other", ""});
            }
        };
        attempt([] { throw EAbort("quiet"); });
        attempt([] { throw EMainThreadAbort("inner abort"); });
        attempt([] { throw Exception("loud"); });
        attempt([] { throw std::runtime_error("standard"); });
        attempt([] { throw 7; });
        attempt([] {});
        for (int i = 1; i <= 3; ++i)
            self.DoProgress(i, 3);
    });
    task.OnProgress = [&](TTask&, int position, int maximum) {
        progress.emplace_back(position * 10 + maximum, OnGuiThread());
    };
    ASSERT_TRUE(RunModal(task));
    EXPECT_EQ(outcomes, (std::vector<TOutcome>{{"written", "42"},
                                               {"abort", "quiet"},
                                               {"abort", "inner abort"},
                                               {"exception", "loud"},
                                               {"exception", "standard"},
                                               {"exception", "An unknown exception occured."},
                                               {"none", ""}}));
    EXPECT_EQ(progress, (std::vector<std::pair<int, bool>>{{13, true}, {23, true}, {33, true}}));
    EXPECT_EQ(task.Thread, nullptr);
    EXPECT_THROW(task.Start(), EInvalidOperation);
}

TEST(Tasks, FailuresLeavingExecuteReachOnExceptionUnlessSilent)
{
    struct TCase {
        std::function<void(TTestTask&)> Body;
        std::vector<TOutcome> Expected;
    };
    const TCase cases[] = {
        {[](TTestTask& self) { self.Synchronize([] { throw Exception("loud"); }); },
         {{typeid(EMainThreadException).name(), "loud"}}},
        {[](TTestTask& self) { self.Synchronize([] { throw EAbort("quiet"); }); }, {}},
        {[](TTestTask&) { throw EAbort("quiet"); }, {}},
        {[](TTestTask&) { throw std::runtime_error("standard"); },
         {{typeid(std::runtime_error).name(), "standard"}}},
        {[](TTestTask&) { throw 7; }, {{typeid(Exception).name(), "An unknown exception occured."}}},
    };
    for (const TCase& current : cases) {
        std::vector<TOutcome> reported;
        TTestTask task(current.Body);
        task.OnException = [&](TTask& sender, const std::exception& e) {
            EXPECT_EQ(&sender, &task);
            EXPECT_TRUE(OnGuiThread());
            reported.push_back({typeid(e).name(), e.what()});
            throw Exception("the handler fails too"); // swallowed
        };
        ASSERT_TRUE(RunModal(task));
        EXPECT_EQ(reported, current.Expected);
    }
}

TEST(Tasks, CancelFromEitherThreadFiresOnceOnGuiThread)
{
    int cancels = 0;
    bool cancelOnGui = false;
    bool seen = false;
    TTestTask task([&](TTestTask& self) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!self.Cancelled && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen = self.Cancelled;
        self.Cancel();
        self.Cancel();
    });
    task.OnCancel = [&](TTask&) {
        ++cancels;
        cancelOnGui = OnGuiThread();
    };
    QTimer::singleShot(10, [&] { task.Cancel(); });
    ASSERT_TRUE(RunModal(task));
    EXPECT_TRUE(seen);
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(cancelOnGui);
}

TEST(Tasks, FreeOnFinishDeletesTheTaskEvenWhenOnFinishThrows)
{
    bool destroyed = false;
    bool running = false;
    auto task = std::make_unique<TTestTask>([&](TTestTask& self) { running = self.Thread != nullptr; }, &destroyed);
    task->FreeOnFinish = true;
    task->OnFinish = [&](TTask& sender) {
        EXPECT_FALSE(destroyed);
        EXPECT_EQ(sender.Thread, nullptr);
        throw Exception("finish fails");
    };
    ASSERT_TRUE(RunModal(*task.release()));
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(running);
}
