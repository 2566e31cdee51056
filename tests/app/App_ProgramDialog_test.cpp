#include "App_ProgramDialog.h"

#include "App_programs.h"
#include "ModalDriver.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_files.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

template <typename T>
T& Control(const QWidget& dialog, const char* name)
{
    T* control = dialog.findChild<T*>(name);
    if (!control)
        throw std::runtime_error(std::string("no control ") + name);
    return *control;
}

QLineEdit& Edit(const QWidget& dialog, const char* name)
{
    return Control<QLineEdit>(dialog, name);
}

QString FocusName()
{
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

// Moves the focus into control as the user would, without checking what is left.
void FocusControl(QWidget& control)
{
    control.setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
}

// Leaves the focused control with Tab and lets the leave check run.
void PressTab()
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCoreApplication::processEvents();
}

void Retype(QLineEdit& edit, const QString& text)
{
    FocusControl(edit);
    edit.setText(text);
}

std::vector<std::string> Texts(const TScriptedDialogs& dialogs)
{
    std::vector<std::string> texts;
    for (const TMessageBoxRequest& box : dialogs.MessageBoxes)
        texts.push_back(box.Text);
    return texts;
}

// Runs Execute with steps acting on the shown, active dialog; the steps must close it.
bool RunDialog(TAppProgramDialog& dialog, std::function<void(TAppProgramDialog&)> steps)
{
    TModalDriver driver([&dialog, &steps](QWidget& modal) {
        ASSERT_EQ(&modal, &dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        steps(dialog);
    });
    const bool result = dialog.Execute();
    EXPECT_EQ(driver.Runs(), 1);
    return result;
}

class ProgramDialog : public ::testing::Test {
protected:
    TScriptedDialogs Dialogs;
    TAppProgramDialog Dialog;
};

} // namespace

TEST_F(ProgramDialog, ShowsNewProgramDefaultsAndEnablesParametersWithAFile)
{
    EXPECT_EQ(Dialog.windowTitle(), "Program");
    Dialog.Reset();
    Dialog.Entry().SetWorkingDirectory("/stale"); // Reset must replace every field
    Dialog.Reset();
    const bool accepted = RunDialog(Dialog, [](TAppProgramDialog& d) {
        EXPECT_EQ(FocusName(), "Edit11");
        EXPECT_EQ(Edit(d, "Edit11").text(), "Untitled");
        EXPECT_EQ(Edit(d, "Edit21").text(), "");
        EXPECT_EQ(Edit(d, "Edit22").text(), "\"");
        EXPECT_EQ(Edit(d, "Edit23").text(), "\"");
        EXPECT_EQ(Edit(d, "Edit24").text(), "");
        EXPECT_EQ(Control<QComboBox>(d, "ComboBox21").currentText(), "Normal");
        EXPECT_EQ(Edit(d, "Edit31").text(), "0");
        EXPECT_FALSE(Control<QCheckBox>(d, "CheckBox31").isChecked());
        const char* parameterControls[] = {"Label23", "Edit22", "Label24", "Edit23"};
        for (const char* name : parameterControls)
            EXPECT_FALSE(Control<QWidget>(d, name).isEnabled()) << name;

        QTest::keyClick(&Edit(d, "Edit11"), Qt::Key_End);
        QTest::keyClicks(&Edit(d, "Edit11"), " 1");
        FocusControl(Edit(d, "Edit21"));
        QTest::keyClicks(&Edit(d, "Edit21"), "/");
        for (const char* name : parameterControls)
            EXPECT_TRUE(Control<QWidget>(d, name).isEnabled()) << name;
        QTest::keyClick(&Edit(d, "Edit21"), Qt::Key_Backspace);
        for (const char* name : parameterControls)
            EXPECT_FALSE(Control<QWidget>(d, name).isEnabled()) << name;
        Control<QPushButton>(d, "Button1").click();
    });
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());
    const TProgramEntry& entry = Dialog.Entry();
    EXPECT_EQ(entry.DisplayName(), "Untitled 1");
    EXPECT_TRUE(entry.IsFileBlank());
    EXPECT_EQ(entry.DocumentPrefix(), "\"");
    EXPECT_EQ(entry.DocumentSuffix(), "\"");
    EXPECT_EQ(entry.WorkingDirectory(), "");
    EXPECT_EQ(entry.ShowCommand(), ShowCommandNormal);
    EXPECT_EQ(entry.OpenInterval(), 0);
    EXPECT_FALSE(entry.AutoPause());
}

TEST_F(ProgramDialog, LeavingAnInvalidFieldReportsAndTakesTheFocusBack)
{
    std::string refused = "Viewer";
    Dialog.OnValidateDisplayName = [&refused](TAppProgramDialog&, const std::string& name, bool& valid) {
        if (name == refused)
            valid = false;
    };
    Dialog.Reset();
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        struct TCase {
            const char* Control;
            QString Text;
            std::string Message;
        };
        const TCase cases[] = {
            {"Edit11", "", "Type a unique display name."},
            {"Edit11", "Viewer", "Type a unique display name."},
            {"Edit21", "bin/viewer", "Type an absolute path."},
            {"Edit24", "docs", "Type an absolute path."},
            {"Edit31", "-1", "Type an integer equal to or greater than 0."},
            {"Edit31", "ten", "Type an integer equal to or greater than 0."},
            {"Edit31", "", "Type an integer equal to or greater than 0."},
        };
        for (const TCase& c : cases) {
            Dialogs.MessageBoxes.clear();
            Retype(Edit(d, c.Control), c.Text);
            Dialogs.AnswerMessageBox(TModalResult::Ok);
            PressTab();
            EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{c.Message}) << c.Control << " " << c.Text.toStdString();
            EXPECT_EQ(FocusName(), c.Control) << c.Text.toStdString();
        }
        ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
        EXPECT_EQ(Dialogs.MessageBoxes[0].Caption, "Dorvane");
        EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);

        // A combo box without a chosen item.
        Dialogs.MessageBoxes.clear();
        auto& combo = Control<QComboBox>(d, "ComboBox21");
        FocusControl(combo);
        combo.setCurrentIndex(-1);
        Dialogs.AnswerMessageBox(TModalResult::Ok);
        PressTab();
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{"Select an item."});
        EXPECT_EQ(FocusName(), "ComboBox21");
        combo.setCurrentIndex(2);

        // Valid values pass silently, an absolute file that does not exist included;
        // Shift+Tab leaves a field as Tab does.
        Dialogs.MessageBoxes.clear();
        const std::pair<const char*, QString> valid[] = {
            {"Edit11", "Viewer 2"}, {"Edit21", "/nonexistent/viewer"}, {"Edit21", ""},
            {"Edit24", "/tmp"},     {"Edit24", ""},                    {"Edit31", "0"},
            {"Edit31", "+250"},
        };
        for (const auto& [name, text] : valid) {
            Retype(Edit(d, name), text);
            PressTab();
        }
        Retype(Edit(d, "Edit31"), "-5");
        Dialogs.AnswerMessageBox(TModalResult::Ok);
        QTest::keyClick(&Edit(d, "Edit31"), Qt::Key_Backtab);
        QCoreApplication::processEvents();
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{"Type an integer equal to or greater than 0."});
        EXPECT_EQ(FocusName(), "Edit31");
        Control<QPushButton>(d, "Button2").click();
    });
}

TEST_F(ProgramDialog, OneReportWhenTheNextFieldIsInvalidToo)
{
    Dialog.Reset();
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        // Two fields left before either check runs: the first failure drops the second check.
        Edit(d, "Edit21").setText("relative");
        Retype(Edit(d, "Edit11"), "");
        Dialogs.AnswerMessageBox(TModalResult::Ok);
        QTest::keyClick(&Edit(d, "Edit11"), Qt::Key_Tab);
        QTest::keyClick(&Edit(d, "Edit21"), Qt::Key_Tab);
        EXPECT_EQ(FocusName(), "Button21");
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{"Type a unique display name."});
        EXPECT_EQ(FocusName(), "Edit11");
        Control<QPushButton>(d, "Button2").click();
    });
}

TEST_F(ProgramDialog, ARealErrorBoxTakingTheFocusDoesNotReportAgain)
{
    QWidget owner;
    owner.show();
    owner.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&owner));
    SetDialogProvider(nullptr); // the real boxes, for this test only
    Dialog.Reset();
    QString boxText;
    TModalDriver driver([&](QWidget& modal) {
        ASSERT_EQ(&modal, &Dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Dialog));
        Retype(Edit(Dialog, "Edit31"), "x");
        QTest::keyClick(&Edit(Dialog, "Edit31"), Qt::Key_Tab);
    });
    driver
        .Then([&](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            ASSERT_NE(box, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowActive(box));
            boxText = box->text();
            box->button(QMessageBox::Ok)->click();
        })
        .Then([&](QWidget& modal) {
            // Back in the dialog, and no second box.
            ASSERT_EQ(&modal, &Dialog);
            Dialog.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&Dialog));
            EXPECT_EQ(FocusName(), "Edit31");
            Control<QPushButton>(Dialog, "Button2").click();
        });
    EXPECT_FALSE(Dialog.Execute());
    SetDialogProvider(&Dialogs);
    EXPECT_EQ(driver.Runs(), 3);
    EXPECT_EQ(boxText, "Type an integer equal to or greater than 0.");
    // Parentless, it still belongs to the window that was active.
    EXPECT_EQ(Dialog.windowHandle()->transientParent(), owner.windowHandle());
}

TEST_F(ProgramDialog, OkReportsTheFirstInvalidFieldAndKeepsTheDialogOpen)
{
    TTempDirectory temp;
    const std::string viewer = temp.WriteFile("viewer");
    Dialog.Reset();
    Dialog.Entry().SetDisplayName("Original");
    const bool accepted = RunDialog(Dialog, [&](TAppProgramDialog& d) {
        auto& ok = Control<QPushButton>(d, "Button1");
        Edit(d, "Edit11").setText("");
        Edit(d, "Edit21").setText("viewer");
        Edit(d, "Edit24").setText("docs");
        Control<QComboBox>(d, "ComboBox21").setCurrentIndex(-1);
        Edit(d, "Edit31").setText("-1");
        FocusControl(Edit(d, "Edit22"));

        struct TStep {
            std::string Message;
            const char* Focus;
            const char* Fix;
            QString FixText;
        };
        const std::string missing = "/nonexistent/viewer";
        const TStep steps[] = {
            {"Type a unique display name.", "Edit11", "Edit11", "Viewer"},
            {"Type an absolute path.", "Edit21", "Edit21", QString::fromStdString(missing)},
            {"The program cannot accept the path \"" + missing + "\".", "Edit21", "Edit21",
             QString::fromStdString(viewer + "/../viewer")},
            {"Type an absolute path.", "Edit24", "Edit24", QString::fromStdString(temp.Path())},
            {"Select an item.", "ComboBox21", nullptr, {}},
            {"Type an integer equal to or greater than 0.", "Edit31", "Edit31", "1500"},
        };
        for (const TStep& step : steps) {
            Dialogs.MessageBoxes.clear();
            Dialogs.AnswerMessageBox(TModalResult::Ok);
            ok.click();
            EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{step.Message});
            EXPECT_EQ(FocusName(), step.Focus) << step.Message;
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(d.Entry().DisplayName(), "Original");
            if (step.Fix)
                Edit(d, step.Fix).setText(step.FixText);
            else
                Control<QComboBox>(d, "ComboBox21").setCurrentIndex(2);
        }
        Control<QCheckBox>(d, "CheckBox31").setChecked(true);
        Edit(d, "Edit22").setText(" --view ");
        Edit(d, "Edit23").setText("");
        Dialogs.MessageBoxes.clear();
        // Enter in a field presses the default button.
        QTest::keyClick(&Edit(d, "Edit31"), Qt::Key_Return);
        EXPECT_TRUE(Dialogs.MessageBoxes.empty());
    });
    EXPECT_TRUE(accepted);
    const TProgramEntry& entry = Dialog.Entry();
    EXPECT_EQ(entry.DisplayName(), "Viewer");
    EXPECT_EQ(entry.File(), viewer);
    EXPECT_EQ(entry.DocumentPrefix(), " --view ");
    EXPECT_EQ(entry.DocumentSuffix(), "");
    EXPECT_EQ(entry.WorkingDirectory(), temp.Path());
    EXPECT_EQ(entry.ShowCommand(), ShowCommandMaximized);
    EXPECT_EQ(entry.OpenInterval(), 1500);
    EXPECT_TRUE(entry.AutoPause());

    // Shown again, the dialog holds the entry as confirmed, minimized included.
    Dialog.Entry().SetShowCommand(ShowCommandMinimized);
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        EXPECT_EQ(Edit(d, "Edit21").text().toStdString(), viewer);
        EXPECT_EQ(Control<QComboBox>(d, "ComboBox21").currentText(), "Minimized");
        EXPECT_TRUE(Control<QCheckBox>(d, "CheckBox31").isChecked());
        EXPECT_TRUE(Edit(d, "Edit22").isEnabled());
        EXPECT_EQ(FocusName(), "Edit11");
        Control<QPushButton>(d, "Button2").click();
    });
}

TEST_F(ProgramDialog, CancelEscapeAndCloseNeverValidate)
{
    Dialog.Reset();
    Dialog.Entry().SetDisplayName("Original");
    const std::function<void(TAppProgramDialog&)> closers[] = {
        [](TAppProgramDialog& d) {
            // A real click lets the event loop run between press and release.
            auto& cancel = Control<QPushButton>(d, "Button2");
            QTest::mousePress(&cancel, Qt::LeftButton);
            QCoreApplication::processEvents();
            QTest::mouseRelease(&cancel, Qt::LeftButton);
        },
        [](TAppProgramDialog&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); },
        [](TAppProgramDialog& d) { d.close(); },
    };
    for (const auto& close : closers) {
        const bool accepted = RunDialog(Dialog, [&close](TAppProgramDialog& d) {
            Edit(d, "Edit11").setText("");
            Edit(d, "Edit21").setText("relative");
            Retype(Edit(d, "Edit31"), "-1");
            close(d);
        });
        QCoreApplication::processEvents();
        EXPECT_FALSE(accepted);
        EXPECT_FALSE(Dialog.isVisible());
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{});
        EXPECT_EQ(Dialog.Entry().DisplayName(), "Original");
    }
}

TEST_F(ProgramDialog, AnUnsupportedWindowStateFailsBeforeShowing)
{
    Dialog.Reset();
    Dialog.Entry().SetShowCommand(2);
    TModalDriver driver([](QWidget& modal) {
        ADD_FAILURE() << "shown";
        modal.close();
    });
    try {
        Dialog.Execute();
        ADD_FAILURE() << "no error";
    } catch (const TAppProgramDialog::EInvalidValue& e) {
        EXPECT_EQ(e.Message(), "The program does not support the window state.");
    }
    EXPECT_FALSE(Dialog.isVisible());
    EXPECT_EQ(driver.Runs(), 0);
}

TEST_F(ProgramDialog, BrowseButtonsFillTheirFields)
{
    TTempDirectory temp;
    const std::string tool = temp.WriteFile("tool.sh");
    const std::string work = temp.MakeDir("work");
    const QString savedDir = QDir::currentPath();
    Dialog.Reset();
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        auto& file = Edit(d, "Edit21");
        auto& directory = Edit(d, "Edit24");
        auto& browseFile = Control<QPushButton>(d, "Button21");
        auto& browseDirectory = Control<QPushButton>(d, "Button22");

        // A relative text is refused before any dialog opens.
        Dialogs.AnswerMessageBox(TModalResult::Ok).AnswerMessageBox(TModalResult::Ok);
        file.setText("tool.sh");
        browseFile.click();
        directory.setText("work");
        browseDirectory.click();
        EXPECT_EQ(Texts(Dialogs), (std::vector<std::string>{"Type an absolute path.", "Type an absolute path."}));
        EXPECT_TRUE(Dialogs.OpenRequests.empty());
        EXPECT_TRUE(Dialogs.FolderRequests.empty());
        Dialogs.MessageBoxes.clear();

        file.setText("/old/tool");
        Dialogs.AnswerOpenFiles({tool});
        browseFile.click();
        ASSERT_EQ(Dialogs.OpenRequests.size(), 1u);
        const TOpenDialogRequest& request = Dialogs.OpenRequests[0];
        EXPECT_EQ(request.Title, "File");
        EXPECT_EQ(request.Filter,
                  "Executable files (*)|*|Shell scripts (*.sh)|*.sh|Python scripts (*.py)|*.py|All (*)|*");
        EXPECT_EQ(request.FilterIndex, 1);
        EXPECT_EQ(request.FileName, "/old/tool");
        EXPECT_FALSE(request.MultiSelect);
        EXPECT_TRUE(request.FileMustExist);
        EXPECT_EQ(file.text().toStdString(), tool);
        EXPECT_TRUE(Edit(d, "Edit22").isEnabled());

        // Cancelled: nothing changes, nothing is reported.
        Dialogs.CancelOpenFiles();
        browseFile.click();
        EXPECT_EQ(file.text().toStdString(), tool);

        Dialogs.AnswerFolder(work);
        directory.setText("/old");
        browseDirectory.click();
        ASSERT_EQ(Dialogs.FolderRequests.size(), 1u);
        EXPECT_EQ(Dialogs.FolderRequests[0].Caption, "Choose the working directory.");
        EXPECT_EQ(Dialogs.FolderRequests[0].InitialDir, "/old");
        EXPECT_EQ(directory.text().toStdString(), work);
        EXPECT_EQ(GetCurrentDir(), work);

        // A field left by clicking a browse button is checked first, and only once.
        Retype(Edit(d, "Edit31"), "-1");
        Dialogs.AnswerMessageBox(TModalResult::Ok);
        QTest::mouseClick(&browseDirectory, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{"Type an integer equal to or greater than 0."});
        EXPECT_EQ(FocusName(), "Edit31");
        EXPECT_EQ(Dialogs.FolderRequests.size(), 1u);
        Edit(d, "Edit31").setText("0");
        Dialogs.MessageBoxes.clear();
        Retype(file, "tool.sh");
        Dialogs.AnswerMessageBox(TModalResult::Ok);
        QTest::mouseClick(&browseFile, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(Texts(Dialogs), std::vector<std::string>{"Type an absolute path."});
        EXPECT_EQ(FocusName(), "Edit21");
        EXPECT_EQ(Dialogs.OpenRequests.size(), 2u);
        Dialogs.MessageBoxes.clear();

        Dialogs.CancelFolder();
        directory.setText("");
        browseDirectory.click();
        EXPECT_EQ(Dialogs.FolderRequests.back().InitialDir, "");
        EXPECT_EQ(directory.text(), "");
        EXPECT_TRUE(Dialogs.MessageBoxes.empty());
        Control<QPushButton>(d, "Button2").click();
    });
    QDir::setCurrent(savedDir);
}

TEST_F(ProgramDialog, TabOrderAndAccelerators)
{
    Dialog.Reset();
    Dialog.Entry().SetFile(QCoreApplication::applicationFilePath().toStdString());
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        QStringList order{FocusName()};
        for (int i = 0; i < 12; ++i) {
            PressTab();
            order << FocusName();
        }
        EXPECT_EQ(order, QStringList({"Edit11", "Edit21", "Button21", "Edit22", "Edit23", "Edit24", "Button22",
                                      "ComboBox21", "Edit31", "CheckBox31", "Button1", "Button2", "Edit11"}));
        const std::pair<Qt::Key, const char*> accelerators[] = {
            {Qt::Key_F, "Edit21"},     {Qt::Key_P, "Edit22"}, {Qt::Key_W, "Edit24"}, {Qt::Key_S, "ComboBox21"},
            {Qt::Key_O, "Edit31"},     {Qt::Key_D, "Edit11"}, {Qt::Key_A, "CheckBox31"},
        };
        for (const auto& [key, name] : accelerators) {
            QTest::keyClick(&d, key, Qt::AltModifier);
            QCoreApplication::processEvents();
            EXPECT_EQ(FocusName(), name);
        }
        // The check box's accelerator also clicks it, once its press animation is over.
        EXPECT_TRUE(QTest::qWaitFor([&d] { return Control<QCheckBox>(d, "CheckBox31").isChecked(); }));
        EXPECT_TRUE(Dialogs.MessageBoxes.empty());
        EXPECT_TRUE(Control<QPushButton>(d, "Button1").isDefault());
        Control<QPushButton>(d, "Button2").click();
    });
}

// Without a parent it opens over the window the user works in, and stays
// whole on the screen when that window is at the screen's edge.
TEST_F(ProgramDialog, OpensOverTheActiveWindowAndWholeOnTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget owner;
    for (const QPoint& at : {area.center() - QPoint(150, 100), area.topLeft(), area.bottomRight() - QPoint(299, 199)}) {
        owner.setGeometry(QRect(at, QSize(300, 200)));
        owner.show();
        owner.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&owner));
        Dialog.Reset();
        RunDialog(Dialog, [&](TAppProgramDialog& d) {
            const QRect placed = d.frameGeometry();
            if (area.contains(QRect(owner.frameGeometry().center() - d.rect().center(), d.size()))) {
                EXPECT_LE((placed.center() - owner.frameGeometry().center()).manhattanLength(), 2);
            }
            if (placed.width() <= area.width() && placed.height() <= area.height()) {
                EXPECT_TRUE(area.contains(placed)) << at.x() << "," << at.y();
            }
            Control<QPushButton>(d, "Button2").click();
        });
    }
}

// The form keeps its designed arrangement: every text shows in full, the
// fields of the three groups line up, the parameter row splits in thirds
// under the file box. DORVANE_SCREENSHOT_DIR, when set, receives a picture.
TEST_F(ProgramDialog, LooksAsDesigned)
{
    Dialog.setWindowTitle("Add");
    Dialog.Reset();
    RunDialog(Dialog, [&](TAppProgramDialog& d) {
        const double scale = d.logicalDpiY() / 120.0;
        EXPECT_GE(d.width(), static_cast<int>(686 * scale));
        EXPECT_GE(d.height(), static_cast<int>(416 * scale));

        for (QLabel* label : d.findChildren<QLabel*>())
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
        for (const char* name : {"Button1", "Button2", "CheckBox31"})
            EXPECT_GE(Control<QWidget>(d, name).width(), Control<QWidget>(d, name).sizeHint().width()) << name;
        for (const char* name : {"Button21", "Button22"}) {
            const auto& browse = Control<QPushButton>(d, name);
            EXPECT_GT(browse.width(), browse.fontMetrics().horizontalAdvance(browse.text())) << name;
            EXPECT_EQ(browse.height(), Edit(d, "Edit21").height()) << name;
        }
        for (QLabel* hint : {&Control<QLabel>(d, "Label22"), &Control<QLabel>(d, "Label24"), &Control<QLabel>(d, "Label26")})
            EXPECT_EQ(hint->textFormat(), Qt::PlainText);
        EXPECT_EQ(Control<QLabel>(d, "Label24").text(), "<Document>");
        EXPECT_EQ(Control<QLabel>(d, "Label24").alignment() & Qt::AlignHCenter, Qt::AlignHCenter);

        const auto rect = [&d](const char* name) {
            const QWidget& w = Control<QWidget>(d, name);
            return QRect(w.mapTo(&d, QPoint(0, 0)), w.size());
        };
        const int fieldLeft = rect("Edit21").left();
        for (const char* name : {"Edit11", "Edit22", "Edit24", "ComboBox21", "Edit31", "Label22", "Label26"})
            EXPECT_EQ(rect(name).left(), fieldLeft) << name;
        const int fieldRight = rect("Button21").right();
        for (const char* name : {"Edit11", "Edit23", "Button22", "ComboBox21", "Edit31"})
            EXPECT_EQ(rect(name).right(), fieldRight) << name;
        const QRect prefix = rect("Edit22"), document = rect("Label24"), suffix = rect("Edit23");
        EXPECT_LT(prefix.right(), document.left());
        EXPECT_LT(document.right(), suffix.left());
        EXPECT_LE(std::abs(prefix.width() - suffix.width()), 1);
        EXPECT_LE(std::abs(prefix.width() - document.width()), 1);
        EXPECT_EQ(prefix.center().y(), suffix.center().y());
        EXPECT_EQ(document.center().y(), prefix.center().y());
        for (const char* group : {"GroupBox1", "GroupBox2", "GroupBox3"})
            EXPECT_TRUE(d.rect().contains(rect(group))) << group;
        EXPECT_LT(rect("GroupBox3").bottom(), rect("Button1").top());
        EXPECT_LT(rect("Button1").right(), rect("Button2").left());

        if (const char* directory = std::getenv("DORVANE_SCREENSHOT_DIR")) {
            EXPECT_TRUE(d.grab().save(QDir(QString::fromLocal8Bit(directory)).filePath("program-dialog.png")));
        }
        Control<QPushButton>(d, "Button2").click();
    });
}
