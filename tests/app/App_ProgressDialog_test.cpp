#include "App_ProgressDialog.h"

#include "ModalDriver.h"
#include "Zel_tasks.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

// The pictures live in the application's static library.
static void InitResources()
{
    Q_INIT_RESOURCE(App_resources);
}

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QLabel& Label(QWidget& dialog, const char* name)
{
    auto* label = dialog.findChild<QLabel*>(name);
    if (!label)
        throw std::runtime_error(std::string("no label ") + name);
    return *label;
}

QPushButton& Button(QWidget& dialog, const char* name)
{
    auto* button = dialog.findChild<QPushButton*>(name);
    if (!button)
        throw std::runtime_error(std::string("no button ") + name);
    return *button;
}

QProgressBar& Bar(QWidget& dialog)
{
    return *dialog.findChild<QProgressBar*>("ProgressBar");
}

// "1", "2" or "3" for the one glyph shown; anything else lists what is shown.
std::string Glyph(QWidget& dialog)
{
    std::string shown;
    for (const char* name : {"Image1", "Image2", "Image3"})
        if (!Label(dialog, name).isHidden())
            shown += name[5];
    return shown;
}

// What the user sees of a run, in one comparable line.
std::string Display(QWidget& dialog)
{
    const QProgressBar& bar = Bar(dialog);
    return "glyph " + Glyph(dialog) + " | " + Label(dialog, "Label1").text().toStdString() + " | " +
        Label(dialog, "Label3").text().toStdString() + " | " + Label(dialog, "Label5").text().toStdString() +
        " | " + std::to_string(bar.minimum()) + ".." + std::to_string(bar.value()) + ".." +
        std::to_string(bar.maximum()) + " | pause " + (Button(dialog, "Button1").isEnabled() ? "on" : "off") +
        " resume " + (Button(dialog, "Button2").isEnabled() ? "on" : "off") + " cancel " +
        (Button(dialog, "Button3").isEnabled() ? "on" : "off");
}

// Only a sender for the handlers; never started.
class TIdleTask : public TTask {
public:
    void Execute() override {}
};

const std::string ResetDisplay = "glyph 1 |  |  |  | 0..0..100 | pause on resume off cancel on";

// Ends a dialog that a test failed to finish, so the test fails instead of hanging.
class TWatchdog {
public:
    explicit TWatchdog(TAppProgressDialog& dialog, int timeoutMs = 20000)
    {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, [&dialog] {
            ADD_FAILURE() << "the progress dialog was never finished";
            dialog.Finish();
        });
        FTimer.start(timeoutMs);
    }

private:
    QTimer FTimer;
};

TEST(AppProgressDialog, EachKindOfStatusShowsItsOwnGlyphAndPlainText)
{
    InitResources();
    TAppProgressDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Open");
    EXPECT_EQ(Display(dialog), ResetDisplay);
    EXPECT_EQ(Label(dialog, "Label2").text(), "Program:");
    EXPECT_EQ(Label(dialog, "Label4").text(), "Document:");
    EXPECT_EQ(Button(dialog, "Button1").text(), "&Pause");
    EXPECT_EQ(Button(dialog, "Button2").text(), "&Resume");
    EXPECT_EQ(Button(dialog, "Button3").text(), "Cancel");
    for (const char* name : {"Image1", "Image2", "Image3"})
        EXPECT_FALSE(Label(dialog, name).pixmap().isNull()) << name;
    // Activity is the program's own green-and-white disc, not a message sign.
    const QImage activity = QImage(":/images/activity-16.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_FALSE(activity.isNull());
    EXPECT_EQ(Label(dialog, "Image1").pixmap().toImage().convertToFormat(activity.format()), activity);

    dialog.ShowNames("Viewer", "report.dorvanetest");
    dialog.ShowNotice("Paused - resume to open the next document");
    EXPECT_EQ(Glyph(dialog), "2");
    EXPECT_EQ(Label(dialog, "Label1").text(), "Paused - resume to open the next document");
    dialog.ShowFailure("Could not open the document");
    EXPECT_EQ(Glyph(dialog), "3");
    dialog.ShowStatus("Done");
    dialog.ShowProgress(2, 3);
    EXPECT_EQ(Display(dialog), "glyph 1 | Done | Viewer | report.dorvanetest | 0..2..3 | pause on resume off cancel on");
    // A maximum below the old position, then back to the reset range.
    dialog.ShowProgress(1, 1);
    EXPECT_EQ(Bar(dialog).value(), 1);
    dialog.ResetDisplay();
    EXPECT_EQ(Display(dialog), ResetDisplay);

    // Names are files and programs, never markup or accelerators.
    dialog.ShowNames("<b>Bold</b> & co", "a&b <i>c</i>.txt");
    for (const char* name : {"Label1", "Label3", "Label5"})
        EXPECT_EQ(Label(dialog, name).textFormat(), Qt::PlainText) << name;
    EXPECT_EQ(Label(dialog, "Label3").text(), "<b>Bold</b> & co");
    EXPECT_EQ(Label(dialog, "Label5").text(), "a&b <i>c</i>.txt");
    EXPECT_EQ(Label(dialog, "Label5").buddy(), nullptr);
}

TEST(AppProgressDialog, EveryCloseIsACancelRequestUntilFinished)
{
    TAppProgressDialog dialog;
    TWatchdog watchdog(dialog);
    int cancelRequests = 0, pauses = 0, resumes = 0;
    dialog.OnCancelRequest = [&](TAppProgressDialog& sender) {
        EXPECT_EQ(&sender, &dialog);
        ++cancelRequests;
    };
    dialog.OnPause = [&](TAppProgressDialog&) { ++pauses; };
    dialog.OnResume = [&](TAppProgressDialog&) { ++resumes; };
    // What a previous run left behind.
    dialog.ShowNames("Viewer", "last.dorvanetest");
    dialog.ShowFailure("Could not open the document");
    dialog.ShowProgress(3, 3);

    std::string shown;
    TModalDriver driver([&](QWidget& modal) {
        EXPECT_EQ(&modal, &dialog);
        shown = Display(dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.close());
        EXPECT_TRUE(dialog.isVisible());
        Button(dialog, "Button3").click();
        dialog.reject();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(cancelRequests, 4);
        // Resume is disabled, so only Pause reaches the owner.
        Button(dialog, "Button2").click();
        Button(dialog, "Button1").click();
        EXPECT_EQ(pauses, 1);
        EXPECT_EQ(resumes, 0);
        // The run's end closes it, and nothing else is asked of the owner.
        QTimer::singleShot(0, &dialog, [&] { dialog.Finish(); });
    });
    EXPECT_EQ(dialog.Execute(), QDialog::Accepted);
    EXPECT_EQ(driver.Runs(), 1);
    EXPECT_EQ(shown, ResetDisplay);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(cancelRequests, 4);

    // The next run starts refusing again.
    TModalDriver again([&](QWidget&) {
        dialog.close();
        EXPECT_TRUE(dialog.isVisible());
        dialog.Finish();
    });
    EXPECT_EQ(dialog.Execute(), QDialog::Accepted);
    EXPECT_EQ(again.Runs(), 1);
    EXPECT_EQ(cancelRequests, 5);
}

TEST(AppProgressDialog, PauseAndResumeHandTheFocusToEachOther)
{
    TAppProgressDialog dialog;
    TIdleTask task;
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Button(dialog, "Button1").setFocus();

    dialog.PausedHandler(task);
    EXPECT_EQ(Display(dialog), "glyph 1 |  |  |  | 0..0..100 | pause off resume on cancel on");
    EXPECT_TRUE(Button(dialog, "Button2").hasFocus());
    dialog.PausedHandler(task);
    EXPECT_TRUE(Button(dialog, "Button2").hasFocus());
    dialog.ResumedHandler(task);
    EXPECT_EQ(Display(dialog), "glyph 1 |  |  |  | 0..0..100 | pause on resume off cancel on");
    EXPECT_TRUE(Button(dialog, "Button1").hasFocus()) << "the next Space must not land on Cancel";

    dialog.FinishHandler(task);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(AppProgressDialog, EveryRunStartsWithTheFocusOnPause)
{
    // A run ended with Cancel must not leave the focus there: the next run's
    // first Space would cancel it.
    TAppProgressDialog dialog;
    TWatchdog watchdog(dialog);
    std::vector<QWidget*> focused;
    for (int run = 0; run < 2; ++run) {
        TModalDriver driver([&](QWidget&) {
            focused.push_back(dialog.focusWidget());
            Button(dialog, "Button3").setFocus(Qt::TabFocusReason);
            dialog.Finish();
        });
        dialog.Execute();
        EXPECT_EQ(driver.Runs(), 1);
    }
    EXPECT_EQ(focused, (std::vector<QWidget*>{&Button(dialog, "Button1"), &Button(dialog, "Button1")}));
}

TEST(AppProgressDialog, AFinishBeforeTheDialogIsShownEndsItAtOnce)
{
    TAppProgressDialog dialog;
    TWatchdog watchdog(dialog);
    dialog.Finish();
    EXPECT_EQ(dialog.Execute(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());

    // Used up: the next run shows the dialog again.
    bool shown = false;
    TModalDriver driver([&](QWidget&) {
        shown = true;
        dialog.Finish();
    });
    EXPECT_EQ(dialog.Execute(), QDialog::Accepted);
    EXPECT_TRUE(shown);
}

TEST(AppProgressDialog, LongNamesAreShortenedInTheMiddleWithoutGrowingTheDialog)
{
    TAppProgressDialog dialog;
    dialog.show();
    const int width = dialog.width();
    const std::string name = "a-very-long-document-name-" + std::string(200, 'x') + "-end.dorvanetest";
    dialog.ShowNames("Viewer", name);
    QApplication::processEvents();
    const QString shown = Label(dialog, "Label5").text();
    EXPECT_LT(shown.size(), static_cast<qsizetype>(name.size()));
    EXPECT_TRUE(shown.startsWith("a-very-long")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("-end.dorvanetest")) << shown.toStdString();
    EXPECT_EQ(Label(dialog, "Label5").toolTip().toStdString(), name);
    EXPECT_EQ(dialog.width(), width);
    // A short name fits and needs no tooltip.
    dialog.ShowNames("Viewer", "short.dorvanetest");
    EXPECT_EQ(Label(dialog, "Label5").text(), "short.dorvanetest");
    EXPECT_TRUE(Label(dialog, "Label5").toolTip().isEmpty());
    dialog.Finish();
}

} // namespace

TEST(AppProgressDialog, AFailuresReasonIsALineOfItsOwnUntilTheNextStatus)
{
    InitResources();
    TAppProgressDialog dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QSize designed = dialog.size();
    QLabel& reason = Label(dialog, "Label6");

    dialog.ShowNames("Viewer", "report.dorvanetest");
    dialog.ShowFailure("Could not open the document");
    dialog.ShowFailureReason("No such file or directory");
    QApplication::processEvents();
    EXPECT_EQ(reason.text(), "No such file or directory");
    // Under the status text, not under the glyph, and the dialog grew by the line.
    EXPECT_EQ(reason.x(), Label(dialog, "Label1").x());
    EXPECT_GE(reason.y(), Label(dialog, "Label1").geometry().bottom());
    EXPECT_LT(reason.geometry().bottom(), Label(dialog, "Label3").y());
    EXPECT_EQ(dialog.width(), designed.width());
    EXPECT_GT(dialog.height(), designed.height());
    if (const char* directory = std::getenv("DORVANE_SCREENSHOT_DIR")) {
        // As a run shows it: paused after the failure.
        TIdleTask task;
        dialog.ShowProgress(2, 5);
        dialog.PausedHandler(task);
        EXPECT_TRUE(dialog.grab().save(QString::fromLocal8Bit(directory) + "/progress-dialog-failure.png"));
    }

    // A long one (GIO names the program it could not run) keeps both ends.
    const std::string longReason = "Failed to execute child process \xE2\x80\x9C/opt/" + std::string(150, 'x') +
        "/viewer\xE2\x80\x9D (No such file or directory)";
    dialog.ShowFailureReason(longReason);
    EXPECT_TRUE(reason.text().startsWith("Failed to execute")) << reason.text().toStdString();
    EXPECT_TRUE(reason.text().endsWith("(No such file or directory)")) << reason.text().toStdString();
    EXPECT_EQ(reason.toolTip().toStdString(), longReason);

    // The next status of any kind takes the line away and the dialog shrinks back.
    for (const auto show : {&TAppProgressDialog::ShowStatus, &TAppProgressDialog::ShowNotice}) {
        (dialog.*show)("Done");
        EXPECT_TRUE(reason.isHidden());
        EXPECT_EQ(dialog.size(), designed);
        dialog.ShowFailureReason("Permission denied");
    }
    dialog.Finish();
}
