// The main window: construction, the settings it saves and restores, the
// update cycle, the actions and their keys, header clicks, closing, and a
// failed start.
#include "App_mainform.h"

#include "App_common.h"
#include "App_documents.h"
#include "App_programs.h"

#include "IconThemes.h"
#include "ModalDriver.h"
#include "ProcessTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_files.h"
#include "Zel_forms.h"
#include "Zel_listviews.h"
#include "Zel_locations.h"
#include "Zel_shellfiles.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The icons live in the application's static library.
static void InitResources()
{
    Q_INIT_RESOURCE(App_resources);
}

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The saved file with the values that depend on the machine replaced by "*".
std::string WithoutMachineValues(const std::string& text)
{
    static const std::set<std::string> machineKeys = {"CurrentDirectory", "Left", "Top", "Right", "Bottom"};
    std::string result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && machineKeys.count(line.substr(0, equals)))
            line = line.substr(0, equals + 1) + "*" + (line.ends_with("\r\n") ? "\r\n" : "");
        result += line;
        start = end;
    }
    return result;
}

// Each test gets its own settings file, dialogs and current directory.
class MainFormTest : public testing::Test {
protected:
    MainFormTest() : FStartDirectory(GetCurrentDir())
    {
        InitResources();
        SetSettingsPathForTesting(SettingsFile());
        QApplication::clipboard()->clear();
    }

    ~MainFormTest() override
    {
        SetSettingsPathForTesting(std::string());
        SetCurrentDir(FStartDirectory);
    }

    std::string SettingsFile() const { return Temp / "Settings.ini"; }

    TAppMainForm& CreateForm()
    {
        Form = std::make_unique<TAppMainForm>();
        return *Form;
    }

    TAppMainForm& ShowForm()
    {
        TAppMainForm& form = Form ? *Form : CreateForm();
        form.show();
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
        return form;
    }

    // Runs whatever the event loop has pending, the notifier's update included.
    static void Settle() { QApplication::processEvents(); }

    QAction& Action(const char* name) const
    {
        QAction* action = Form->FindAction(name);
        EXPECT_NE(action, nullptr) << name;
        return *action;
    }

    QLabel& StatusLabel() const { return *Form->findChild<QLabel*>("Label3"); }
    QComboBox& ComboBox() const { return *Form->findChild<QComboBox*>("ComboBox1"); }

    // Paths of new files, each with as many bytes as its size says.
    TStringDynArray MakeFiles(const std::vector<std::pair<std::string, int>>& files) const
    {
        TStringDynArray paths;
        for (const auto& [name, size] : files)
            paths.push_back(Temp.WriteFile(name, std::string(static_cast<std::size_t>(size), 'x')));
        return paths;
    }

    std::vector<std::string> DocumentNames() const
    {
        std::vector<std::string> names;
        const TDocumentEntriesModel& documents = Form->DocumentEntries();
        for (int i = 0; i < documents.GetCount(); ++i)
            names.push_back(std::string(documents.GetItem(i)->Name()));
        return names;
    }

    std::map<std::string, bool> EnabledStates() const
    {
        std::map<std::string, bool> states;
        for (QAction* action : Form->Actions())
            states[action->objectName().toStdString()] = action->isEnabled();
        return states;
    }

    TTempDirectory Temp;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TAppMainForm> Form;

private:
    std::string FStartDirectory;
};

struct TActionRow {
    const char* Name;
    const char* Category;
    const char* Hint;
    const char* Caption;
    const char* Shortcut;
};

// A menu as text: one line per entry, submenus indented, "-" for a divider,
// the shortcut after a tab.
std::string MenuOutline(const QMenu& menu, const std::string& indent = std::string())
{
    std::string outline;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            outline += indent + "-\n";
            continue;
        }
        outline += indent + action->text().toStdString();
        if (!action->shortcut().isEmpty())
            outline += "\t" + action->shortcut().toString().toStdString();
        outline += "\n";
        if (action->menu())
            outline += MenuOutline(*action->menu(), indent + "  ");
    }
    return outline;
}

} // namespace

TEST_F(MainFormTest, ActionsAndMenusFollowTheDesign)
{
    TAppMainForm& form = CreateForm();
    static const TActionRow rows[] = {
        {"Action11", "Main", "Open", "Open", ""},
        {"Action121", "Main", "Dorvane help", "Dorvane &Help...", "F1"},
        {"Action122", "Main", "About Dorvane", "&About Dorvane", ""},
        {"Action21", "Program", "Add", "&Add...", "Ins"},
        {"Action22", "Program", "Delete", "D&elete...", "Del"},
        {"Action23", "Program", "Duplicate", "&Duplicate...", ""},
        {"Action24", "Program", "Start", "&Start", ""},
        {"Action25", "Program", "Explore", "&Explore", ""},
        {"Action26", "Program", "Properties", "&Properties", "F2"},
        {"Action31", "Documents", "New", "&New", "Ctrl+N"},
        {"Action321", "Documents", "Add regular files", "&Regular Files...", "Ins"},
        {"Action322", "Documents", "Add directory", "&Directory...", ""},
        {"Action323", "Documents", "Add dropped files", "Add dropped files", ""},
        {"Action33", "Documents", "Cut", "Cu&t", "Ctrl+X"},
        {"Action34", "Documents", "Copy", "&Copy", "Ctrl+C"},
        {"Action35", "Documents", "Paste", "&Paste", "Ctrl+V"},
        {"Action36", "Documents", "Delete", "D&elete", "Del"},
        {"Action37", "Documents", "Select all", "Select &All", "Ctrl+A"},
        {"Action38", "Documents", "Reverse selection", "Re&verse Selection", ""},
        {"Action3911", "Documents", "Sort by path", "&Path", ""},
        {"Action3912", "Documents", "Sort by directory", "&Directory", ""},
        {"Action3913", "Documents", "Sort by name", "&Name", ""},
        {"Action3914", "Documents", "Sort by size", "&Size", ""},
        {"Action3915", "Documents", "Sort by type", "&Type", ""},
        {"Action3916", "Documents", "Sort by last write time", "&Last Write Time", ""},
        {"Action3917", "Documents", "Sort by result", "&Result", ""},
        {"Action392", "Documents", "Reverse order", "&Reverse", ""},
        {"Action393", "Documents", "Move up", "Move &Up", ""},
        {"Action394", "Documents", "Move down", "Move &Down", ""},
        {"Action3A", "Documents", "Delete all in success", "Delete All in &Success", ""},
        {"Action3B", "Documents", "Reset result", "&Reset Result", ""},
    };
    ASSERT_EQ(form.Actions().size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const QAction& action = *form.Actions()[i];
        SCOPED_TRACE(rows[i].Name);
        EXPECT_EQ(action.objectName().toStdString(), rows[i].Name);
        EXPECT_EQ(action.property("category").toString().toStdString(), rows[i].Category);
        EXPECT_EQ(action.toolTip().toStdString(), rows[i].Hint);
        EXPECT_EQ(action.text().toStdString(), rows[i].Caption);
        EXPECT_EQ(action.shortcut().toString().toStdString(), rows[i].Shortcut);
    }

    EXPECT_EQ(MenuOutline(*form.PopupMenu1()), "&Help\n"
                                               "  Dorvane &Help...\tF1\n"
                                               "  -\n"
                                               "  &About Dorvane\n");
    EXPECT_EQ(MenuOutline(*form.PopupMenu2()), "&Add...\tIns\n"
                                               "&Duplicate...\n"
                                               "D&elete...\tDel\n"
                                               "-\n"
                                               "&Start\n"
                                               "&Explore\n"
                                               "-\n"
                                               "&Properties\tF2\n");
    EXPECT_EQ(MenuOutline(*form.PopupMenu3()), "&New\tCtrl+N\n"
                                               "A&dd\n"
                                               "  &Regular Files...\tIns\n"
                                               "  &Directory...\n"
                                               "-\n"
                                               "Cu&t\tCtrl+X\n"
                                               "&Copy\tCtrl+C\n"
                                               "&Paste\tCtrl+V\n"
                                               "D&elete\tDel\n"
                                               "-\n"
                                               "Select &All\tCtrl+A\n"
                                               "Re&verse Selection\n"
                                               "-\n"
                                               "&Order\n"
                                               "  &Sort By\n"
                                               "    &Path\n"
                                               "    &Directory\n"
                                               "    &Name\n"
                                               "    &Size\n"
                                               "    &Type\n"
                                               "    &Last Write Time\n"
                                               "    &Result\n"
                                               "  &Reverse\n"
                                               "  -\n"
                                               "  Move &Up\n"
                                               "  Move &Down\n"
                                               "-\n"
                                               "Delete All in &Success\n"
                                               "&Reset Result\n");

    // The seven tool buttons carry their actions' hints with the shortcut, also
    // after the action changes, and Open is the default button.
    const char* const buttonActions[] = {"Action31", "Action321", "Action36", "Action3A", "Action3B", "Action393", "Action394"};
    const char* const buttonTips[] = {"New (Ctrl+N)", "Add regular files (Ins)", "Delete (Del)", "Delete all in success",
                                      "Reset result", "Move up", "Move down"};
    for (int i = 0; i < 7; ++i) {
        const auto* button = form.findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(i + 1));
        ASSERT_NE(button, nullptr);
        QAction& action = Action(buttonActions[i]);
        EXPECT_EQ(button->defaultAction(), &action);
        EXPECT_EQ(button->toolTip().toStdString(), buttonTips[i]);
        action.setEnabled(!action.isEnabled());
        EXPECT_EQ(button->toolTip().toStdString(), buttonTips[i]);
    }
    const auto* open = form.findChild<QPushButton*>("Button1");
    EXPECT_EQ(open->text(), "Open");
    EXPECT_TRUE(open->isDefault());

    TVirtualListView& list = form.ListView();
    ASSERT_EQ(list.ColumnCount(), 6);
    const char* const captions[] = {"Name", "Directory", "Size", "Type", "Last write time", "Result"};
    const int widths[] = {200, 100, 100, 100, 100, 100};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list.Column(i).Caption, captions[i]);
        EXPECT_EQ(list.GetColumnWidth(i), widths[i]);
        EXPECT_EQ(list.Column(i).Alignment, i == 2 ? TAlignment::RightJustify : TAlignment::LeftJustify);
        EXPECT_EQ(list.Column(i).Elide, i == 1 ? Qt::ElideMiddle : Qt::ElideRight);
    }
    EXPECT_EQ(StatusLabel().text(), "0 items");
    EXPECT_EQ(form.windowTitle(), "Dorvane");
}

TEST_F(MainFormTest, SavesExactlyTheLayoutsSectionsAndKeys)
{
    ShowForm();
    // Nothing is written before the close.
    EXPECT_FALSE(IsExistingFile(SettingsFile()));
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(Dialogs.MessageBoxes.empty()) << "an empty list closes without a question";

    const std::string saved = ReadFile(SettingsFile());
    const std::string golden = ReadFile(DORVANE_SOURCE_DIR "/tests/app/golden/Settings.ini");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(WithoutMachineValues(saved), golden);
    // The machine's values are the real ones: the quoted directory and the window's bounds.
    const TRect bounds = GetFormNormalBounds(*Form);
    EXPECT_NE(saved.find("CurrentDirectory=\"" + GetCurrentDir() + "\"\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Left=" + std::to_string(bounds.Left) + "\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Bottom=" + std::to_string(bounds.Bottom) + "\r\n"), std::string::npos);
}

TEST_F(MainFormTest, RestartRestoresProgramsSelectionFilterBoundsAndWidths)
{
    const std::string program = Temp.WriteFile("viewer.sh", "#!/bin/sh\n");
    const std::string workDir = Temp.MakeDir("work");
    const TStringDynArray documents = MakeFiles({{"a.txt", 1}});
    {
        TAppMainForm& form = ShowForm();
        auto entry = std::make_unique<TProgramEntry>();
        entry->SetDisplayName("A viewer");
        entry->SetFile(program);
        entry->SetDocumentPrefix("--view");
        entry->SetOpenInterval(250);
        const int index = form.ProgramEntries().Add(std::move(entry));
        form.ProgramSelection().SetSelectedIndex(index);
        // The add-files dialog comes back with the third filter in use.
        Dialogs.AnswerOpenFiles(documents, 3);
        form.ExecuteAction(&Action("Action321"));
        ASSERT_EQ(form.DocumentEntries().GetCount(), 1);
        ASSERT_TRUE(SetCurrentDir(workDir));
        SetFormNormalBounds(form, TRect{40, 50, 740, 550});
        form.ListView().SetColumnWidth(0, 260);
        form.ListView().SetColumnWidth(5, 70);
        Dialogs.AnswerMessageBox(TModalResult::Yes); // the list is not all in success
        EXPECT_TRUE(form.close());
        Form.reset();
    }
    ASSERT_TRUE(SetCurrentDir("/"));

    TAppMainForm& form = ShowForm();
    ASSERT_EQ(form.ProgramEntries().Count(), 2);
    const int selected = form.ProgramSelection().SelectedIndex();
    ASSERT_GE(selected, 0);
    const TProgramEntry& entry = *form.ProgramEntries().Items(selected);
    EXPECT_EQ(entry.DisplayName(), "A viewer");
    EXPECT_EQ(entry.File(), program);
    EXPECT_EQ(entry.DocumentPrefix(), "--view");
    EXPECT_EQ(entry.OpenInterval(), 250);
    EXPECT_EQ(GetCurrentDir(), workDir);
    EXPECT_EQ(GetFormNormalBounds(form), (TRect{40, 50, 740, 550}));
    EXPECT_EQ(form.ListView().GetColumnWidth(0), 260);
    EXPECT_EQ(form.ListView().GetColumnWidth(1), 100);
    EXPECT_EQ(form.ListView().GetColumnWidth(5), 70);
    EXPECT_EQ(form.DocumentEntries().GetCount(), 0) << "documents never survive a restart";
    // The program's own actions follow the restored selection.
    EXPECT_TRUE(Action("Action24").isEnabled());

    Dialogs.CancelOpenFiles();
    form.ExecuteAction(&Action("Action321"));
    ASSERT_EQ(Dialogs.OpenRequests.size(), 2u);
    EXPECT_EQ(Dialogs.OpenRequests[1].FilterIndex, 3);
}

TEST_F(MainFormTest, UpdatesAreCoalescedAndTheStatusCountsDocumentsOrSelection)
{
    TAppMainForm& form = ShowForm();
    int updates = 0;
    TUpdateNotifier& notifier = form.UpdateNotifier();
    const auto original = notifier.OnUpdate;
    notifier.OnUpdate = [&](TUpdateNotifier& sender) {
        ++updates;
        original(sender);
    };

    // Three documents added at once come selected; many requests make one update.
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}, {"b.txt", 2}, {"c.txt", 3}}));
    for (int i = 0; i < 100; ++i)
        notifier.RequestUpdate();
    EXPECT_EQ(StatusLabel().text(), "0 items") << "nothing changes before the loop runs";
    Settle();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(StatusLabel().text(), "3 items are selected");
    Settle();
    EXPECT_EQ(updates, 1);

    form.DocumentSelection().UnselectAll();
    notifier.RequestUpdate();
    Settle();
    EXPECT_EQ(StatusLabel().text(), "3 items");

    // A click on a row is a user's change of selection: it asks for an update itself.
    TVirtualListView& list = form.ListView();
    const QRect row = list.visualRect(list.model()->index(1, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    Settle();
    EXPECT_EQ(updates, 3);
    EXPECT_EQ(StatusLabel().text(), "1 items are selected");

    // One document and nothing selected: the same plural form.
    Dialogs.AnswerMessageBox(TModalResult::Yes);
    form.ExecuteAction(&Action("Action31"));
    form.SubmitDroppedFiles(MakeFiles({{"d.txt", 4}}));
    form.DocumentSelection().UnselectAll();
    form.UpdateNotifier().UpdateNow();
    EXPECT_EQ(StatusLabel().text(), "1 items");
    notifier.OnUpdate = original;
}

TEST_F(MainFormTest, EnabledStatesForAnEmptyListOneDocumentAndASelection)
{
    TAppMainForm& form = ShowForm();
    // The built-in program is selected; it has no program file to start or explore.
    std::map<std::string, bool> expected;
    for (QAction* action : form.Actions())
        expected[action->objectName().toStdString()] = true;
    for (const char* name : {"Action11", "Action24", "Action25", "Action33", "Action34", "Action35", "Action36",
                             "Action393", "Action394", "Action3A", "Action3B"})
        expected[name] = false;
    EXPECT_EQ(EnabledStates(), expected) << "empty list";
    EXPECT_FALSE(form.findChild<QPushButton*>("Button1")->isEnabled());

    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}}));
    form.DocumentSelection().UnselectAll();
    form.UpdateNotifier().UpdateNow();
    expected["Action11"] = true;
    expected["Action3A"] = true;
    EXPECT_EQ(EnabledStates(), expected) << "one document, none selected";
    EXPECT_TRUE(form.findChild<QPushButton*>("Button1")->isEnabled());

    form.DocumentSelection().SelectAll();
    QApplication::clipboard()->setText("/no/matter\r\n");
    form.UpdateNotifier().UpdateNow();
    for (const char* name : {"Action33", "Action34", "Action35", "Action36", "Action393", "Action394", "Action3B"})
        expected[name] = true;
    EXPECT_EQ(EnabledStates(), expected) << "one document selected, text on the clipboard";

    // Without a selected program nothing can be opened, and the program actions go off.
    form.ProgramSelection().SetSelectedIndex(-1);
    form.UpdateNotifier().UpdateNow();
    for (const char* name : {"Action11", "Action22", "Action23", "Action26"})
        expected[name] = false;
    EXPECT_EQ(EnabledStates(), expected) << "no program selected";

    // A stale enabled state does not let an operation through: it reports once.
    form.DocumentSelection().UnselectAll();
    Dialogs.AnswerMessageBox(TModalResult::Ok);
    form.ExecuteAction(&Action("Action36"));
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "The feature is unavailable.");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
    EXPECT_EQ(form.DocumentEntries().GetCount(), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone after an error";
}

TEST_F(MainFormTest, KeysGoToTheControlWithTheFocus)
{
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}, {"b.txt", 2}}));
    Settle();
    TVirtualListView& list = form.ListView();
    QComboBox& combo = ComboBox();

    // Del in the combo box deletes a program (refused here), not documents.
    combo.setFocus();
    ASSERT_EQ(QApplication::focusWidget(), &combo);
    Dialogs.AnswerMessageBox(TModalResult::No);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "Do you want to remove the program from the list?");
    EXPECT_EQ(form.DocumentEntries().GetCount(), 2);
    EXPECT_EQ(form.ProgramEntries().Count(), 1);

    // Ins in the combo box opens the program dialog.
    TModalDriver driver([](QWidget& modal) {
        EXPECT_STREQ(modal.metaObject()->className(), "TAppProgramDialog");
        qobject_cast<QDialog*>(&modal)->reject();
    });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
    EXPECT_EQ(driver.Runs(), 1);
    EXPECT_EQ(form.ProgramEntries().Count(), 1);
    EXPECT_TRUE(Dialogs.OpenRequests.empty());

    // In the list, Ins asks for files and Del deletes the selected documents.
    form.activateWindow(); // the offscreen platform gives no window back after a dialog
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    list.setFocus();
    ASSERT_EQ(QApplication::focusWidget(), &list);
    Dialogs.CancelOpenFiles();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
    EXPECT_EQ(Dialogs.OpenRequests.size(), 1u);
    Dialogs.AnswerMessageBox(TModalResult::Yes);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 2u);
    EXPECT_EQ(Dialogs.MessageBoxes[1].Text, "Do you want to remove the documents from the list?");
    EXPECT_EQ(form.DocumentEntries().GetCount(), 0);
    EXPECT_EQ(form.ProgramEntries().Count(), 1);

    // Ctrl+A in the list selects every document.
    form.SubmitDroppedFiles(MakeFiles({{"c.txt", 1}, {"d.txt", 2}, {"e.txt", 3}}));
    form.DocumentSelection().UnselectAll();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(form.DocumentSelection().GetSelectedCount(), 3);
    EXPECT_EQ(StatusLabel().text(), "3 items are selected");

    // F1 asks about the help from either control; No does nothing more.
    for (QWidget* control : {static_cast<QWidget*>(&combo), static_cast<QWidget*>(&list)}) {
        control->setFocus();
        Dialogs.AnswerMessageBox(TModalResult::No);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        EXPECT_EQ(Dialogs.MessageBoxes.back().Text, "Do you want to open the offline help?");
        EXPECT_EQ(QApplication::focusWidget(), control) << "a Main action leaves the focus alone";
    }
    EXPECT_EQ(Dialogs.MessageBoxes.size(), 4u);
}

TEST_F(MainFormTest, ShiftF10OpensTheFocusedControlsMenu)
{
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}}));
    Settle();
    // The menu a key opens, closed again at once; nullptr when none opens.
    const auto menuOf = [](QWidget& control) {
        control.setFocus();
        QPointer<QWidget> opened;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                opened = popup;
                popup->close();
            }
        });
        poll.start(10);
        QTest::keyClick(&control, Qt::Key_F10, Qt::ShiftModifier);
        return opened.data();
    };
    EXPECT_EQ(menuOf(form.ListView()), form.PopupMenu3());
    EXPECT_EQ(menuOf(ComboBox()), form.PopupMenu2());
    // A control without a menu of its own passes the key to the window's.
    EXPECT_EQ(menuOf(*form.findChild<QPushButton*>("Button1")), form.PopupMenu1());
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());
}

TEST_F(MainFormTest, OperationsRunBusyWithTheFocusOfTheirCategory)
{
    // The scripted box sees what the user would see while the question is up.
    class TObservingDialogs : public TScriptedDialogs {
    public:
        TModalResult MessageBox(const TMessageBoxRequest& request) override
        {
            const QCursor* cursor = QApplication::overrideCursor();
            BusyDuringBox.push_back(cursor && cursor->shape() == Qt::WaitCursor);
            FocusDuringBox.push_back(QApplication::focusWidget());
            return TScriptedDialogs::MessageBox(request);
        }
        std::vector<bool> BusyDuringBox;
        std::vector<QWidget*> FocusDuringBox;
    };
    TObservingDialogs dialogs;
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}}));
    Settle();

    ComboBox().setFocus();
    dialogs.AnswerMessageBox(TModalResult::No);
    form.ExecuteAction(&Action("Action36")); // a document action from the combo box
    dialogs.AnswerMessageBox(TModalResult::No);
    form.ExecuteAction(&Action("Action22")); // a program action from the list
    ASSERT_EQ(dialogs.MessageBoxes.size(), 2u);
    EXPECT_EQ(dialogs.BusyDuringBox, (std::vector<bool>{true, true}));
    EXPECT_EQ(dialogs.FocusDuringBox, (std::vector<QWidget*>{&form.ListView(), &ComboBox()}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.DocumentEntries().GetCount(), 1);
}

TEST_F(MainFormTest, EnterOpensTheDocumentsThroughTheProgressDialog)
{
    TScopedEnvironment out("RECORDER_OUT", Temp / "recorder.log");
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "150"); // the dialog stays up long enough to be seen
    // The run's progress goes to no desktop the tests may run in.
    TScopedEnvironment noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (Temp / "no-bus"));
    TAppMainForm& form = ShowForm();
    auto entry = std::make_unique<TProgramEntry>();
    entry->SetDisplayName("Viewer");
    entry->SetFile(HelperPath("recorder"));
    entry->SetAutoPause(false);
    form.ProgramSelection().SetSelectedIndex(form.ProgramEntries().Add(std::move(entry)));
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}, {"b.txt", 2}}));
    Settle();
    ASSERT_TRUE(Action("Action11").isEnabled());

    // The dialog waits for the user with the ordinary cursor, not the busy one.
    std::string modalClass;
    Qt::CursorShape cursorDuringRun = Qt::WaitCursor;
    TModalDriver driver([&](QWidget& modal) {
        modalClass = modal.metaObject()->className();
        const QCursor* cursor = QApplication::overrideCursor();
        cursorDuringRun = cursor ? cursor->shape() : Qt::ArrowCursor;
    }, 30000);
    form.ListView().setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    EXPECT_EQ(driver.Runs(), 1);
    EXPECT_EQ(modalClass, "TAppProgressDialog");
    EXPECT_EQ(cursorDuringRun, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ReadRecorderLog(Temp / "recorder.log").size(), 2u);
    const TDocumentEntriesModel& documents = form.DocumentEntries();
    EXPECT_EQ(documents.CountOfResult(TDocumentEntryResult::Success), 2);
    EXPECT_EQ(form.ListView().model()->data(form.ListView().model()->index(1, 5)).toString(), "Success");
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());

    // Every document succeeded: the window closes without a question.
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); }));
}

TEST_F(MainFormTest, HeaderClickSortsWithTheListFocused)
{
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 300}, {"b.txt", 100}, {"c.txt", 200}}));
    Settle();
    ComboBox().setFocus();

    TVirtualListView& list = form.ListView();
    QHeaderView& header = *list.header();
    const QPoint size(header.sectionViewportPosition(2) + header.sectionSize(2) / 2, header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, size);
    EXPECT_EQ(DocumentNames(), (std::vector<std::string>{"b.txt", "c.txt", "a.txt"}));
    EXPECT_EQ(QApplication::focusWidget(), &list);

    const QPoint name(header.sectionViewportPosition(0) + 20, header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, name);
    EXPECT_EQ(DocumentNames(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));

    // The rows show the documents' texts and images.
    const QAbstractItemModel& model = *list.model();
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "a.txt");
    EXPECT_EQ(model.data(model.index(0, 1)).toString().toStdString(), Temp.Path());
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "300");
    EXPECT_EQ(model.data(model.index(0, 5)).toString(), "None");
}

TEST_F(MainFormTest, CommandLineIsAddedOnceAtTheFirstIdleAndDropsAreAdded)
{
    const TStringDynArray files = MakeFiles({{"a.txt", 1}, {"b b.txt", 2}});
    // A relative argument means the directory the program was started in.
    ASSERT_TRUE(SetCurrentDir(Temp.Path()));
    CreateForm().SetCommandLine({files[0], "b b.txt"});
    EXPECT_EQ(Form->DocumentEntries().GetCount(), 0);
    ShowForm();
    Settle();
    EXPECT_EQ(DocumentNames(), (std::vector<std::string>{"a.txt", "b b.txt"}));
    Settle();
    EXPECT_EQ(Form->DocumentEntries().GetCount(), 2);

    // A refused path reports once and adds nothing.
    Dialogs.AnswerMessageBox(TModalResult::Ok);
    Form->SubmitDroppedFiles({Temp / "missing.txt"});
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
    EXPECT_EQ(Form->DocumentEntries().GetCount(), 2);

    // Files dropped onto the window are added like the command line.
    const TStringDynArray dropped = MakeFiles({{"c.txt", 3}});
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped[0]))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &drop);
    EXPECT_EQ(DocumentNames(), (std::vector<std::string>{"a.txt", "b b.txt", "c.txt"}));
}

TEST_F(MainFormTest, CloseAsksUnlessAllSucceededAndNoKeepsEverything)
{
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}, {"b.txt", 2}}));
    Settle();

    Dialogs.AnswerMessageBox(TModalResult::No);
    EXPECT_FALSE(form.close());
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "Do you want to remove all the documents from the list?");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Warning);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.DocumentEntries().GetCount(), 2);
    EXPECT_FALSE(IsExistingFile(SettingsFile())) << "a refused close saves nothing";

    // Every document in success: no question.
    TDocumentEntriesModel& documents = form.DocumentEntries();
    documents.GetItem(0)->SetResult(TDocumentEntryResult::Success);
    documents.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    documents.NotifyChanged({0, 1});
    EXPECT_TRUE(form.close());
    EXPECT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(documents.GetCount(), 0);
    EXPECT_TRUE(IsExistingFile(SettingsFile()));
}

TEST_F(MainFormTest, AFailedSaveReportsAndKeepsTheWindowOpen)
{
    TAppMainForm& form = ShowForm();
    SetSettingsPathForTesting(Temp.WriteFile("plain") + "/Settings.ini");
    Dialogs.AnswerMessageBox(TModalResult::Ok);
    EXPECT_FALSE(form.close());
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
    EXPECT_TRUE(form.isVisible());

    SetSettingsPathForTesting(SettingsFile());
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(IsExistingFile(SettingsFile()));
}

TEST_F(MainFormTest, UnquotedCurrentDirectoryFailsTheStartWithOneErrorAndSavesNothing)
{
    const std::string text = "[System]\r\nCurrentDirectory=/tmp\r\n\r\n[MainForm.BoundsRect]\r\nLeft=10\r\n";
    Temp.WriteFile("Settings.ini", text);
    Dialogs.AnswerMessageBox(TModalResult::Ok);
    // As the entry point does: the failure is shown, the window never is.
    bool constructed = false;
    try {
        TAppMainForm form;
        constructed = true;
    } catch (...) {
        HandleCurrentException();
    }
    EXPECT_FALSE(constructed);
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "The program cannot dequote the string.");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Caption, "Dorvane");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
    EXPECT_EQ(ReadFile(SettingsFile()), text);
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TAppMainForm*>(widget), nullptr) << "the form is gone";
    Settle(); // nothing of the freed form may still run
}

// A row shows its type's picture from the icon theme; where the theme has
// none, the page or the folder.
TEST_F(MainFormTest, RowsShowTheirTypesPictureFromTheIconTheme)
{
    QTemporaryDir themes;
    MakeIconTheme(themes.path(), "mt", {{"text-x-generic", Qt::blue}});
    const TIconThemeGuard theme(themes.path(), "mt");
    SharedFileTypeCache().Clear(); // no entry exists yet to hold on to it
    TAppMainForm& form = ShowForm();
    form.SubmitDroppedFiles(MakeFiles({{"a.txt", 1}, {"b.zzq", 2}}));
    form.SubmitDroppedFiles({Temp.MakeDir("folder"), Temp.WriteFile("c.csv")});
    Settle();

    TVirtualListView& list = form.ListView();
    const auto imageIndex = [&](int row) {
        TListItem item;
        list.OnData(list, row, item);
        return item.ImageIndex;
    };
    EXPECT_GE(imageIndex(0), 2);
    EXPECT_EQ(imageIndex(1), 0);
    EXPECT_EQ(imageIndex(2), 1);
    EXPECT_EQ(imageIndex(3), imageIndex(0)); // one picture for every kind of text
    // The row's picture, right of its state image, is the theme's.
    const QIcon decoration = qvariant_cast<QIcon>(list.model()->index(3, 0).data(Qt::DecorationRole));
    EXPECT_EQ(decoration.pixmap(QSize(32, 16)).toImage().pixelColor(24, 8), QColor(Qt::blue));
    Dialogs.AnswerMessageBox(TModalResult::Yes);
    form.close();
}

TEST_F(MainFormTest, TheDefaultProgramsThemeIconArrivesOnceTheWindowShowsInTheSameSpace)
{
    const auto shownKey = [this] {
        const TProgramEntry* entry = TProgramEntriesSelection::ItemEntry(ComboBox(), 0);
        EXPECT_EQ(ComboBox().itemIcon(0).cacheKey(), entry->Icon().cacheKey());
        EXPECT_FALSE(entry->Icon().isNull());
        return entry->Icon().cacheKey();
    };
    CreateForm();
    const QSize sizeBeforeShow = ComboBox().sizeHint();
    const qint64 placeholder = shownKey();
    ShowForm();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownKey() != placeholder; }));
    // The icon every new entry gets from the theme.
    EXPECT_EQ(shownKey(), TProgramEntry().Icon().cacheKey());
    EXPECT_EQ(ComboBox().sizeHint(), sizeBeforeShow);
}

// With DORVANE_SCREENSHOT_DIR set, the look of the window is saved there,
// under a real icon theme.
TEST_F(MainFormTest, Screenshots)
{
    const char* directory = std::getenv("DORVANE_SCREENSHOT_DIR");
    if (!directory)
        GTEST_SKIP() << "DORVANE_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QFile::exists("/usr/share/icons/Adwaita/index.theme")) << "adwaita-icon-theme is missing: scripts/setup";
    const QDir target(QString::fromLocal8Bit(directory));
    // The offscreen platform knows no desktop, so the theme is named here.
    const TIconThemeGuard theme("/usr/share/icons", "Adwaita");
    SharedFileTypeCache().Clear();
    TAppMainForm& form = ShowForm();
    form.UpdateNotifier().UpdateNow();
    EXPECT_TRUE(form.grab().save(target.filePath("main-window-empty.png")));

    std::vector<std::pair<std::string, int>> files;
    const char* const names[] = {"Annual report", "Budget", "Contract draft", "Delivery notes", "Expenses",
                                 "Floor plan", "Glossary", "Handbook", "Invoice 2041", "Journal",
                                 "Keynote", "Letter to the board", "Minutes", "Newsletter", "Offer",
                                 "Price list", "Quarterly figures", "Roadmap", "Schedule", "Timesheet"};
    const char* const extensions[] = {".pdf", ".ods", ".odt", ".txt", ".csv"};
    for (int i = 0; i < 20; ++i)
        files.push_back({std::string(names[i]) + extensions[i % 5], 1200 + i * 7919 % 90000});
    TStringDynArray paths = MakeFiles(files);
    paths.push_back(Temp.MakeDir("Archive"));
    form.SubmitDroppedFiles(paths);
    TDocumentEntriesModel& documents = form.DocumentEntries();
    TIntegerDynArray all;
    for (int i = 0; i < documents.GetCount(); ++i) {
        all.push_back(i);
        documents.GetItem(i)->SetResult(i < 14 ? (i % 6 == 4 ? TDocumentEntryResult::Failure : TDocumentEntryResult::Success)
                                               : TDocumentEntryResult::None);
    }
    documents.NotifyChanged(all);
    form.DocumentSelection().UnselectAll();
    SetListViewItemSelected(form.ListView(), 4, true);
    SetListViewItemFocused(form.ListView(), 4, true);
    form.ListView().setFocus();
    // Widened by the user so that every row and column shows whole.
    for (int column : {1, 3, 4})
        form.ListView().SetColumnWidth(column, -2);
    form.resize(form.ListView().header()->length() + 40, 520);
    Settle();
    EnsureListViewItemVisible(form.ListView(), 0, false);
    form.UpdateNotifier().UpdateNow();
    Settle();
    EXPECT_TRUE(form.grab().save(target.filePath("main-window-after-run.png")));

    // The document menu, drawn over the window where it opens.
    QMenu& menu = *form.PopupMenu3();
    const QPoint at = form.ListView().viewport()->mapToGlobal(QPoint(120, 40));
    menu.popup(at);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    const QPoint origin = form.mapToGlobal(QPoint(0, 0));
    const QRect area = QRect(origin, form.size()).united(menu.geometry());
    QImage image(area.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.drawPixmap(origin - area.topLeft(), form.grab());
        painter.drawPixmap(menu.pos() - area.topLeft(), menu.grab());
    }
    menu.close();
    EXPECT_TRUE(image.save(target.filePath("main-window-context-menu.png")));
    Dialogs.AnswerMessageBox(TModalResult::Yes);
    form.close();
}
