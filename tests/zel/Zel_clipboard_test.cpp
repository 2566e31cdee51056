#include "Zel_clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

void PutOnClipboard(QMimeData* data)
{
    QGuiApplication::clipboard()->setMimeData(data);
}

// Lets any late or duplicate notification arrive before counting.
void SettleEvents()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

TEST(Zel_clipboard, WatcherNotifiesOnActivationAndOncePerChange)
{
    TClipboardWatcher watcher;
    int changes = 0;
    TClipboardWatcher* sender = nullptr;
    watcher.OnChange = [&](TClipboardWatcher& s) {
        ++changes;
        sender = &s;
    };
    EXPECT_FALSE(watcher.Active());

    watcher.SetActive(true);
    EXPECT_TRUE(watcher.Active());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sender, &watcher);
    watcher.SetActive(true);
    watcher.Activate();
    EXPECT_EQ(changes, 1);

    SetClipboardText("one");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 2; }, 5000));
    SetClipboardText("two");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 3; }, 5000));
    SettleEvents();
    EXPECT_EQ(changes, 3);

    watcher.SetActive(false);
    watcher.Deactivate();
    EXPECT_FALSE(watcher.Active());
    SetClipboardText("three");
    SettleEvents();
    EXPECT_EQ(changes, 3);

    // Reactivating joins again, with its own first notification.
    watcher.Activate();
    EXPECT_EQ(changes, 4);
    SetClipboardText("four");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 5; }, 5000));
}

TEST(Zel_clipboard, DestroyedOrFailingWatchersStayOutOfTheEventLoop)
{
    int changes = 0;
    {
        TClipboardWatcher gone;
        gone.OnChange = [&](TClipboardWatcher&) { ++changes; };
        gone.Activate();
    }
    EXPECT_EQ(changes, 1);
    SetClipboardText("after destruction");
    SettleEvents();
    EXPECT_EQ(changes, 1);

    TClipboardWatcher throwing;
    throwing.Activate();
    throwing.OnChange = [&](TClipboardWatcher&) {
        ++changes;
        throw std::runtime_error("handler failed");
    };
    EXPECT_NO_THROW(SetClipboardText("x"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 2; }, 5000));
    EXPECT_NO_THROW(SettleEvents());
    EXPECT_TRUE(throwing.Active());

    // A handler may switch its own watcher off.
    throwing.OnChange = [&](TClipboardWatcher& sender) {
        ++changes;
        sender.Deactivate();
    };
    SetClipboardText("y");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 3; }, 5000));
    EXPECT_FALSE(throwing.Active());
    SetClipboardText("z");
    SettleEvents();
    EXPECT_EQ(changes, 3);
}

TEST(Zel_clipboard, NoClipboardOutsideTheGuiThread)
{
    std::string activateError;
    std::string textError;
    bool active = true;
    std::thread worker([&] {
        TClipboardWatcher watcher;
        try {
            watcher.Activate();
        } catch (const EClipboardError& e) {
            activateError = e.Message();
        }
        active = watcher.Active();
        try {
            GetClipboardText();
        } catch (const EClipboardError& e) {
            textError = e.Message();
        }
    });
    worker.join();
    EXPECT_EQ(activateError, "The program could not add the window to the clipboard viewer chain.");
    EXPECT_FALSE(active);
    EXPECT_EQ(textError, "The program cannot access the clipboard.");
}

TEST(Zel_clipboard, TextRoundTripKeepsLineEndsAndUtf8)
{
    const std::string text = "/tmp/a b.txt\r\n/tmp/ä\xE2\x82\xAC.txt\r\n";
    SetClipboardText(text);
    EXPECT_TRUE(ClipboardHasText());
    EXPECT_EQ(GetClipboardText(), text);

    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(ClipboardHasText());
    EXPECT_EQ(GetClipboardText(), "");
    EXPECT_TRUE(GetClipboardFilePaths().empty());
}

TEST(Zel_clipboard, FilePathsComeFromLocalFileUrlsOnly)
{
    auto* data = new QMimeData;
    // This machine named as localhost is local too (RFC 8089); another host is not.
    data->setData("text/uri-list", "file:///tmp/a%20b.txt\r\nhttps://example.org/x.txt\r\n"
                                   "file://localhost/tmp/%C3%BC/c.txt\r\nfile://elsewhere/tmp/d.txt\r\n"
                                   "file:///tmp/caf%E9\r\n");
    PutOnClipboard(data);
    EXPECT_EQ(GetClipboardFilePaths(), TStringDynArray({"/tmp/a b.txt", "/tmp/\xC3\xBC/c.txt", "/tmp/caf\xE9"}));
    EXPECT_FALSE(ClipboardHasText());
    EXPECT_EQ(GetClipboardText(), "");

    SetClipboardText("/tmp/a b.txt");
    EXPECT_TRUE(GetClipboardFilePaths().empty());
}
