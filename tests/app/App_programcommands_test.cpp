#include "App_programs.h"

#include "App_ProgramDialog.h"
#include "ModalDriver.h"
#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Association launches (Explore) reach only the recorder helper.
[[maybe_unused]] testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

const char* const BuiltInName = "Default - depends on file association";
const char* const Unavailable = "The feature is unavailable.";

QLineEdit& Edit(const QWidget& dialog, const char* name)
{
    return *dialog.findChild<QLineEdit*>(name);
}

void Click(const QWidget& dialog, const char* name)
{
    dialog.findChild<QPushButton*>(name)->click();
}

// How a command ended: "done", "abort" or the message of its error.
std::string Outcome(const std::function<void()>& command)
{
    try {
        command();
        return "done";
    } catch (const EAbort&) {
        return "abort";
    } catch (const Exception& e) {
        return e.Message();
    }
}

class ProgramCommands : public testing::Test {
protected:
    ProgramCommands()
    {
        Model.OnInserted = [this](TProgramEntriesModel&, int i) { Selection.EntryInserted(i); };
        Model.OnDeleted = [this](TProgramEntriesModel&, int i) { Selection.EntryDeleted(i); };
        Model.OnCleared = [this](TProgramEntriesModel&) { Selection.EntriesCleared(); };
        Commands = std::make_unique<TProgramEntriesCommands>(Model, Selection);
    }

    // Runs command while steps act on the program dialog it shows.
    std::string WithDialog(const std::function<void()>& command,
                           const std::function<void(TAppProgramDialog&)>& steps)
    {
        TModalDriver driver([&steps](QWidget& modal) {
            ASSERT_EQ(&modal, AppProgramDialog);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&modal));
            steps(*AppProgramDialog);
        });
        const std::string outcome = Outcome(command);
        EXPECT_EQ(driver.Runs(), 1);
        return outcome;
    }

    int Add(const std::string& name, const std::string& file = std::string())
    {
        auto entry = std::make_unique<TProgramEntry>();
        entry->SetDisplayName(name);
        entry->SetFile(file);
        return Model.Add(std::move(entry));
    }

    std::string Names() const
    {
        std::string names;
        for (int i = 0; i < Model.Count(); ++i)
            names += (i ? "|" : "") + Model.Items(i)->DisplayName();
        return names;
    }

    std::string Selected() const
    {
        const int i = Selection.SelectedIndex();
        return i < 0 ? "-" : Model.Items(i)->DisplayName();
    }

    std::string Enabled() const
    {
        std::string enabled;
        const std::pair<const char*, bool> rules[] = {
            {"Add", Commands->CanAdd()},         {"Duplicate", Commands->CanDuplicate()},
            {"Delete", Commands->CanDelete()},   {"Start", Commands->CanStart()},
            {"Explore", Commands->CanExplore()}, {"Properties", Commands->CanProperties()},
        };
        for (const auto& [name, can] : rules)
            if (can)
                enabled += (enabled.empty() ? "" : " ") + std::string(name);
        return enabled;
    }

    TScriptedDialogs Dialogs;
    TTempDirectory Scratch;
    QComboBox Combo;
    TProgramEntriesModel Model;
    TProgramEntriesSelection Selection{Model, Combo};
    TAutoPointer<TProgramEntriesCommands> Commands;
};

} // namespace

TEST_F(ProgramCommands, BuiltInEntryAndEnabledRules)
{
    ASSERT_EQ(Names(), BuiltInName);
    EXPECT_EQ(Selected(), BuiltInName);
    const TProgramEntry& builtIn = *Model.Items(0);
    EXPECT_TRUE(builtIn.IsFileBlank());
    EXPECT_EQ(builtIn.DocumentPrefix(), "");
    EXPECT_EQ(builtIn.DocumentSuffix(), "");
    EXPECT_EQ(builtIn.WorkingDirectory(), "");
    EXPECT_EQ(builtIn.ShowCommand(), ShowCommandNormal);
    EXPECT_EQ(builtIn.OpenInterval(), 0);
    EXPECT_TRUE(builtIn.AutoPause());

    // Without a program file there is nothing to start or explore.
    EXPECT_EQ(Enabled(), "Add Duplicate Delete Properties");
    EXPECT_EQ(Outcome([&] { Commands->Start(); }), Unavailable);
    EXPECT_EQ(Outcome([&] { Commands->Explore(); }), Unavailable);

    Selection.SetSelectedIndex(Add("Tool", HelperPath("recorder")));
    EXPECT_EQ(Enabled(), "Add Duplicate Delete Start Explore Properties");

    // With an empty list only Add is left, and the others change nothing.
    Model.Clear();
    EXPECT_EQ(Enabled(), "Add");
    for (const auto& command : {std::function<void()>([&] { Commands->Duplicate(); }),
                                std::function<void()>([&] { Commands->Delete(); }),
                                std::function<void()>([&] { Commands->Start(); }),
                                std::function<void()>([&] { Commands->Explore(); }),
                                std::function<void()>([&] { Commands->Properties(); })})
        EXPECT_EQ(Outcome(command), Unavailable);
    EXPECT_EQ(Model.Count(), 0);
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());
}

TEST_F(ProgramCommands, AddOffersAFreeUntitledNameAndAddsWhatIsConfirmed)
{
    const std::string viewer = Scratch.WriteFile("viewer");
    EXPECT_EQ(WithDialog([&] { Commands->Add(); },
                         [&](TAppProgramDialog& d) {
                             EXPECT_EQ(d.windowTitle(), "Add");
                             EXPECT_EQ(Edit(d, "Edit11").text(), "Untitled");
                             EXPECT_EQ(Edit(d, "Edit22").text(), "\"");
                             EXPECT_FALSE(Edit(d, "Edit22").isEnabled());
                             Edit(d, "Edit21").setText(QString::fromStdString(viewer));
                             Edit(d, "Edit31").setText("300");
                             Click(d, "Button1");
                         }),
              "done");
    EXPECT_EQ(Names(), std::string(BuiltInName) + "|Untitled");
    EXPECT_EQ(Selected(), "Untitled");
    const TProgramEntry& added = *Model.Items(1);
    EXPECT_EQ(added.File(), viewer);
    EXPECT_EQ(added.DocumentPrefix(), "\"");
    EXPECT_EQ(added.DocumentSuffix(), "\"");
    EXPECT_EQ(added.OpenInterval(), 300);
    EXPECT_FALSE(added.AutoPause());

    // The next one is offered a number, starts from the defaults again, and
    // may not take a name that exists.
    EXPECT_EQ(WithDialog([&] { Commands->Add(); },
                         [&](TAppProgramDialog& d) {
                             EXPECT_EQ(Edit(d, "Edit11").text(), "Untitled (2)");
                             EXPECT_EQ(Edit(d, "Edit21").text(), "");
                             EXPECT_EQ(Edit(d, "Edit31").text(), "0");
                             Edit(d, "Edit11").setText("Untitled");
                             Dialogs.AnswerMessageBox(TModalResult::Ok);
                             Click(d, "Button1");
                             ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
                             EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "Type a unique display name.");
                             EXPECT_TRUE(d.isVisible());
                             Click(d, "Button2");
                         }),
              "abort");
    EXPECT_EQ(Names(), std::string(BuiltInName) + "|Untitled");
    EXPECT_EQ(Selected(), "Untitled");
}

TEST_F(ProgramCommands, DuplicateProposesTheNextFreeNumberAndCopiesTheRest)
{
    const std::string viewer = Scratch.WriteFile("viewer");
    const int index = Add("Viewer", viewer);
    Model.Items(index)->SetDocumentPrefix("-v \"");
    Model.Items(index)->SetWorkingDirectory("/tmp");
    Model.Items(index)->SetShowCommand(ShowCommandMaximized);
    Add("Viewer (2)");
    Selection.SetSelectedIndex(Model.IndexOfDisplayName("Viewer"));

    EXPECT_EQ(WithDialog([&] { Commands->Duplicate(); },
                         [&](TAppProgramDialog& d) {
                             EXPECT_EQ(d.windowTitle(), "Duplicate");
                             EXPECT_EQ(Edit(d, "Edit11").text(), "Viewer (3)");
                             EXPECT_EQ(Edit(d, "Edit21").text().toStdString(), viewer);
                             EXPECT_EQ(Edit(d, "Edit22").text(), "-v \"");
                             Click(d, "Button1");
                         }),
              "done");
    EXPECT_EQ(Names(), std::string(BuiltInName) + "|Viewer|Viewer (2)|Viewer (3)");
    EXPECT_EQ(Selected(), "Viewer (3)");
    const TProgramEntry& copy = *Model.Items(3);
    EXPECT_EQ(copy.File(), viewer);
    EXPECT_EQ(copy.DocumentPrefix(), "-v \"");
    EXPECT_EQ(copy.WorkingDirectory(), "/tmp");
    EXPECT_EQ(copy.ShowCommand(), ShowCommandMaximized);
    EXPECT_NE(&copy, Model.Items(1));

    // A stored window state the dialog cannot show ends the command before it opens.
    Model.Items(1)->SetShowCommand(2);
    Selection.SetSelectedIndex(1);
    EXPECT_EQ(Outcome([&] { Commands->Duplicate(); }), "The program does not support the window state.");
    EXPECT_EQ(Outcome([&] { Commands->Properties(); }), "The program does not support the window state.");
    EXPECT_EQ(Model.Count(), 4);
    EXPECT_FALSE(AppProgramDialog->isVisible());
}

TEST_F(ProgramCommands, PropertiesKeepsOrRenamesTheEntryWhichStaysSelected)
{
    for (const char* name : {"Alpha", "Beta", "Gamma"})
        Add(name);
    Selection.SetSelectedIndex(Model.IndexOfDisplayName("Alpha"));
    ASSERT_EQ(Names(), std::string("Alpha|Beta|") + BuiltInName + "|Gamma");

    // Its own name is accepted.
    EXPECT_EQ(WithDialog([&] { Commands->Properties(); },
                         [&](TAppProgramDialog& d) {
                             EXPECT_EQ(d.windowTitle(), "Properties");
                             EXPECT_EQ(Edit(d, "Edit11").text(), "Alpha");
                             Edit(d, "Edit31").setText("250");
                             Click(d, "Button1");
                         }),
              "done");
    EXPECT_EQ(Selected(), "Alpha");
    EXPECT_EQ(Model.Items(0)->OpenInterval(), 250);

    // Another entry's name is refused; a new name moves the entry to its place.
    EXPECT_EQ(WithDialog([&] { Commands->Properties(); },
                         [&](TAppProgramDialog& d) {
                             Dialogs.AnswerMessageBox(TModalResult::Ok);
                             Edit(d, "Edit11").setText("Beta");
                             Click(d, "Button1");
                             EXPECT_EQ(Dialogs.MessageBoxes.size(), 1u);
                             Edit(d, "Edit11").setText("Zulu");
                             d.findChild<QCheckBox*>("CheckBox31")->setChecked(false);
                             Click(d, "Button1");
                         }),
              "done");
    EXPECT_EQ(Names(), std::string("Beta|") + BuiltInName + "|Gamma|Zulu");
    EXPECT_EQ(Selected(), "Zulu");
    EXPECT_EQ(Model.Items(3)->OpenInterval(), 250);
    EXPECT_FALSE(Model.Items(3)->AutoPause());
    EXPECT_EQ(Combo.currentText(), "Zulu");

    // Cancelled, nothing changes.
    EXPECT_EQ(WithDialog([&] { Commands->Properties(); },
                         [&](TAppProgramDialog& d) {
                             Edit(d, "Edit11").setText("Omega");
                             Click(d, "Button2");
                         }),
              "abort");
    EXPECT_EQ(Names(), std::string("Beta|") + BuiltInName + "|Gamma|Zulu");
    EXPECT_EQ(Selected(), "Zulu");
}

TEST_F(ProgramCommands, DeleteAsksFirst)
{
    Add("Viewer");
    Selection.SetSelectedIndex(0);
    Dialogs.AnswerMessageBox(TModalResult::No);
    EXPECT_EQ(Outcome([&] { Commands->Delete(); }), "abort");
    EXPECT_EQ(Names(), std::string(BuiltInName) + "|Viewer");
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    const TMessageBoxRequest& box = Dialogs.MessageBoxes[0];
    EXPECT_EQ(box.Text, "Do you want to remove the program from the list?");
    EXPECT_EQ(box.Caption, "Dorvane");
    EXPECT_EQ(box.Type, TMsgDlgType::Warning);
    EXPECT_EQ(box.Buttons, static_cast<TMsgDlgButtons>(mbYes | mbNo));

    Dialogs.AnswerMessageBox(TModalResult::Yes);
    EXPECT_EQ(Outcome([&] { Commands->Delete(); }), "done");
    EXPECT_EQ(Names(), "Viewer");
    EXPECT_EQ(Selected(), "Viewer");
    Dialogs.AnswerMessageBox(TModalResult::Yes);
    EXPECT_EQ(Outcome([&] { Commands->Delete(); }), "done");
    EXPECT_EQ(Selected(), "-");
    EXPECT_EQ(Enabled(), "Add");
}

TEST_F(ProgramCommands, StartAndExploreGoThroughTheShell)
{
    const std::string log = Scratch / "recorder.log";
    TScopedEnvironment out("RECORDER_OUT", log);
    const std::string recorder = HelperPath("recorder");
    Selection.SetSelectedIndex(Add("Recorder", recorder));
    Model.Items(Selection.SelectedIndex())->SetDocumentPrefix("--prefix ");
    Model.Items(Selection.SelectedIndex())->SetDocumentSuffix(" --suffix");
    Model.Items(Selection.SelectedIndex())->SetWorkingDirectory(Scratch.Path());

    // Start runs the file alone, in our own directory, and does not wait for it.
    EXPECT_EQ(Outcome([&] { Commands->Start(); }), "done");
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(log).size() == 1; }));
    TRecorderRecord started = ReadRecorderLog(log)[0];
    EXPECT_EQ(started.Arguments, std::vector<std::string>{recorder});
    EXPECT_EQ(started.WorkingDirectory, GetCurrentDir());
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(started.Pid); }));

    // Explore opens the file's directory with the desktop's file manager.
    EXPECT_EQ(Outcome([&] { Commands->Explore(); }), "done");
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(log).size() == 2; }));
    const TRecorderRecord explored = ReadRecorderLog(log)[1];
    EXPECT_EQ(explored.Arguments, (std::vector<std::string>{recorder, ExtractFileDir(recorder)}));
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(explored.Pid); }));

    // A file that cannot run, and a directory that has gone.
    Scratch.MakeDir("sub");
    const std::string text = Scratch.WriteFile("sub/notes.txt", "x");
    Selection.SetSelectedIndex(Add("Notes", text));
    EXPECT_EQ(Outcome([&] { Commands->Start(); }), "The program could not start the program.");
    std::filesystem::remove_all(Scratch / "sub");
    EXPECT_EQ(Outcome([&] { Commands->Explore(); }), "The program could not explore the directory.");
    EXPECT_EQ(ReadRecorderLog(log).size(), 2u);
}
