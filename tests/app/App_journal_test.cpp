#include "App_journal.h"

#include "App_ProgressDialog.h"
#include "App_common.h"
#include "App_mainform.h"
#include "App_programs.h"

#include "ProcessTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_forms.h"
#include "Zel_journalfiles.h"
#include "Zel_listviews.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TDocuments = std::vector<TJournalDocument>;

constexpr auto None = TDocumentEntryResult::None;
constexpr auto Success = TDocumentEntryResult::Success;
constexpr auto Failure = TDocumentEntryResult::Failure;

std::string Journal(const std::string& body)
{
    return std::string(JournalHeader) + "\n" + body;
}

// The list as the model holds it, in the journal's terms.
TDocuments Listed(const TDocumentEntriesModel& model)
{
    TDocuments documents;
    for (int i = 0; i < model.GetCount(); ++i)
        documents.push_back({model.GetItem(i)->Path(), model.GetItem(i)->Result(), {}});
    return documents;
}

// A document list whose every change goes to a journal, as the main form wires them.
struct TJournalledList {
    explicit TJournalledList(const std::string& dir) : Journal(std::make_unique<TDocumentJournal>(dir))
    {
        Model.OnAdded = [this](TDocumentEntriesModel& s, const TIntegerDynArray& i) { Journal->EntriesAdded(s, i); };
        Model.OnDeleted = [this](TDocumentEntriesModel& s, const TIntegerDynArray& i) { Journal->EntriesDeleted(s, i); };
        Model.OnCleared = [this](TDocumentEntriesModel& s) { Journal->EntriesCleared(s); };
        Model.OnReordered = [this](TDocumentEntriesModel& s, const TReorderRecords& r) { Journal->EntriesReordered(s, r); };
        Model.OnChanged = [this](TDocumentEntriesModel& s, const TIntegerDynArray& i) { Journal->EntriesChanged(s, i); };
        Journal->OnError = [this](TDocumentJournal&, const std::string& message) { Errors.push_back(message); };
    }

    void SetResult(int index, TDocumentEntryResult result)
    {
        Model.GetItem(index)->SetResult(result);
        Model.NotifyChanged({index});
    }

    // What a restart would read from the file now.
    TJournalContents OnDisk()
    {
        Journal->Flush();
        return ReadJournal(ReadFileText(Journal->Path()));
    }

    TDocumentEntriesModel Model;
    std::unique_ptr<TDocumentJournal> Journal;
    std::vector<std::string> Errors;
};

class JournalTest : public testing::Test {
protected:
    // Files whose names need escaping: blanks, "%", a lone "-", non-ASCII.
    TStringDynArray MakeDocuments(int count)
    {
        static const char* const names[] = {"plain.txt", "two words.txt", "100%.txt", "-", "r\xC3\xA9sum\xC3\xA9.odt"};
        TStringDynArray paths;
        for (int i = 0; i < count; ++i)
            paths.push_back(Docs.WriteFile(std::to_string(i) + " " + names[i % 5], "x"));
        return paths;
    }

    TTempDirectory Settings;
    TTempDirectory Docs;
};

} // namespace

// The icons live in the application's static library.
static void InitResources()
{
    Q_INIT_RESOURCE(App_resources);
}

void PrintTo(const TJournalDocument& document, std::ostream* out)
{
    *out << "{" << document.Path << ", " << static_cast<int>(document.Result) << ", " << document.Reason << "}";
}

// A journal that was cut off, holds garbage or has an unknown version gives
// back what is readable and says it is damaged; it never yields a path that
// is not absolute, nor applies a change that does not fit the list.
TEST(App_journal, ReaderGivesBackWhatIsReadableFromDamagedFiles)
{
    const TDocuments two = {{"/a b", Success, {}}, {"/c", Failure, "No such file or directory"}};
    const std::string good = "A 1 /a%20b - 2 /c No%20such%20file%20or%20directory\n";
    TJournalContents read = ReadJournal(Journal(good));
    EXPECT_FALSE(read.Damaged);
    EXPECT_EQ(read.Documents, two);

    struct TCase {
        const char* What;
        std::string Text;
        std::size_t Readable;
    };
    const TCase cases[] = {
        {"empty file", "", 0},
        {"unknown version", "Dorvane journal 2\n" + good, 0},
        {"no header", good, 0},
        {"cut-off last line", Journal(good + "A 0 /d - 0 /e"), 2},
        {"cut-off header", "Dorvane jour", 0},
        {"garbage line", Journal(good + "\x01\x02garbage\nA 0 /d -\n"), 2},
        {"zeros after a power loss", Journal(good + std::string(40, '\0') + "\n"), 2},
        {"relative path", Journal(good + "A 0 relative -\n"), 2},
        {"escaped NUL in a path", Journal(good + "A 0 /x%00y -\n"), 2},
        {"empty path", Journal(good + "A 0 - -\n"), 2},
        {"unknown result", Journal(good + "A 3 /d -\n"), 2},
        {"fields missing", Journal(good + "A 0 /d\n"), 2},
        {"delete out of range", Journal(good + "D 2\n"), 2},
        {"delete not ascending", Journal(good + "D 1 0\n"), 2},
        {"move not a permutation", Journal(good + "M 0 1\n"), 2},
        {"move twice to one place", Journal(good + "M 0 1 1 1\n"), 2},
        {"result out of range", Journal(good + "R 5 1 -\n"), 2},
        {"CR LF line ends", Journal(good + "A 0 /d -\r\n"), 2},
        {"unknown tag", Journal(good + "Q 1\n"), 2},
    };
    for (const TCase& c : cases) {
        read = ReadJournal(c.Text);
        EXPECT_TRUE(read.Damaged) << c.What;
        EXPECT_EQ(read.Documents.size(), c.Readable) << c.What;
        if (c.Readable == 2) {
            EXPECT_EQ(read.Documents, two) << c.What;
        }
    }

    // Every change replays in order; a damaged line stops the replay there.
    read = ReadJournal(Journal(good + "A 0 /d - 0 /e -\nM 0 3 3 0\nD 1\nR 0 1 -\nR 2 2 why\n\x7Fjunk\nA 0 /f -\n"));
    EXPECT_TRUE(read.Damaged);
    EXPECT_EQ(read.Documents, (TDocuments{{"/e", Success, {}}, {"/d", None, {}}, {"/a b", Failure, "why"}}));
}

// Every kind of change reaches the file, which replays to the list as it
// stands: adds, results, sorts, moves, deletions, a clear and a list that
// grows back; a rewrite of a file grown large keeps the same list.
TEST_F(JournalTest, FileFollowsEveryChangeOfTheList)
{
    TJournalledList list(Settings.Path());
    const TStringDynArray paths = MakeDocuments(12);
    list.Model.Add(CreateDocumentEntries(paths));
    list.SetResult(2, Success);
    list.SetResult(5, Failure);
    EXPECT_EQ(list.OnDisk().Documents, Listed(list.Model));
    EXPECT_EQ(list.Journal->Path().rfind(Settings.Path() + "/Journal-", 0), 0u) << list.Journal->Path();

    list.Model.SortByResult();
    list.Model.MoveDown({0, 1});
    list.Model.Reverse();
    list.Model.Delete({0, 3, 11});
    list.Model.SortByName();
    const TJournalContents disk = list.OnDisk();
    EXPECT_FALSE(disk.Damaged);
    EXPECT_EQ(disk.Documents, Listed(list.Model));

    list.Model.Clear();
    list.Journal->Flush();
    EXPECT_NE(::access(list.Journal->Path().c_str(), F_OK), 0) << "an empty list keeps no file";
    list.Model.Add(CreateDocumentEntries({paths[3]}));
    EXPECT_EQ(list.OnDisk().Documents, Listed(list.Model));

    // Many reorders of a long list make the file outgrow its whole content.
    list.Model.Add(CreateDocumentEntries(MakeDocuments(3000)));
    for (int i = 0; i < 150; ++i)
        list.Model.Reverse();
    list.Journal->Flush();
    const std::string text = ReadFileText(list.Journal->Path());
    EXPECT_LT(text.size(), 6u << 20) << "rewritten whole";
    EXPECT_EQ(ReadJournal(text).Documents, Listed(list.Model));
    EXPECT_TRUE(list.Errors.empty());

    list.Journal->Discard();
    list.Journal->Flush();
    EXPECT_NE(::access(list.Journal->Path().c_str(), F_OK), 0);
}

// A run's Success reaches the file before the step that set it returns;
// resetting results to None does not wait.
TEST_F(JournalTest, ASuccessIsInTheFileBeforeTheStepReturns)
{
    TJournalledList list(Settings.Path());
    list.Model.Add(CreateDocumentEntries(MakeDocuments(3)));
    for (int i = 0; i < 3; ++i) {
        list.SetResult(i, Success);
        EXPECT_EQ(ReadJournal(ReadFileText(list.Journal->Path())).Documents, Listed(list.Model)) << i;
    }
}

// Yes restores the lost list with its results after anything already there,
// leaving out and naming the documents that are gone; the file becomes this
// instance's. No deletes it. A live instance's journal is never offered.
TEST_F(JournalTest, RecoveryAsksForEachLostListNewestFirst)
{
    const TStringDynArray paths = MakeDocuments(16);
    std::string olderPath;
    std::string newerPath;
    TDocuments newer;
    {   // Two instances that die: their files stay, unlocked.
        TJournalledList older(Settings.Path());
        older.Model.Add(CreateDocumentEntries({paths[0], paths[1]}));
        older.Journal->Flush();
        olderPath = older.Journal->Path();
        const timespec old[2] = {{1000, 0}, {1000, 0}};
        TJournalledList later(Settings.Path());
        later.Model.Add(CreateDocumentEntries(TStringDynArray(paths.begin() + 2, paths.end())));
        later.SetResult(0, Success);
        later.SetResult(1, Failure);
        newer = Listed(later.Model);
        newerPath = later.Journal->Path();
        later.Journal->Flush();
        ASSERT_EQ(::utimensat(AT_FDCWD, olderPath.c_str(), old, 0), 0);
    }
    TJournalledList alive(Settings.Path());
    alive.Model.Add(CreateDocumentEntries({paths[0]}));
    alive.Journal->Flush();

    // Twelve of the newer list's documents are gone by now.
    for (std::size_t i = 4; i < 16; ++i)
        ASSERT_EQ(::unlink(paths[i].c_str()), 0);
    {
        TScriptedDialogs dialogs;
        dialogs.AnswerMessageBox(TModalResult::Yes).AnswerMessageBox(TModalResult::Ok).AnswerMessageBox(TModalResult::No);
        TJournalledList list(Settings.Path());
        list.Journal->Recover(list.Model, [] { return false; });
        ASSERT_EQ(dialogs.MessageBoxes.size(), 3u);
        EXPECT_EQ(dialogs.MessageBoxes[0].Text, RestoreQuestion(14));
        EXPECT_EQ(dialogs.MessageBoxes[0].Caption, "Dorvane");
        EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Warning);
        EXPECT_EQ(dialogs.MessageBoxes[0].Buttons, mbYes | mbNo);
        std::string leftOut = "These documents no longer exist and were left out:";
        for (std::size_t i = 4; i < 14; ++i)
            leftOut += "\n" + paths[i];
        EXPECT_EQ(dialogs.MessageBoxes[1].Text, leftOut + "\n... and 2 more.");
        EXPECT_EQ(dialogs.MessageBoxes[2].Text, RestoreQuestion(2));

        EXPECT_EQ(Listed(list.Model), (TDocuments{newer[0], newer[1]}));
        EXPECT_EQ(list.Journal->Path(), newerPath) << "taken over";
        EXPECT_EQ(list.OnDisk().Documents, Listed(list.Model));
        EXPECT_NE(::access(olderPath.c_str(), F_OK), 0) << "No deletes it";
    }
    EXPECT_EQ(FindRecordFiles(Settings.Path(), "Journal-", ".journal"),
              (std::vector<std::string>{newerPath, alive.Journal->Path()}));

    {   // A second list restored comes after what is there; its file goes.
        TScriptedDialogs dialogs;
        dialogs.AnswerMessageBox(TModalResult::Yes);
        TJournalledList list(Settings.Path());
        list.Model.Add(CreateDocumentEntries({paths[2]}));
        list.Journal->Recover(list.Model, [] { return false; });
        ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
        EXPECT_EQ(Listed(list.Model), (TDocuments{{paths[2], None, {}}, newer[0], newer[1]}));
        EXPECT_NE(::access(newerPath.c_str(), F_OK), 0);
        EXPECT_EQ(list.OnDisk().Documents, Listed(list.Model));
        list.Journal->Discard();
    }

    {   // A damaged journal says so once, then offers what it holds; a
        // session that ends while the question is up leaves the file alone.
        std::string line = "A 1";
        AppendRecordField(line, paths[0]);
        AppendRecordField(line, "");
        const std::string text = Journal(line + "\nA 0 bad");
        const std::string damaged = Settings.WriteFile("Journal-9-00000000.journal", text);
        TScriptedDialogs dialogs;
        dialogs.AnswerMessageBox(TModalResult::Ok).AnswerMessageBox(TModalResult::Yes);
        TJournalledList list(Settings.Path());
        bool ending = false;
        dialogs.ExpectAllAnswersUsed = true;
        int boxes = 0;
        list.Journal->Recover(list.Model, [&] { return ending = ++boxes > 2; });
        ASSERT_EQ(dialogs.MessageBoxes.size(), 2u);
        EXPECT_EQ(dialogs.MessageBoxes[0].Text,
                  "The journal \"" + damaged + "\" is damaged: only 1 documents could be read from it.");
        EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Warning);
        EXPECT_EQ(dialogs.MessageBoxes[1].Text, RestoreQuestion(1));
        EXPECT_TRUE(ending);
        EXPECT_EQ(list.Model.GetCount(), 0);
        EXPECT_EQ(ReadFileText(damaged), text);
    }
}

// The main window journals its list; a window that goes without closing (as
// in a crash) leaves it, and the next start restores it before the command
// line's documents and takes the journal over; a normal close removes it.
TEST_F(JournalTest, MainWindowRestoresBeforeTheCommandLineAndANormalCloseRemovesTheJournal)
{
    InitResources();
    SetSettingsPathForTesting(Settings / "Settings.ini");
    const TStringDynArray paths = MakeDocuments(3);
    std::string lost;
    {
        TAppMainForm form;
        form.SubmitDroppedFiles({paths[0], paths[1]});
        form.Journal().Flush();
        lost = form.Journal().Path();
    }
    {
        TScriptedDialogs dialogs;
        dialogs.AnswerMessageBox(TModalResult::Yes).AnswerMessageBox(TModalResult::Yes);
        TAppMainForm form;
        form.SetCommandLine({paths[2]});
        form.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.DocumentEntries().GetCount() == 3; }, 10000));
        EXPECT_EQ(Listed(form.DocumentEntries()),
                  (TDocuments{{paths[0], None, {}}, {paths[1], None, {}}, {paths[2], None, {}}}));
        EXPECT_EQ(dialogs.MessageBoxes.at(0).Text, RestoreQuestion(2));
        EXPECT_EQ(form.Journal().Path(), lost);
        form.Journal().Flush();
        EXPECT_EQ(ReadJournal(ReadFileText(lost)).Documents, Listed(form.DocumentEntries()));
        EXPECT_TRUE(form.close());
        EXPECT_EQ(dialogs.MessageBoxes.at(1).Text, "Do you want to remove all the documents from the list?");
        form.Journal().Flush();
    }
    EXPECT_TRUE(FindRecordFiles(Settings.Path(), "Journal-", ".journal").empty());
    SetSettingsPathForTesting(std::string());
}

// A start that fails keeps the system's words: the Result cell's tooltip
// shows them, the journal keeps them, a restore brings them back, and a reset
// of the result takes them away.
TEST_F(JournalTest, AFailuresReasonReachesTheListAndTheJournalAndComesBackAfterARestore)
{
    InitResources();
    // Nothing of the run goes to a desktop the tests may run in.
    TScopedEnvironment noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (Settings / "no-bus"));
    SetSettingsPathForTesting(Settings / "Settings.ini");
    const TStringDynArray paths = MakeDocuments(2);
    const std::string reason = "No such file or directory";
    const auto tooltip = [](TAppMainForm& form, int row) {
        const QAbstractItemModel& rows = *form.ListView().model();
        return rows.data(rows.index(row, 5), Qt::ToolTipRole).toString().toStdString();
    };
    std::string lost;
    {
        TAppMainForm form;
        auto viewer = std::make_unique<TProgramEntry>();
        viewer->SetDisplayName("Viewer");
        viewer->SetFile(HelperPath("recorder"));
        viewer->SetWorkingDirectory(Settings / "gone");
        form.ProgramSelection().SetSelectedIndex(form.ProgramEntries().Add(std::move(viewer)));
        form.SubmitDroppedFiles(paths);
        // Each failure pauses the run; Resume goes on.
        QTimer resume;
        QObject::connect(&resume, &QTimer::timeout, [] {
            if (AppProgressDialog && AppProgressDialog->isVisible())
                if (auto* button = AppProgressDialog->findChild<QPushButton*>("Button2"); button && button->isEnabled())
                    button->click();
        });
        resume.start(10);
        form.UpdateNotifier().UpdateNow();
        form.ExecuteAction(form.FindAction("Action11"));
        resume.stop();

        ASSERT_EQ(form.DocumentEntries().CountOfResult(Failure), 2);
        EXPECT_EQ(form.DocumentEntries().GetItem(1)->Reason(), reason);
        EXPECT_EQ(tooltip(form, 1), reason);
        EXPECT_EQ(form.ListView().model()->data(form.ListView().model()->index(1, 4), Qt::ToolTipRole).toString(), "")
            << "only the Result cell explains";
        lost = form.Journal().Path();
        form.Journal().Flush();
        EXPECT_EQ(ReadJournal(ReadFileText(lost)).Documents,
                  (TDocuments{{paths[0], Failure, reason}, {paths[1], Failure, reason}}));
    }
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::Yes).AnswerMessageBox(TModalResult::Yes);
    TAppMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.DocumentEntries().GetCount() == 2; }, 10000));
    EXPECT_EQ(form.DocumentEntries().GetItem(0)->Reason(), reason);
    EXPECT_EQ(tooltip(form, 0), reason);

    SetListViewSelection(form.ListView(), {0});
    form.UpdateNotifier().UpdateNow();
    form.ExecuteAction(form.FindAction("Action3B"));
    EXPECT_EQ(form.DocumentEntries().GetItem(0)->Reason(), "");
    EXPECT_EQ(tooltip(form, 0), "");
    form.Journal().Flush();
    EXPECT_EQ(ReadJournal(ReadFileText(lost)).Documents,
              (TDocuments{{paths[0], None, {}}, {paths[1], Failure, reason}}));
    EXPECT_TRUE(form.close());
    SetSettingsPathForTesting(std::string());
}
