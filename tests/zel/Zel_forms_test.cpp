#include "Zel_forms.h"

#include "TempDirectory.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

void RunPostedEvents()
{
    QCoreApplication::sendPostedEvents();
}

QRect ToQRect(const TRect& r)
{
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

} // namespace

TEST(Zel_forms, RequestsBeforeTheLoopRunsCoalesceIntoOneUpdate)
{
    TUpdateNotifier notifier;
    int updates = 0;
    notifier.OnUpdate = [&](TUpdateNotifier& sender) {
        EXPECT_EQ(&sender, &notifier);
        EXPECT_FALSE(sender.Pending()); // cleared before the update runs
        ++updates;
    };
    notifier.RequestUpdate();
    notifier.RequestUpdate();
    notifier.RequestUpdate();
    EXPECT_EQ(updates, 0); // posting does not run anything
    RunPostedEvents();
    EXPECT_EQ(updates, 1);
    RunPostedEvents();
    EXPECT_EQ(updates, 1);

    // An update that requests again schedules exactly one more.
    int chained = 0;
    notifier.OnUpdate = [&](TUpdateNotifier& sender) {
        if (++chained == 1) {
            sender.RequestUpdate();
            sender.RequestUpdate();
        }
    };
    notifier.RequestUpdate();
    RunPostedEvents();
    RunPostedEvents();
    EXPECT_EQ(chained, 2);
    EXPECT_FALSE(notifier.Pending());

    // Without a handler an update does nothing, and a throwing handler does
    // not escape into the event loop.
    notifier.OnUpdate = nullptr;
    notifier.RequestUpdate();
    RunPostedEvents();
    notifier.OnUpdate = [](TUpdateNotifier&) { throw EInvalidOperation("boom"); };
    notifier.RequestUpdate();
    EXPECT_NO_THROW(RunPostedEvents());
    EXPECT_FALSE(notifier.Pending());
}

TEST(Zel_forms, UpdateNowRunsThePendingUpdateOnceAndAtOnce)
{
    TUpdateNotifier notifier;
    int updates = 0;
    notifier.OnUpdate = [&](TUpdateNotifier&) { ++updates; };
    notifier.RequestUpdate();
    notifier.UpdateNow();
    EXPECT_EQ(updates, 1);
    RunPostedEvents();
    EXPECT_EQ(updates, 1);

    notifier.UpdateNow(); // nothing pending before: runs all the same
    EXPECT_EQ(updates, 2);
    RunPostedEvents();
    EXPECT_EQ(updates, 2);

    // A request still queued when the notifier goes is discarded with it.
    auto doomed = std::make_unique<TUpdateNotifier>();
    bool ran = false;
    doomed->OnUpdate = [&](TUpdateNotifier&) { ran = true; };
    doomed->RequestUpdate();
    doomed.reset();
    RunPostedEvents();
    EXPECT_FALSE(ran);
}

TEST(Zel_forms, NormalBoundsRoundTripExactly)
{
    QWidget form;
    form.setGeometry(40, 50, 320, 240);
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{40, 50, 360, 290}));
    const TWindowPlacement placement = GetFormPlacement(form);
    EXPECT_EQ(placement.Length, 44u);
    EXPECT_EQ(placement.ShowCmd, swShowNormal);

    SetFormNormalBounds(form, TRect{61, 72, 461, 372});
    EXPECT_EQ(form.geometry(), QRect(61, 72, 400, 300));
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{61, 72, 461, 372}));

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{61, 72, 461, 372}));

    // Saved while maximized: the restored rectangle, not the maximized one.
    form.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.isMaximized() && form.geometry().width() != 400; }));
    EXPECT_EQ(GetFormPlacement(form).ShowCmd, swShowMaximized);
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{61, 72, 461, 372}));

    // Set while maximized: the window stays maximized and returns to the new rectangle.
    SetFormNormalBounds(form, TRect{15, 25, 315, 225});
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.isMaximized() && form.geometry().width() != 300; }));
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{15, 25, 315, 225}));
    form.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isMaximized() && form.geometry() == QRect(15, 25, 300, 200); }));
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{15, 25, 315, 225}));

    // A window that is to open maximized keeps its restored rectangle too.
    QWidget next;
    next.setWindowState(Qt::WindowMaximized);
    SetFormNormalBounds(next, TRect{15, 25, 315, 225});
    EXPECT_TRUE(next.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(ToQRect(GetFormNormalBounds(next)), QRect(15, 25, 300, 200));
    next.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
    next.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return next.geometry() == QRect(15, 25, 300, 200); }));
}

TEST(Zel_forms, AWindowFirstShownMaximizedKnowsTheBoundsItReturnsTo)
{
    // The bounds are set while hidden, as the settings are loaded; the window
    // then comes up maximized without ever having shown them.
    QWidget form;
    SetFormNormalBounds(form, TRect{30, 40, 330, 240});
    form.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.isMaximized() && form.geometry().width() != 300; }));
    EXPECT_EQ(GetFormPlacement(form).ShowCmd, swShowMaximized);
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{30, 40, 330, 240}));
    form.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isMaximized() && form.geometry() == QRect(30, 40, 300, 200); }));
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{30, 40, 330, 240}));
}

TEST(Zel_forms, PlacementFailuresAndOddRectangles)
{
    QWidget form;
    QWidget* child = new QWidget(&form);
    try {
        GetFormPlacement(*child);
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "The program could not get the placement of the form.");
    }
    try {
        SetFormNormalBounds(*child, TRect{0, 0, 10, 10});
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "The program could not get the placement of the form.");
    }
    TWindowPlacement placement = GetFormPlacement(form);
    placement.Length = 40;
    try {
        SetFormPlacement(form, placement);
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "The program could not set the placement of the form.");
    }

    // Hand-edited values are applied as they are, without overflow, and an
    // inverted rectangle leaves a window that still exists on screen.
    SetFormNormalBounds(form, TRect{-5000, 20, 2147483647, 10});
    EXPECT_EQ(form.geometry().left(), -5000);
    EXPECT_GE(form.geometry().width(), 1);
    EXPECT_GE(form.geometry().height(), 1);

    // Wholly off every screen (a screen unplugged, a hand-edited file): the
    // window comes onto the nearest one, keeping the size that fits there.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    SetFormNormalBounds(form, TRect{area.right() + 5000, area.top() + 10, area.right() + 5200, area.top() + 110});
    EXPECT_EQ(form.geometry(), QRect(area.right() - 199, area.top() + 10, 200, 100));
    for (const TRect& far : {TRect{INT32_MIN, INT32_MAX, -5, 99999999}, TRect{INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX},
                             TRect{-100000, -100000, -99000, -99500}}) {
        SetFormNormalBounds(form, far);
        EXPECT_TRUE(area.contains(form.geometry())) << far.Left << " " << far.Top;
        EXPECT_GE(form.geometry().width(), 1);
    }
    EXPECT_EQ(form.geometry().size(), QSize(1000, 500).boundedTo(area.size()));
    // Its minimum size counts: an inverted rectangle below the screen still
    // brings the whole window up.
    form.setMinimumSize(300, 200);
    SetFormNormalBounds(form, TRect{0, INT32_MAX, 100, 0});
    EXPECT_TRUE(area.contains(form.geometry()));
    EXPECT_EQ(form.geometry().size(), QSize(300, 200));
}

TEST(Zel_forms, ScreenReadersSeeAFrameAndNamedComboBoxes)
{
    QWidget form;
    form.setWindowTitle("Dorvane");
    SetFormAccessibility(form); // before the controls, as a form's constructor does
    auto* named = new QComboBox(&form);
    named->setAccessibleName("Program");
    named->addItems({"Default", "Viewer"});
    named->setCurrentIndex(1);
    auto* unnamed = new QComboBox(&form);
    unnamed->addItem("Normal");
    QWidget other; // a window that was not asked for stays Qt's
    auto* plain = new QComboBox(&other);
    plain->setAccessibleName("Plain");
    plain->addItem("Item");

    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&form);
    EXPECT_EQ(frame->role(), QAccessible::Window);
    EXPECT_EQ(frame->text(QAccessible::Name), "Dorvane");
    EXPECT_NE(QAccessible::queryAccessibleInterface(&other)->role(), QAccessible::Window);

    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(named);
    EXPECT_EQ(box->role(), QAccessible::ComboBox);
    EXPECT_EQ(box->text(QAccessible::Name), "Program");
    EXPECT_EQ(box->text(QAccessible::Value), "Viewer");
    ASSERT_EQ(box->childCount(), 1);
    EXPECT_EQ(box->child(0)->object(), named->view());
    EXPECT_EQ(box->indexOfChild(box->child(0)), 0);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(unnamed)->text(QAccessible::Name), "Normal");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(plain)->text(QAccessible::Name), "Item"); // Qt's own, on Linux

    box->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    EXPECT_TRUE(named->view()->isVisible());
    EXPECT_TRUE(box->state().expanded);
    named->hidePopup();
}

TEST(Zel_forms, TheFontPreloaderEndsWhetherOrNotTheApplicationWasSaidToExist)
{
    // Never started: the thread stops after the configuration, finished
    // once or more, or simply let go.
    {
        TFontPreloader fonts;
        fonts.Finish();
        fonts.Finish();
    }
    { TFontPreloader fonts; }

    // Started: the main thread measures texts alongside it, as it would alone.
    const QString text = QStringLiteral("Documents:");
    const int expected = QFontMetrics(QGuiApplication::font()).horizontalAdvance(text);
    TFontPreloader fonts;
    fonts.Start();
    fonts.Start();
    EXPECT_EQ(QFontMetrics(QGuiApplication::font()).horizontalAdvance(text), expected);
    fonts.Finish();
    EXPECT_FALSE(QFontDatabase::families().isEmpty());
}

// Until a picture is asked for, the icon answers from the sizes it was given
// (the files need not exist yet); then it draws just as an icon the same
// pictures were added to, in every size and look.
TEST(Zel_forms, ALazyIconReadsItsPicturesOnlyWhenDrawnAndDrawsAsAnEagerOne)
{
    const TTempDirectory temp;
    const QString small = QString::fromStdString(temp / "small.png");
    const QString large = QString::fromStdString(temp / "large.png");
    const QIcon lazy = LazyPngIcon({{16, small}, {32, large}});
    EXPECT_FALSE(lazy.isNull());
    EXPECT_EQ(lazy.availableSizes(), QList<QSize>({QSize(16, 16), QSize(32, 32)}));
    EXPECT_EQ(lazy.actualSize(QSize(24, 24)), QSize(24, 24));
    EXPECT_EQ(lazy.actualSize(QSize(64, 64)), QSize(32, 32));

    QIcon eager;
    for (const auto& [path, size, colour] : {std::tuple(small, 16, Qt::red), std::tuple(large, 32, Qt::blue)}) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter(&image).fillRect(2, 2, size - 4, size / 2, colour);
        ASSERT_TRUE(image.save(path, "PNG"));
        eager.addPixmap(QPixmap::fromImage(image));
    }
    for (const int size : {8, 16, 20, 32, 48})
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Selected}) {
            EXPECT_EQ(lazy.actualSize(QSize(size, size), mode), eager.actualSize(QSize(size, size), mode)) << size;
            EXPECT_EQ(lazy.pixmap(size, mode).toImage(), eager.pixmap(size, mode).toImage()) << size << " " << mode;
        }
    QImage drawnLazy(40, 40, QImage::Format_ARGB32_Premultiplied);
    QImage drawnEager = drawnLazy;
    drawnLazy.fill(Qt::white);
    drawnEager.fill(Qt::white);
    {
        QPainter painter(&drawnLazy);
        lazy.paint(&painter, QRect(3, 5, 24, 30), Qt::AlignCenter, QIcon::Disabled);
    }
    {
        QPainter painter(&drawnEager);
        eager.paint(&painter, QRect(3, 5, 24, 30), Qt::AlignCenter, QIcon::Disabled);
    }
    EXPECT_EQ(drawnLazy, drawnEager);
}
