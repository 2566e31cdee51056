#include "App_documents.h"

#include "DocumentListRig.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_clipboard.h"
#include "Zel_files.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"
#include "Zel_shellfiles.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string CreateErrorText(const std::string& path)
{
    return "The program could not create a document entry with the path \"" + path + "\".";
}

// The message of the EDocumentEntryCreateError that making an entry raises,
// or "" when the entry is made.
std::string RefusalOf(const std::string& path)
{
    try {
        TDocumentEntry entry(path);
    } catch (const EDocumentEntryCreateError& e) {
        return e.Message();
    }
    return {};
}

void SetLastWriteTime(const std::string& path, std::time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Records the model's events as text, in the order they come.
struct TEventLog {
    std::vector<std::string> Events;

    static std::string Join(const TIntegerDynArray& indexes)
    {
        std::string text;
        for (int index : indexes)
            text += (text.empty() ? "" : ",") + std::to_string(index);
        return text;
    }

    void Attach(TDocumentEntriesModel& model)
    {
        model.OnAdded = [this, &model](TDocumentEntriesModel& sender, const TIntegerDynArray& indexes) {
            EXPECT_EQ(&sender, &model);
            Events.push_back("Added " + Join(indexes));
        };
        model.OnDeleted = [this](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
            Events.push_back("Deleted " + Join(indexes));
        };
        model.OnCleared = [this](TDocumentEntriesModel&) { Events.push_back("Cleared"); };
        model.OnReordered = [this](TDocumentEntriesModel&, const TReorderRecords& records) {
            std::string text;
            for (const TReorderRecord& r : records)
                text += (text.empty() ? "" : ",") + std::to_string(r.OldIndex) + ">" + std::to_string(r.NewIndex);
            Events.push_back("Reordered " + text);
        };
        model.OnChanged = [this](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
            Events.push_back("Changed " + Join(indexes));
        };
    }

    std::vector<std::string> Take() { return std::exchange(Events, {}); }
};

class DocumentsTest : public ::testing::Test {
protected:
    TTempDirectory Dir;

    // The names of the model's entries, in order.
    static std::vector<std::string> Names(const TDocumentEntriesModel& model)
    {
        std::vector<std::string> names;
        for (int i = 0; i < model.GetCount(); ++i)
            names.emplace_back(model.GetItem(i)->Name());
        return names;
    }

    // A model holding one entry per name, files made under Dir (a name
    // ending in "/" is a directory).
    void Fill(TDocumentEntriesModel& model, const std::vector<std::string>& names)
    {
        TStringDynArray paths;
        for (const std::string& name : names) {
            if (!name.empty() && name.back() == '/')
                paths.push_back(Dir.MakeDir(name.substr(0, name.size() - 1)));
            else
                paths.push_back(Dir.WriteFile(name, std::string(name.size(), 'x')));
        }
        model.Add(CreateDocumentEntries(paths));
    }
};

TEST_F(DocumentsTest, EntryOfAFileTakesItsFacts)
{
    Dir.MakeDir("Docs");
    const std::string empty = Dir.WriteFile("Docs/report.txt");
    const std::string big = Dir.WriteFile("Docs/Big File é.TXT", std::string(1048576, 'b'));
    SetLastWriteTime(empty, 1340528700);

    TDocumentEntry entry(Dir.Path() + "/Docs/../Docs/./report.txt");
    EXPECT_EQ(entry.Path(), empty);
    EXPECT_EQ(entry.Directory(), Dir.Path() + "/Docs");
    EXPECT_EQ(entry.Name(), "report.txt");
    EXPECT_EQ(entry.GetNameText(), "report.txt");
    EXPECT_EQ(entry.GetDirectoryText(), Dir.Path() + "/Docs");
    EXPECT_TRUE(entry.IsFile());
    EXPECT_FALSE(entry.IsDirectory());
    EXPECT_EQ(entry.Size(), 0u);
    EXPECT_EQ(entry.GetSizeText(), "0");
    EXPECT_EQ(entry.LastWriteTime(), (1340528700ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(entry.Result(), TDocumentEntryResult::None);
    EXPECT_EQ(entry.GetResultText(), "None");

    TDocumentEntry other(big);
    EXPECT_EQ(other.GetSizeText(), "1,048,576");
    EXPECT_EQ(other.Name(), "Big File é.TXT");
    // Type names are shared, not copied: one object per extension, any case.
    EXPECT_EQ(&entry.Type(), &other.Type());
    EXPECT_EQ(&entry.Type(), &SharedFileTypeCache().GetFileTypeName(empty));
    EXPECT_FALSE(entry.GetTypeText().empty());
}

TEST_F(DocumentsTest, EntryOfADirectoryAndOfTheRoot)
{
    const std::string dir = Dir.MakeDir("Folder.d");
    TDocumentEntry entry(dir + "/");
    EXPECT_EQ(entry.Path(), dir);
    EXPECT_TRUE(entry.IsDirectory());
    EXPECT_FALSE(entry.IsFile());
    EXPECT_EQ(entry.GetSizeText(), "");
    EXPECT_EQ(entry.Type(), SharedFileTypeCache().GetDirectoryTypeName());

    TDocumentEntry root("/");
    EXPECT_EQ(root.Path(), "/");
    EXPECT_EQ(root.Directory(), "/");
    EXPECT_EQ(root.Name(), "");
    TDocumentEntry top("/tmp/..//tmp");
    EXPECT_EQ(top.Directory(), "/");
    EXPECT_EQ(top.Name(), "tmp");
}

TEST_F(DocumentsTest, EntryKeepsALinkAsTyped)
{
    const std::string target = Dir.WriteFile("target.txt", "abc");
    const std::string link = Dir / "link.txt";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    TDocumentEntry entry(link);
    EXPECT_EQ(entry.Path(), link);
    EXPECT_EQ(entry.Size(), 3u);
}

TEST_F(DocumentsTest, BadPathsAreRefusedWithThePathAsGiven)
{
    Dir.WriteFile("present.txt");
    Dir.WriteFile("a*b.txt");
    const std::string dangling = Dir / "dangling";
    ASSERT_EQ(::symlink((Dir / "nowhere").c_str(), dangling.c_str()), 0);
    const std::string newline = Dir.WriteFile("two\nlines.txt");
    const std::string carriage = Dir.WriteFile("two\rlines.txt");
    const std::string latin1 = Dir.WriteFile("caf\xe9.txt");
    const std::string overlong = Dir.WriteFile("\xc0\xaf.txt");
    const std::string withNul = Dir / "present.txt" + std::string(1, '\0') + "x";

    for (const std::string& path :
         {std::string("report.txt"), std::string(""), std::string("./present.txt"), Dir / "a*b.txt",
          Dir / "a?b.txt", Dir / "missing.txt", dangling, newline, carriage, latin1, overlong, withNul})
        EXPECT_EQ(RefusalOf(path), CreateErrorText(path)) << path;
    EXPECT_EQ(RefusalOf(Dir / "present.txt"), "");

    // The error is a document entry error and an application error.
    try {
        TDocumentEntry entry("relative");
        FAIL();
    } catch (const EDocumentEntryError& e) {
        EXPECT_NE(dynamic_cast<const EAppError*>(&e), nullptr);
    }
}

TEST_F(DocumentsTest, TimeTextIsLocalTime)
{
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const std::uint64_t fileTime = (1340528700ull + 11644473600ull) * 10000000ull + 9999999;
    EXPECT_EQ(TDocumentEntry::FileTimeText(fileTime), "2012-06-24 09:05:00");
    setenv("TZ", "UTC-2", 1); // two hours east
    tzset();
    EXPECT_EQ(TDocumentEntry::FileTimeText(fileTime), "2012-06-24 11:05:00");
    EXPECT_EQ(TDocumentEntry::FileTimeText(1), "1601-01-01 02:00:00");
    EXPECT_EQ(TDocumentEntry::FileTimeText(0), "(Unknown)");
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    const std::string file = Dir.WriteFile("t.txt");
    SetLastWriteTime(file, 1340528700);
    const TDocumentEntry entry(file);
    EXPECT_EQ(entry.GetLastWriteTimeText(), TDocumentEntry::FileTimeText(entry.LastWriteTime()));
    EXPECT_NE(entry.GetLastWriteTimeText(), "(Unknown)");
}

TEST_F(DocumentsTest, ResultsImagesAndUnsupportedValues)
{
    TDocumentEntry::FileImageIndex = 0;
    TDocumentEntry::DirectoryImageIndex = 1;
    TDocumentEntry::NoneImageIndex = 0;
    TDocumentEntry::SuccessImageIndex = 1;
    TDocumentEntry::FailureImageIndex = 2;
    TDocumentEntry file(Dir.WriteFile("f.txt"));
    TDocumentEntry dir(Dir.MakeDir("d"));
    EXPECT_EQ(file.GetImageIndex(), 0);
    EXPECT_EQ(dir.GetImageIndex(), 1);
    EXPECT_EQ(file.GetResultImageIndex(), 0);
    file.SetResult(TDocumentEntryResult::Success);
    EXPECT_EQ(file.GetResultText(), "Success");
    EXPECT_EQ(file.GetResultImageIndex(), 1);
    file.SetResult(TDocumentEntryResult::Failure);
    EXPECT_EQ(file.GetResultText(), "Failure");
    EXPECT_EQ(file.GetResultImageIndex(), 2);

    const auto bad = static_cast<TDocumentEntryResult>(3);
    file.SetResult(bad);
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { file.GetResultText(); }, [&] { file.GetResultImageIndex(); },
             [&] { DocumentEntryResultSortRank(bad); }}) {
        try {
            call();
            ADD_FAILURE();
        } catch (const EAppError& e) {
            EXPECT_EQ(e.Message(), "The program does not support the result.");
        }
    }
    for (int* index : {&TDocumentEntry::FileImageIndex, &TDocumentEntry::DirectoryImageIndex,
                       &TDocumentEntry::NoneImageIndex, &TDocumentEntry::SuccessImageIndex,
                       &TDocumentEntry::FailureImageIndex})
        *index = -1;
}

TEST_F(DocumentsTest, Comparers)
{
    Dir.MakeDir("x");
    Dir.MakeDir("Y");
    const TDocumentEntry lower(Dir.WriteFile("x/a.txt", "12345"));
    const TDocumentEntry upper(Dir.WriteFile("Y/A.TXT", "1"));
    const TDocumentEntry b(Dir.WriteFile("x/B.txt", "1"));
    const TDocumentEntry png(Dir.WriteFile("x/c.png", "1"));
    const TDocumentEntry dir1(Dir.MakeDir("big"));
    const TDocumentEntry dir2(Dir.MakeDir("small"));

    // Case never decides between file names; these paths differ in their directories.
    EXPECT_EQ(TDocumentEntry::CompareName(lower, upper), 0);
    EXPECT_LT(TDocumentEntry::CompareName(upper, b), 0);
    EXPECT_GT(TDocumentEntry::CompareName(b, upper), 0);
    EXPECT_LT(TDocumentEntry::ComparePath(lower, upper), 0);
    EXPECT_LT(TDocumentEntry::ComparePath(lower, b), 0);
    EXPECT_LT(TDocumentEntry::CompareDirectory(lower, upper), 0);
    EXPECT_EQ(TDocumentEntry::CompareDirectory(lower, b), 0);

    EXPECT_EQ(TDocumentEntry::CompareType(lower, b), 0);
    EXPECT_NE(TDocumentEntry::CompareType(lower, png), 0);
    EXPECT_EQ(TDocumentEntry::CompareType(lower, png), -TDocumentEntry::CompareType(png, lower));

    // Directories before files, whatever the sizes; directories tie.
    EXPECT_LT(TDocumentEntry::CompareSize(dir1, b), 0);
    EXPECT_GT(TDocumentEntry::CompareSize(lower, dir2), 0);
    EXPECT_EQ(TDocumentEntry::CompareSize(dir1, dir2), 0);
    EXPECT_GT(TDocumentEntry::CompareSize(lower, upper), 0);
    EXPECT_EQ(TDocumentEntry::CompareSize(b, upper), 0);

    TDocumentEntry success(Dir.WriteFile("s.txt"));
    TDocumentEntry failure(Dir.WriteFile("f.txt"));
    TDocumentEntry none(Dir.WriteFile("n.txt"));
    success.SetResult(TDocumentEntryResult::Success);
    failure.SetResult(TDocumentEntryResult::Failure);
    EXPECT_LT(TDocumentEntry::CompareResult(success, failure), 0);
    EXPECT_LT(TDocumentEntry::CompareResult(failure, none), 0);
    EXPECT_EQ(TDocumentEntry::CompareResult(none, none), 0);
}

TEST_F(DocumentsTest, ModelAddDeleteClearRaiseTheirEvents)
{
    TDocumentEntriesModel model;
    TEventLog log;
    log.Attach(model);
    model.Add({});
    model.Clear();
    model.Delete({});
    EXPECT_TRUE(log.Take().empty());

    Fill(model, {"a", "b"});
    Fill(model, {"c", "d", "e"});
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Added 0,1", "Added 2,3,4"}));
    TDocumentEntry* c = model.GetItem(2);
    EXPECT_EQ(model.IndexOf(c), 2);

    model.Delete({0, 2});
    EXPECT_EQ(Names(model), (std::vector<std::string>{"b", "d", "e"}));
    EXPECT_EQ(model.IndexOf(c), -1);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Deleted 0,2"}));

    // Bad positions change nothing and raise nothing.
    EXPECT_THROW(model.Delete({1, 0}), EListError);
    EXPECT_THROW(model.Delete({1, 1}), EListError);
    EXPECT_THROW(model.Delete({0, 3}), EListError);
    EXPECT_THROW(model.Delete({-1}), EListError);
    EXPECT_THROW(model.GetItem(3), EListError);
    EXPECT_THROW(model.GetItem(-1), EListError);
    TDocumentEntryList withGap;
    withGap.push_back(std::make_unique<TDocumentEntry>(Dir / "a"));
    withGap.emplace_back();
    EXPECT_THROW(model.Add(std::move(withGap)), EInvalidOperation);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"b", "d", "e"}));
    EXPECT_TRUE(log.Take().empty());

    model.NotifyChanged({0, 2});
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Changed 0,2"}));
    model.Clear();
    model.Clear();
    EXPECT_EQ(model.GetCount(), 0);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Cleared"}));
}

TEST_F(DocumentsTest, DeleteOfManyLeavesWhatDeletingOneByOneWould)
{
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("f" + std::to_string(i));
    TDocumentEntriesModel model;
    Fill(model, names);
    std::vector<std::string> expected = names;
    const TIntegerDynArray doomed = {0, 1, 5, 6, 7, 20, 38, 39};
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        expected.erase(expected.begin() + *it);
    model.Delete(doomed);
    EXPECT_EQ(Names(model), expected);
    // Without an observer the operations still take effect.
    model.Delete({0});
    EXPECT_EQ(model.GetCount(), static_cast<int>(expected.size()) - 1);
}

TEST_F(DocumentsTest, SortsAreStableAndCombine)
{
    Dir.MakeDir("one");
    Dir.MakeDir("Two");
    TDocumentEntriesModel model;
    Fill(model, {"Two/b.txt", "one/C.txt", "Two/a.txt", "one/b.txt", "Two/B.TXT", "one/a.txt"});
    TEventLog log;
    log.Attach(model);

    model.SortByName();
    // a, a, then b, b, B in their previous order, then C.
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a.txt", "a.txt", "b.txt", "b.txt", "B.TXT", "C.txt"}));
    model.SortByDirectory();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a.txt", "b.txt", "C.txt", "a.txt", "b.txt", "B.TXT"}));
    EXPECT_EQ(model.GetItem(0)->Directory(), Dir / "one");
    EXPECT_EQ(model.GetItem(3)->Directory(), Dir / "Two");
    log.Take();

    // Sorted already: an empty reorder, not a descending one.
    model.SortByDirectory();
    model.SortByPath();
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Reordered ", "Reordered "}));
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a.txt", "b.txt", "C.txt", "a.txt", "b.txt", "B.TXT"}));

    model.Reverse();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"B.TXT", "b.txt", "a.txt", "C.txt", "b.txt", "a.txt"}));
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Reordered 0>5,1>4,2>3,3>2,4>1,5>0"}));
}

TEST_F(DocumentsTest, KeySortsAgreeWithTheComparers)
{
    // Mixed case, accents and punctuation: the sorts compare precomputed
    // keys, the comparers collate; both must give the same order.
    const std::vector<std::string> names = {"Zebra.txt", "äpfel.pdf", "Apfel.txt", "apfel.TXT", "éclair.png",
                                            "Eclair.c",  "z.html",    "10 b.csv",  "9 a.csv",   "_x.txt",
                                            "Ärger.pdf", "arger.odt", "sub/",      "Sub2/",     "b"};
    TDocumentEntriesModel model;
    Fill(model, names);
    using TComparer = int (*)(const TDocumentEntry&, const TDocumentEntry&);
    const std::pair<void (TDocumentEntriesModel::*)(), TComparer> sorts[] = {
        {&TDocumentEntriesModel::SortByPath, &TDocumentEntry::ComparePath},
        {&TDocumentEntriesModel::SortByName, &TDocumentEntry::CompareName},
        {&TDocumentEntriesModel::SortByType, &TDocumentEntry::CompareType},
        {&TDocumentEntriesModel::SortBySize, &TDocumentEntry::CompareSize},
        {&TDocumentEntriesModel::SortByDirectory, &TDocumentEntry::CompareDirectory},
    };
    for (const auto& [sort, compare] : sorts) {
        model.Reverse(); // a different starting order each time
        std::vector<const TDocumentEntry*> before;
        for (int i = 0; i < model.GetCount(); ++i)
            before.push_back(model.GetItem(i));
        (model.*sort)();
        for (int i = 1; i < model.GetCount(); ++i) {
            const TDocumentEntry* a = model.GetItem(i - 1);
            const TDocumentEntry* b = model.GetItem(i);
            const int order = compare(*a, *b);
            EXPECT_LE(order, 0) << a->Name() << " / " << b->Name();
            if (order == 0) {
                const auto posA = std::find(before.begin(), before.end(), a);
                const auto posB = std::find(before.begin(), before.end(), b);
                EXPECT_LT(posA, posB) << "tie not kept: " << a->Name() << " / " << b->Name();
            }
        }
    }
}

TEST_F(DocumentsTest, SortBySizeResultAndTime)
{
    TDocumentEntriesModel model;
    Fill(model, {"ccc", "d1/", "a", "d2/", "bb"});
    model.SortBySize();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"d1", "d2", "a", "bb", "ccc"}));

    model.GetItem(0)->SetResult(TDocumentEntryResult::Failure);
    model.GetItem(2)->SetResult(TDocumentEntryResult::Success);
    model.GetItem(4)->SetResult(TDocumentEntryResult::Failure);
    model.SortByResult();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "d1", "ccc", "d2", "bb"}));

    SetLastWriteTime(Dir / "ccc", 1000);
    SetLastWriteTime(Dir / "a", 3000);
    SetLastWriteTime(Dir / "bb", 2000);
    SetLastWriteTime(Dir / "d1", 5000);
    SetLastWriteTime(Dir / "d2", 4000);
    TDocumentEntriesModel timed;
    timed.Add(CreateDocumentEntries({Dir / "a", Dir / "bb", Dir / "ccc", Dir / "d1", Dir / "d2"}));
    timed.SortByLastWriteTime();
    EXPECT_EQ(Names(timed), (std::vector<std::string>{"ccc", "bb", "a", "d2", "d1"}));
}

TEST_F(DocumentsTest, MovesHoldAtTheEdges)
{
    TDocumentEntriesModel model;
    Fill(model, {"a", "b", "c", "d", "e"});
    TEventLog log;
    log.Attach(model);
    model.MoveUp({0, 2});
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "c", "b", "d", "e"}));
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Reordered 2>1,1>2"}));
    model.MoveUp({0, 1});
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"Reordered "}));
    model.MoveDown({2, 4});
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "c", "d", "b", "e"}));
    model.MoveDown({1, 2});
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_THROW(model.MoveDown({2, 1}), EListError);
    EXPECT_THROW(model.MoveUp({5}), EListError);
    EXPECT_THROW(model.Reorder({{0, 1}}), EListError);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

TEST_F(DocumentsTest, ResultQueries)
{
    TDocumentEntriesModel model;
    EXPECT_TRUE(model.GetIndexesOfResult(TDocumentEntryResult::Success).empty());
    Fill(model, {"a", "b", "c", "d"});
    EXPECT_EQ(model.IndexOfResult(TDocumentEntryResult::Success), -1);
    EXPECT_TRUE(model.GetIndexesOfResult(TDocumentEntryResult::Success).empty());
    EXPECT_EQ(model.CountOfResult(TDocumentEntryResult::None), 4);

    model.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    model.GetItem(3)->SetResult(TDocumentEntryResult::Success);
    model.GetItem(2)->SetResult(TDocumentEntryResult::Failure);
    EXPECT_EQ(model.IndexOfResult(TDocumentEntryResult::Success), 1);
    EXPECT_EQ(model.IndexOfResult(TDocumentEntryResult::Failure), 2);
    EXPECT_EQ(model.GetIndexesOfResult(TDocumentEntryResult::Success), (TIntegerDynArray{1, 3}));
    EXPECT_EQ(model.CountOfResult(TDocumentEntryResult::Success), 2);
    EXPECT_EQ(model.CountOfResultIn(TDocumentEntryResult::Success, {0, 1, 2}), 1);
    EXPECT_EQ(model.CountOfResultIn(TDocumentEntryResult::Success, {}), 0);
    EXPECT_THROW(model.CountOfResultIn(TDocumentEntryResult::Success, {4}), EListError);

    model.Delete(model.GetIndexesOfResult(TDocumentEntryResult::Success));
    EXPECT_EQ(Names(model), (std::vector<std::string>{"a", "c"}));
}

// ---------------------------------------------------------------------------
// The list on screen and the commands

// Waits for a condition while Qt's events run; false after five seconds.
bool WaitFor(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAbort&) {
        return "(abort)";
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// The model, the view and the selection wired as the main form wires them.
class DocumentListTest : public DocumentsTest, protected TDocumentListRig {
protected:
    DocumentListTest() : TDocumentListRig(400, 150) {}

    // The text a cell shows, as the view asks for it.
    std::string CellText(int row, int column)
    {
        return View.model()->data(View.model()->index(row, column)).toString().toStdString();
    }

    bool RowWhollyVisible(int row)
    {
        const QRect rect = View.visualRect(View.model()->index(row, 0));
        return rect.isValid() && rect.top() >= 0 && rect.bottom() < View.viewport()->height();
    }

    void Select(const TIntegerDynArray& rows) { SetListViewSelection(View, rows); }

};

TEST_F(DocumentListTest, AddedRowsAreSelectedFocusedAndShown)
{
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i)
        names.push_back("f" + std::to_string(100 + i));
    Fill(Model, names);
    EXPECT_EQ(Selection.GetCount(), 30);
    Select({0, 2});
    SetListViewItemFocused(View, 1, true);
    View.scrollToTop();

    Fill(Model, {"new1", "new2"});
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{30, 31}));
    EXPECT_EQ(Selection.GetSelectedCount(), 2);
    EXPECT_EQ(View.ItemFocused(), 31);
    EXPECT_TRUE(RowWhollyVisible(31));
    EXPECT_EQ(CellText(31, 0), "new2");
    EXPECT_TRUE(Selection.IsSelected(30));
    EXPECT_FALSE(Selection.IsSelected(0));
    EXPECT_THROW(Selection.IsSelected(32), EInvalidOperation);
}

TEST_F(DocumentListTest, SelectionAndFocusFollowTheirDocuments)
{
    Fill(Model, {"d", "b", "e", "a", "c"});
    Select({0, 3}); // d and a
    SetListViewItemFocused(View, 2, true); // e
    Model.SortByName();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{0, 3}));
    EXPECT_EQ(View.ItemFocused(), 4);

    Model.MoveUp(Selection.GetSelectedIndexes());
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "b", "d", "c", "e"}));
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{0, 2}));

    // Deleting the focused row hands the focus to the row in its place...
    Model.Delete({1, 4});
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "d", "c"}));
    EXPECT_EQ(Selection.GetCount(), 3);
    EXPECT_EQ(View.ItemFocused(), 2);
    // ... or, at the end, to the new last row.
    Model.Delete({2});
    EXPECT_EQ(View.ItemFocused(), 1);
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{0, 1}));

    Model.Clear();
    EXPECT_EQ(Selection.GetCount(), 0);
    EXPECT_EQ(Selection.GetSelectedCount(), 0);
    EXPECT_TRUE(Selection.GetSelectedIndexes().empty());
}

TEST_F(DocumentListTest, SelectAllUnselectAllAndReverse)
{
    Selection.SelectAll();
    Selection.UnselectAll();
    Selection.ReverseSelection();
    EXPECT_EQ(Selection.GetCount(), 0);

    Fill(Model, {"a", "b", "c", "d"});
    Select({0, 2});
    SetListViewItemFocused(View, 0, true);
    Selection.ReverseSelection();
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{1, 3}));
    EXPECT_EQ(View.ItemFocused(), 0);
    Selection.SelectAll();
    EXPECT_EQ(Selection.GetSelectedCount(), 4);
    Selection.UnselectAll();
    EXPECT_EQ(Selection.GetSelectedCount(), 0);
    EXPECT_EQ(View.ItemFocused(), 0);
}

TEST_F(DocumentListTest, ChangedRowsShowTheirNewResult)
{
    Fill(Model, {"a", "b", "c"});
    EXPECT_EQ(CellText(1, 5), "None");
    Model.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    Model.NotifyChanged({1});
    EXPECT_EQ(CellText(1, 5), "Success");
    EXPECT_THROW(Model.NotifyChanged({3}), EInvalidOperation);
}

class DocumentCommandsTest : public DocumentListTest {
protected:
    DocumentCommandsTest() : Commands(Model, Selection) { OriginalDir = GetCurrentDir(); }
    ~DocumentCommandsTest() override { SetCurrentDir(OriginalDir); }

    static void PutText(const std::string& text) { QGuiApplication::clipboard()->setText(QString::fromStdString(text)); }
    static std::string ClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

    std::string OriginalDir;
    TScriptedDialogs Dialogs;
    TDocumentEntriesCommands Commands;
};

TEST_F(DocumentCommandsTest, NewAsksUnlessEverythingSucceeded)
{
    Commands.New(); // empty: nothing to ask
    Fill(Model, {"a", "b"});
    Model.GetItem(0)->SetResult(TDocumentEntryResult::Success);
    Dialogs.AnswerMessageBox(TModalResult::No);
    EXPECT_EQ(MessageOf([&] { Commands.New(); }), "(abort)");
    EXPECT_EQ(Model.GetCount(), 2);
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "Do you want to remove all the documents from the list?");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Caption, "Dorvane");
    EXPECT_EQ(Dialogs.MessageBoxes[0].Type, TMsgDlgType::Warning);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Buttons, TMsgDlgButtons(mbYes | mbNo));

    Dialogs.AnswerMessageBox(TModalResult::Yes);
    Commands.New();
    EXPECT_EQ(Model.GetCount(), 0);

    Fill(Model, {"c"});
    Model.GetItem(0)->SetResult(TDocumentEntryResult::Success);
    Commands.New();
    EXPECT_EQ(Model.GetCount(), 0);
    EXPECT_EQ(Dialogs.MessageBoxes.size(), 2u);
}

TEST_F(DocumentCommandsTest, DeleteAsksForUnfinishedDocumentsAndCutNever)
{
    EXPECT_EQ(MessageOf([&] { Commands.Delete(); }), "The feature is unavailable.");
    EXPECT_FALSE(Commands.CanCut());
    Fill(Model, {"a", "b", "c", "d"});
    Model.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    Model.GetItem(3)->SetResult(TDocumentEntryResult::Success);
    Select({1, 3});
    Commands.Delete();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(Dialogs.MessageBoxes.empty());

    Select({0});
    Dialogs.AnswerMessageBox(TModalResult::No);
    EXPECT_EQ(MessageOf([&] { Commands.Delete(); }), "(abort)");
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "c"}));
    ASSERT_EQ(Dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(Dialogs.MessageBoxes[0].Text, "Do you want to remove the documents from the list?");

    Select({0, 1});
    Commands.Cut();
    EXPECT_EQ(Model.GetCount(), 0);
    EXPECT_EQ(ClipboardText(), Dir / "a" + "\r\n" + Dir / "c" + "\r\n");
    EXPECT_EQ(Dialogs.MessageBoxes.size(), 1u);
}

TEST_F(DocumentCommandsTest, CopyPutsSelectedPathsInListOrder)
{
    EXPECT_FALSE(Commands.CanCopy());
    Fill(Model, {"x y", "b", "é"});
    Selection.UnselectAll();
    SetListViewItemSelected(View, 2, true);
    SetListViewItemSelected(View, 0, true);
    EXPECT_TRUE(Commands.CanCopy());
    Commands.Copy();
    EXPECT_EQ(ClipboardText(), Dir / "x y" + "\r\n" + Dir / "é" + "\r\n");
    EXPECT_EQ(Model.GetCount(), 3);
}

TEST_F(DocumentCommandsTest, PasteAddsEveryLineOrNothing)
{
    const std::string a = Dir.WriteFile("a b.txt");
    const std::string b = Dir.WriteFile("ü.txt");
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(WaitFor([&] { return !Commands.CanPaste(); }));
    EXPECT_EQ(MessageOf([&] { Commands.Paste(); }), "The feature is unavailable.");

    PutText(a + "\r\n\r\n\n" + b + "\n\r\n" + a);
    ASSERT_TRUE(WaitFor([&] { return Commands.CanPaste(); }));
    Commands.Paste();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a b.txt", "ü.txt", "a b.txt"}));
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{0, 1, 2}));

    PutText(a + "\n" + "not a path\n" + b);
    EXPECT_EQ(MessageOf([&] { Commands.Paste(); }), CreateErrorText("not a path"));
    PutText(a + "\n " + b); // lines are not trimmed
    EXPECT_EQ(MessageOf([&] { Commands.Paste(); }), CreateErrorText(" " + b));
    EXPECT_EQ(Model.GetCount(), 3);
}

TEST_F(DocumentCommandsTest, PasteTakesFilesAFileManagerCopied)
{
    const std::string a = Dir.WriteFile("a b.txt");
    const std::string b = Dir.WriteFile("ü.txt");
    auto* data = new QMimeData;
    const QUrl urlA = QUrl::fromLocalFile(QFile::decodeName(a.c_str()));
    const QUrl urlB = QUrl::fromLocalFile(QFile::decodeName(b.c_str()));
    QUrl localB = urlB;
    localB.setHost("localhost");
    data->setUrls({urlA, QUrl("https://example.org/x"), localB});
    QGuiApplication::clipboard()->setMimeData(data);
    ASSERT_TRUE(WaitFor([&] { return Commands.CanPaste(); }));
    Commands.Paste();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a b.txt", "ü.txt"}));
    EXPECT_EQ(Model.GetItem(1)->Path(), b);

    // As plain text, with URLs of this machine.
    PutText(urlB.toEncoded().toStdString() + "\nfile://localhost" + urlA.path(QUrl::FullyEncoded).toStdString() + "\n");
    Commands.Paste();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a b.txt", "ü.txt", "ü.txt", "a b.txt"}));
    for (const std::string& line : {"file://elsewhere" + a, "file://" + a + "#x"}) {
        PutText(line);
        EXPECT_EQ(MessageOf([&] { Commands.Paste(); }), CreateErrorText(line));
    }
}

TEST_F(DocumentCommandsTest, AddRegularFilesUsesTheDialogAndKeepsItsFilter)
{
    const std::string a = Dir.WriteFile("a.txt");
    Dir.MakeDir("sub");
    const std::string b = Dir.WriteFile("sub/b");
    Fill(Model, {"first"});
    Dialogs.AnswerOpenFiles({b, a}, 2);
    Commands.AddRegularFiles();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"first", "b", "a.txt"}));
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{1, 2}));
    EXPECT_EQ(View.ItemFocused(), 2);
    ASSERT_EQ(Dialogs.OpenRequests.size(), 1u);
    const TOpenDialogRequest& request = Dialogs.OpenRequests[0];
    EXPECT_EQ(request.Title, "Add Regular Files");
    EXPECT_EQ(request.Filter, "All (*)|*");
    EXPECT_EQ(request.FilterIndex, 1);
    EXPECT_TRUE(request.MultiSelect);
    EXPECT_TRUE(request.FileMustExist);
    EXPECT_FALSE(request.KeepCurrentDir);
    EXPECT_EQ(GetCurrentDir(), Dir / "sub");

    Dialogs.CancelOpenFiles();
    EXPECT_EQ(MessageOf([&] { Commands.AddRegularFiles(); }), "(abort)");
    EXPECT_EQ(Model.GetCount(), 3);

    // The filter index chosen comes back after a restart.
    TMemIniFile ini(Dir / "Settings.ini");
    Commands.SaveSettings(ini, "DocumentEntriesCommands");
    EXPECT_EQ(ini.ReadInteger("DocumentEntriesCommands.AddRegularFilesDialog", "FilterIndex", 0), 2);
    TDocumentEntriesCommands restarted(Model, Selection);
    EXPECT_EQ(restarted.AddRegularFilesDialog().FilterIndex, 1);
    restarted.LoadSettings(ini, "DocumentEntriesCommands");
    EXPECT_EQ(restarted.AddRegularFilesDialog().FilterIndex, 2);
}

TEST_F(DocumentCommandsTest, AddDirectoryAddsTheFolderItselfAndMovesThere)
{
    TDocumentEntry::DirectoryImageIndex = 1;
    const std::string folder = Dir.MakeDir("Folder");
    Dir.WriteFile("Folder/inside.txt");
    Dialogs.AnswerFolder(folder);
    Commands.AddDirectory();
    ASSERT_EQ(Model.GetCount(), 1);
    EXPECT_EQ(Model.GetItem(0)->Path(), folder);
    EXPECT_EQ(Model.GetItem(0)->GetImageIndex(), 1);
    EXPECT_EQ(CellText(0, 2), "");
    EXPECT_EQ(GetCurrentDir(), folder);
    ASSERT_EQ(Dialogs.FolderRequests.size(), 1u);
    EXPECT_EQ(Dialogs.FolderRequests[0].Caption, "Specify a directory.");

    Dialogs.CancelFolder();
    EXPECT_EQ(MessageOf([&] { Commands.AddDirectory(); }), "(abort)");
    ASSERT_EQ(Dialogs.FolderRequests.size(), 2u);
    EXPECT_EQ(Dialogs.FolderRequests[1].InitialDir, folder);
    EXPECT_EQ(Model.GetCount(), 1);
    TDocumentEntry::DirectoryImageIndex = -1;
}

TEST_F(DocumentCommandsTest, DroppedFilesAreAddedAgainAndAllOrNothing)
{
    const std::string a = Dir.WriteFile("a");
    Commands.AddDroppedFiles({a, a});
    EXPECT_EQ(Model.GetCount(), 2);
    EXPECT_EQ(MessageOf([&] { Commands.AddDroppedFiles({a, Dir / "gone"}); }), CreateErrorText(Dir / "gone"));
    EXPECT_EQ(Model.GetCount(), 2);
    Commands.AddPaths({});
    EXPECT_EQ(Model.GetCount(), 2);
}

TEST_F(DocumentCommandsTest, ResultCommandsAndMoves)
{
    Fill(Model, {"a", "b", "c", "d"});
    EXPECT_TRUE(Commands.CanDeleteAllInSuccess());
    TIntegerDynArray changed;
    Model.OnChanged = [&](TDocumentEntriesModel& m, const TIntegerDynArray& i) {
        changed = i;
        Selection.EntriesChanged(m, i);
    };
    int deletions = 0;
    Model.OnDeleted = [&](TDocumentEntriesModel& m, const TIntegerDynArray& i) {
        ++deletions;
        Selection.EntriesDeleted(m, i);
    };
    Commands.DeleteAllInSuccess();
    EXPECT_EQ(deletions, 0);

    Model.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    Model.GetItem(2)->SetResult(TDocumentEntryResult::Success);
    Select({1, 3});
    Commands.ResetResult();
    EXPECT_EQ(changed, (TIntegerDynArray{1, 3}));
    EXPECT_EQ(Model.GetItem(1)->Result(), TDocumentEntryResult::None);
    EXPECT_EQ(CellText(1, 5), "None");
    EXPECT_EQ(Model.GetItem(2)->Result(), TDocumentEntryResult::Success);

    Commands.MoveDown();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "c", "b", "d"}));
    EXPECT_EQ(Selection.GetSelectedIndexes(), (TIntegerDynArray{2, 3}));
    Commands.MoveUp();
    Commands.MoveUp();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"b", "d", "a", "c"}));
    Commands.ReverseOrder();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"c", "a", "d", "b"}));
    Commands.SortByResult();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"c", "a", "d", "b"}));

    Commands.DeleteAllInSuccess();
    EXPECT_EQ(Names(Model), (std::vector<std::string>{"a", "d", "b"}));
    Selection.UnselectAll();
    EXPECT_FALSE(Commands.CanMoveUp());
    EXPECT_EQ(MessageOf([&] { Commands.ResetResult(); }), "The feature is unavailable.");
}

TEST_F(DocumentCommandsTest, ClipboardChangesAreReported)
{
    int changes = 0;
    TDocumentEntriesCommands* sender = nullptr;
    Commands.OnClipboardChange = [&](TDocumentEntriesCommands& s) {
        ++changes;
        sender = &s;
    };
    PutText("one");
    ASSERT_TRUE(WaitFor([&] { return changes > 0; }));
    EXPECT_EQ(sender, &Commands);
}

} // namespace
