#include "Zel_signals.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

// Every watcher hears each signal on the GUI thread, in order; the session
// manager's quit request reaches them instead of closing the windows; the
// handlers that were there before come back with the last watcher.
TEST(Zel_signals, SignalsAndTheSessionsQuitReachEveryWatcherOnTheGuiThread)
{
    struct sigaction ignored{};
    ignored.sa_handler = SIG_IGN;
    struct sigaction previous{};
    ASSERT_EQ(::sigaction(SIGHUP, &ignored, &previous), 0);
    {
        std::vector<int> first;
        std::vector<int> second;
        TSessionEndWatcher a;
        auto b = std::make_unique<TSessionEndWatcher>();
        a.OnEnd = [&](TSessionEndWatcher&, int signal) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            first.push_back(signal);
        };
        b->OnEnd = [&](TSessionEndWatcher&, int signal) { second.push_back(signal); };

        ::raise(SIGTERM);
        ::raise(SIGHUP);
        ::raise(SIGINT);
        EXPECT_TRUE(QTest::qWaitFor([&] { return second.size() == 3; }, 10000));
        EXPECT_EQ(first, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
        EXPECT_EQ(second, first);

        QWidget window;
        window.show();
        QEvent quit(QEvent::Quit);
        QSpontaneKeyEvent::setSpontaneous(&quit);
        qApp->notify(qApp, &quit);
        EXPECT_EQ(first.back(), 0);
        EXPECT_EQ(second.back(), 0);
        EXPECT_TRUE(window.isVisible()) << "the windows are left to the watchers";

        b.reset();
        ::raise(SIGTERM);
        EXPECT_TRUE(QTest::qWaitFor([&] { return first.back() == SIGTERM; }, 10000));
        EXPECT_EQ(second.size(), 4u);
    }
    struct sigaction now{};
    ASSERT_EQ(::sigaction(SIGHUP, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGHUP, &previous, nullptr);
}
