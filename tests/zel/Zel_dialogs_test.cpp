#include "Zel_dialogs.h"

#include "Zel_base.h"
#include "ModalDriver.h"
#include "ScriptedDialogs.h"
#include "TestGuards.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// What a driven message box looked like when it came up.
struct TSeenBox {
    QString Text;
    QString Title;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
    Qt::TextFormat Format = Qt::AutoText;
    QWidget* Parent = nullptr;
};

TModalDriver::TAction AnswerBox(TSeenBox& seen, QMessageBox::StandardButton answer)
{
    return [&seen, answer](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        ASSERT_NE(box, nullptr) << modal.metaObject()->className();
        seen.Text = box->text();
        seen.Title = box->windowTitle();
        seen.Icon = box->icon();
        seen.Buttons = box->standardButtons();
        seen.Default = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        seen.Format = box->textFormat();
        seen.Parent = box->parentWidget();
        ASSERT_NE(box->button(answer), nullptr);
        box->button(answer)->click();
    };
}

void WriteFile(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

std::string Encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

TEST(Zel_dialogs, QtMessageBoxShowsTextButtonsIconAndDefault)
{
    QWidget window;
    window.setWindowTitle("Main");
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    TSeenBox confirm;
    {
        TModalDriver driver(AnswerBox(confirm, QMessageBox::No));
        EXPECT_FALSE(ConfirmBox("Do you want to remove the documents from the list?", "Dorvane"));
        EXPECT_EQ(driver.Runs(), 1);
    }
    EXPECT_EQ(confirm.Text, "Do you want to remove the documents from the list?");
    EXPECT_EQ(confirm.Title, "Dorvane");
    EXPECT_EQ(confirm.Icon, QMessageBox::Warning);
    EXPECT_EQ(confirm.Buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(confirm.Default, QMessageBox::Yes);
    EXPECT_EQ(confirm.Parent, &window);

    // Windows line ends become plain line breaks; markup-like text stays literal.
    TSeenBox error;
    {
        TModalDriver driver(AnswerBox(error, QMessageBox::Ok));
        ShowErrorBox("The <b>file</b> is gone.\r\n\r\nTry again.", "Dorvane");
        EXPECT_EQ(driver.Runs(), 1);
    }
    EXPECT_EQ(error.Text, "The <b>file</b> is gone.\n\nTry again.");
    EXPECT_EQ(error.Icon, QMessageBox::Critical);
    EXPECT_EQ(error.Buttons, QMessageBox::Ok);
    EXPECT_EQ(error.Format, Qt::PlainText);
    // Right after the question closed: over the window all the same.
    EXPECT_EQ(error.Parent, &window);

    TSeenBox question;
    {
        TModalDriver driver(AnswerBox(question, QMessageBox::Cancel));
        EXPECT_EQ(ShowMessageBox("Save?", "Ask", TMsgDlgType::Confirmation, mbYes | mbNo | mbCancel, mbCancel),
                  TModalResult::Cancel);
    }
    EXPECT_EQ(question.Icon, QMessageBox::Question);
    EXPECT_EQ(question.Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(question.Default, QMessageBox::Cancel);

    TSeenBox information;
    {
        TModalDriver driver(AnswerBox(information, QMessageBox::Yes));
        EXPECT_TRUE(ConfirmBox("Sure?", "Dorvane"));
        driver.Then(AnswerBox(information, QMessageBox::Ok));
        ShowInformationBox("Done.", "Dorvane");
        EXPECT_EQ(driver.Runs(), 2);
    }
    EXPECT_EQ(information.Icon, QMessageBox::Information);
    EXPECT_EQ(information.Buttons, QMessageBox::Ok);
}

TEST(Zel_dialogs, QtDialogsRefuseOtherThreads)
{
    bool refused = false;
    std::thread worker([&refused] {
        try {
            ShowErrorBox("x", "y");
        } catch (const EInvalidOperation&) {
            refused = true;
        }
    });
    worker.join();
    EXPECT_TRUE(refused);
}

TEST(Zel_dialogs, OpenDialogTakesFiltersAndReturnsFullPathsAndFilter)
{
    TCurrentDirGuard cwd;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFile(dir.filePath("a.txt"));
    WriteFile(dir.filePath("b ü.txt"));
    WriteFile(dir.filePath("c.log"));

    TOpenDialogRequest request;
    request.Title = "Add Regular Files";
    request.Filter = "Text (*.txt;*.TXT)|*.txt;*.TXT|All (*.*)|*.*";
    request.FilterIndex = 2;
    request.InitialDir = Encoded(dir.path());
    request.MultiSelect = true;

    QStringList filters;
    QStringList shown;
    QString selectedFilter;
    QString directory;
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool nonNative = false;
    TModalDriver driver([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        directory = dialog->directory().absolutePath();
        mode = dialog->fileMode();
        nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
        auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(combo, nullptr);
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        selectedFilter = combo->currentText();
        dialog->selectNameFilter(filters.value(0));
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText("\"b ü.txt\" \"a.txt\"");
        static_cast<QDialog*>(dialog)->accept();
    });
    const TOpenDialogResult result = Dialogs().OpenFiles(request);

    EXPECT_EQ(title, "Add Regular Files");
    EXPECT_EQ(filters, QStringList({"Text (*.txt;*.TXT) (*.txt *.TXT)", "All (*.*) (*)"}));
    EXPECT_EQ(shown, QStringList({"Text (*.txt;*.TXT)", "All (*.*)"}));
    EXPECT_EQ(selectedFilter, "All (*.*)");
    EXPECT_EQ(directory, QDir(dir.path()).absolutePath());
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);
    EXPECT_TRUE(nonNative);

    ASSERT_TRUE(result.Accepted);
    EXPECT_EQ(result.Files, TStringDynArray({Encoded(dir.filePath("b ü.txt")), Encoded(dir.filePath("a.txt"))}));
    EXPECT_EQ(result.FilterIndex, 1);
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());
}

TEST(Zel_dialogs, OpenDialogForOneFileCancelsAndFallsBackToTheFirstFilter)
{
    TCurrentDirGuard cwd;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFile(dir.filePath("tool.sh"));

    TOpenDialogRequest request;
    request.Title = "File";
    request.Filter = "Scripts (*.sh)|*.sh|All (*.*)|*.*";
    request.FilterIndex = 7; // stored settings are not range checked
    request.FileName = Encoded(dir.filePath("tool.sh"));
    request.KeepCurrentDir = true;

    QString selectedFilter;
    QString typed;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    TModalDriver driver([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        selectedFilter = dialog->findChild<QComboBox*>("fileTypeCombo")->currentText();
        mode = dialog->fileMode();
        typed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        dialog->reject();
    });
    driver.Then([](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        static_cast<QDialog*>(dialog)->accept();
    });
    const TOpenDialogResult cancelled = Dialogs().OpenFiles(request);
    EXPECT_FALSE(cancelled.Accepted);
    EXPECT_TRUE(cancelled.Files.empty());
    EXPECT_EQ(cancelled.FilterIndex, 7);
    EXPECT_EQ(selectedFilter, "Scripts (*.sh)");
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(typed, "tool.sh");

    const TOpenDialogResult accepted = Dialogs().OpenFiles(request);
    ASSERT_TRUE(accepted.Accepted);
    EXPECT_EQ(accepted.Files, TStringDynArray({Encoded(dir.filePath("tool.sh"))}));
    EXPECT_EQ(accepted.FilterIndex, 1);
    EXPECT_NE(QDir::currentPath(), QDir(dir.path()).absolutePath());
}

TEST(Zel_dialogs, FolderBrowserStartsInTheFolderAndReturnsIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));

    TBrowseFolderRequest request;
    request.Caption = "Specify a directory.";
    request.InitialDir = Encoded(dir.filePath("sub"));

    QString title;
    QString directory;
    bool dirsOnly = false;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    TModalDriver driver([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
        mode = dialog->fileMode();
        static_cast<QDialog*>(dialog)->accept();
    });
    driver.Then([](QWidget& modal) { qobject_cast<QDialog*>(&modal)->reject(); });

    EXPECT_EQ(Dialogs().BrowseForFolder(request), std::optional<std::string>(Encoded(dir.filePath("sub"))));
    EXPECT_EQ(title, "Specify a directory.");
    EXPECT_EQ(directory, dir.filePath("sub"));
    EXPECT_TRUE(dirsOnly);
    EXPECT_EQ(mode, QFileDialog::Directory);

    EXPECT_EQ(Dialogs().BrowseForFolder(request), std::nullopt);
    EXPECT_EQ(driver.Runs(), 2);
}

TEST(Zel_dialogs, ScriptedDialogsAnswerInOrderRecordAndRestore)
{
    TDialogProvider* qt = &Dialogs();
    {
        TScriptedDialogs outer;
        {
            TScriptedDialogs dialogs;
            EXPECT_EQ(&Dialogs(), &dialogs);
            dialogs.AnswerMessageBox(TModalResult::Yes).AnswerMessageBox(TModalResult::No);
            dialogs.AnswerOpenFiles({"/nowhere/a", "/nowhere/b"}).CancelOpenFiles();
            dialogs.AnswerFolder("/tmp").CancelFolder();

            EXPECT_TRUE(ConfirmBox("First?", "Dorvane"));
            EXPECT_FALSE(ConfirmBox("Second?", "Dorvane"));
            ASSERT_EQ(dialogs.MessageBoxes.size(), 2u);
            EXPECT_EQ(dialogs.MessageBoxes[1].Text, "Second?");
            EXPECT_EQ(dialogs.MessageBoxes[1].Caption, "Dorvane");
            EXPECT_EQ(dialogs.MessageBoxes[1].Type, TMsgDlgType::Warning);
            EXPECT_EQ(dialogs.MessageBoxes[1].Buttons, unsigned(mbYes | mbNo));
            EXPECT_EQ(dialogs.MessageBoxes[1].DefaultButton, mbYes);

            TOpenDialogRequest request;
            request.Title = "Add Regular Files";
            request.FilterIndex = 3;
            const TOpenDialogResult first = Dialogs().OpenFiles(request);
            EXPECT_TRUE(first.Accepted);
            EXPECT_EQ(first.Files, TStringDynArray({"/nowhere/a", "/nowhere/b"}));
            EXPECT_EQ(first.FilterIndex, 3);
            EXPECT_FALSE(Dialogs().OpenFiles(request).Accepted);
            ASSERT_EQ(dialogs.OpenRequests.size(), 2u);
            EXPECT_EQ(dialogs.OpenRequests[0].Title, "Add Regular Files");

            EXPECT_EQ(Dialogs().BrowseForFolder({"Specify a directory.", ""}), std::optional<std::string>("/tmp"));
            EXPECT_EQ(Dialogs().BrowseForFolder({"Again", "/tmp"}), std::nullopt);
            ASSERT_EQ(dialogs.FolderRequests.size(), 2u);
            EXPECT_EQ(dialogs.FolderRequests[1].InitialDir, "/tmp");
        }
        EXPECT_EQ(&Dialogs(), &outer);
    }
    EXPECT_EQ(&Dialogs(), qt);
}

TEST(Zel_dialogs, ScriptedDialogsFailTestsThatAskTheUnexpected)
{
    EXPECT_NONFATAL_FAILURE(
        {
            TScriptedDialogs dialogs;
            EXPECT_FALSE(ConfirmBox("Unexpected?", "Dorvane"));
        },
        "Unexpected message box \"Unexpected?\"");
    EXPECT_NONFATAL_FAILURE(
        {
            TScriptedDialogs dialogs;
            EXPECT_EQ(ShowMessageBox("x", "y", TMsgDlgType::Warning, mbYes | mbNo | mbCancel, mbYes),
                      TModalResult::Cancel);
        },
        "Unexpected message box");
    EXPECT_NONFATAL_FAILURE(
        {
            TScriptedDialogs dialogs;
            dialogs.AnswerMessageBox(TModalResult::Yes);
            ShowErrorBox("Broken.", "Dorvane");
        },
        "is not a button of the box \"Broken.\"");
    EXPECT_NONFATAL_FAILURE(
        {
            TScriptedDialogs dialogs;
            dialogs.AnswerFolder("/tmp");
        },
        "never used");
    EXPECT_NONFATAL_FAILURE(
        {
            TScriptedDialogs dialogs;
            EXPECT_FALSE(Dialogs().OpenFiles(TOpenDialogRequest()).Accepted);
        },
        "Unexpected open dialog");
}
