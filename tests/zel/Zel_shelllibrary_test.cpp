#include "Zel_shelllibrary.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Counts the drops that reach the widget's own handler.
class TDropTarget : public QWidget {
public:
    bool TakesDrags = false; // whether its own handler accepts drags
    int OwnDrops = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (TakesDrags)
            event->acceptProposedAction();
    }

    void dropEvent(QDropEvent* event) override
    {
        ++OwnDrops;
        event->ignore();
    }
};

QMimeData* FileUrls(const QStringList& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// Sends one drag and drop the way a file manager proposes it: move, copy
// allowed. Qt delivers the drop only to a widget that accepted the drag.
bool Drop(QWidget& target, const QMimeData& data, Qt::DropAction* action = nullptr,
          Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent event(QPointF(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    event.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&target, &event);
    if (action)
        *action = event.dropAction();
    return event.isAccepted();
}

bool DragEnter(QWidget& target, const QMimeData& data)
{
    QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

} // namespace

TEST(Zel_shelllibrary, DroppedFilesReadUntilFinished)
{
    TDroppedFiles files({"/a", "/b c", "/d"});
    EXPECT_FALSE(files.IsFinished());
    EXPECT_EQ(files.Count(), 3);
    EXPECT_EQ(files.Paths(0), "/a");
    EXPECT_EQ(files.Paths(2), "/d");
    for (int index : {-1, 3}) {
        try {
            files.Paths(index);
            ADD_FAILURE() << "no error for index " << index;
        } catch (const EFileDropError& e) {
            EXPECT_EQ(e.Message(), "The program cannot get the path of a dropped file.");
        }
    }

    files.Finish();
    files.Finish();
    EXPECT_TRUE(files.IsFinished());
    // Once finished, every read says so first, whatever the index.
    for (auto read : {+[](TDroppedFiles& f) { f.Count(); }, +[](TDroppedFiles& f) { f.Paths(0); },
                      +[](TDroppedFiles& f) { f.Paths(-1); }, +[](TDroppedFiles& f) { f.Paths(3); }}) {
        try {
            read(files);
            ADD_FAILURE() << "a finished drop was readable";
        } catch (const EShellLibraryError& e) {
            EXPECT_EQ(e.Message(), "The file drop operation is already finished.");
        }
    }
}

TEST(Zel_shelllibrary, DropOfThreeFilesReachesTheHandlerAsACopy)
{
    TDropTarget target;
    TFileDropWatcher watcher(target);
    EXPECT_FALSE(watcher.Accepting());
    watcher.SetAccepting(true);
    EXPECT_TRUE(watcher.Accepting());
    EXPECT_TRUE(target.acceptDrops());

    TStringDynArray received;
    TFileDropWatcher* sender = nullptr;
    watcher.OnDrop = [&](TFileDropWatcher& s, TDroppedFiles& files, bool& handled) {
        sender = &s;
        EXPECT_FALSE(handled);
        for (int i = 0; i < files.Count(); ++i)
            received.push_back(files.Paths(i));
        handled = true;
    };

    const TAutoPointer<QMimeData> data(
        FileUrls({"/tmp/first.txt", "/tmp/with space/second", QString::fromUtf8("/tmp/dritte-ä.pdf")}));
    EXPECT_TRUE(DragEnter(target, *data));
    Qt::DropAction action = Qt::IgnoreAction;
    EXPECT_TRUE(Drop(target, *data, &action));
    EXPECT_EQ(action, Qt::CopyAction); // never a move: the source must not delete the files
    EXPECT_EQ(received,
              TStringDynArray({"/tmp/first.txt", "/tmp/with space/second", "/tmp/dritte-\xC3\xA4.pdf"}));
    EXPECT_EQ(sender, &watcher);
    EXPECT_EQ(target.OwnDrops, 0);

    // A file manager may name this machine as localhost; the paths are the same.
    received.clear();
    QMimeData localhost;
    localhost.setData("text/uri-list", "file://localhost/tmp/first.txt\r\nfile://LOCALHOST/tmp/with%20space/second\r\n");
    EXPECT_TRUE(Drop(target, localhost));
    EXPECT_EQ(received, TStringDynArray({"/tmp/first.txt", "/tmp/with space/second"}));

    // A handler may finish the drop itself after reading it.
    watcher.OnDrop = [&](TFileDropWatcher&, TDroppedFiles& files, bool& handled) {
        handled = true;
        files.Finish();
    };
    EXPECT_TRUE(Drop(target, *data));
}

TEST(Zel_shelllibrary, DropsTheWatcherDoesNotTakeReachTheWidget)
{
    TDropTarget target;
    TFileDropWatcher watcher(target);
    watcher.SetAccepting(true);
    int calls = 0;
    bool handle = false;
    watcher.OnDrop = [&](TFileDropWatcher&, TDroppedFiles&, bool& handled) {
        ++calls;
        handled = handle;
    };
    const TAutoPointer<QMimeData> files(FileUrls({"/tmp/a", "/tmp/b"}));

    // Left unhandled: the widget gets the drop.
    EXPECT_FALSE(Drop(target, *files));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(target.OwnDrops, 1);

    // Not only local files, or no files at all: refused before the handler and
    // left to the widget.
    const TAutoPointer<QMimeData> mixed(FileUrls({"/tmp/a"}));
    mixed->setUrls({QUrl::fromLocalFile("/tmp/a"), QUrl("https://example.org/b")});
    const TAutoPointer<QMimeData> text(new QMimeData);
    text->setText("/tmp/a");
    EXPECT_FALSE(DragEnter(target, *mixed));
    EXPECT_FALSE(DragEnter(target, *text));
    target.TakesDrags = true;
    EXPECT_FALSE(Drop(target, *mixed));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(target.OwnDrops, 2);
    target.TakesDrags = false;

    // A source that only offers a move is refused rather than allowed to delete the files.
    handle = true;
    EXPECT_FALSE(Drop(target, *files, nullptr, Qt::MoveAction));
    EXPECT_EQ(calls, 1);

    // Not accepting.
    watcher.SetAccepting(false);
    EXPECT_FALSE(target.acceptDrops());
    EXPECT_FALSE(DragEnter(target, *files));
    EXPECT_FALSE(Drop(target, *files));
    EXPECT_EQ(calls, 1);

    // No handler at all.
    watcher.SetAccepting(true);
    watcher.OnDrop = nullptr;
    EXPECT_FALSE(Drop(target, *files));
}

TEST(Zel_shelllibrary, HandlerErrorsAndLifetimesStayContained)
{
    TDropTarget target;
    const TAutoPointer<QMimeData> files(FileUrls({"/tmp/a"}));
    {
        TFileDropWatcher watcher(target);
        watcher.SetAccepting(true);
        watcher.OnDrop = [](TFileDropWatcher&, TDroppedFiles& dropped, bool& handled) {
            handled = true;
            EXPECT_EQ(dropped.Count(), 1);
            throw std::runtime_error("handler failed");
        };
        EXPECT_NO_THROW(EXPECT_FALSE(Drop(target, *files)));
        EXPECT_EQ(target.OwnDrops, 0);
    }
    // The watcher is gone: drops go straight to the widget.
    target.TakesDrags = true;
    EXPECT_FALSE(Drop(target, *files));
    EXPECT_EQ(target.OwnDrops, 1);

    auto widget = std::make_unique<QWidget>();
    TFileDropWatcher orphan(*widget);
    orphan.SetAccepting(true);
    widget.reset();
    try {
        orphan.Accepting();
        ADD_FAILURE() << "no error for a destroyed widget";
    } catch (const EFileDropError& e) {
        EXPECT_EQ(e.Message(), "The program could not get the property.");
    }
}
