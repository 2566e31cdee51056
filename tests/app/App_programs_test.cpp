#include "App_programs.h"

#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_inifiles.h"
#include "Zel_strings.h"

#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <unistd.h>

namespace {

// Two icon themes of our own, so icon lookups are deterministic: "ta" knows
// the program and plain-text icons, "tb" only the program icon. Installed
// before any entry exists, since the generic icon is looked up only once.
class TIconThemeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        MakeTheme("ta", {"application-x-executable", "text-plain"});
        MakeTheme("tb", {"application-x-executable"});
        QIcon::setThemeSearchPaths({FDir.path()});
        QIcon::setThemeName("ta");
    }

private:
    void MakeTheme(const QString& name, const QStringList& icons)
    {
        const QString root = FDir.path() + "/" + name;
        ASSERT_TRUE(QDir().mkpath(root + "/16x16/apps"));
        QFile index(root + "/index.theme");
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=" + name.toUtf8() +
                    "\nDirectories=16x16/apps\n\n[16x16/apps]\nSize=16\nType=Fixed\n");
        for (const QString& icon : icons) {
            QImage image(16, 16, QImage::Format_ARGB32);
            image.fill(Qt::red);
            ASSERT_TRUE(image.save(root + "/16x16/apps/" + icon + ".png"));
        }
    }

    QTemporaryDir FDir;
};

[[maybe_unused]] ::testing::Environment* const IconThemes =
    ::testing::AddGlobalTestEnvironment(new TIconThemeEnvironment);

class ProgramsTest : public ::testing::Test {
protected:
    std::string Dir() const { return FDir.Path(); }

    std::string MakeFile(const std::string& name, const std::string& content = "#!/bin/sh\n")
    {
        return FDir.WriteFile(name, content);
    }

    // A real settings file with this content, read back as the program reads it.
    std::string WriteSettings(const std::string& text) { return FDir.WriteFile("Settings.ini", text); }

    static TAutoPointer<TProgramEntry> Entry(const std::string& name)
    {
        auto entry = std::make_unique<TProgramEntry>();
        entry->SetDisplayName(name);
        return entry;
    }

    static std::string Names(const TProgramEntriesModel& model)
    {
        std::string names;
        for (int i = 0; i < model.Count(); ++i)
            names += (i ? "|" : "") + model.Items(i)->DisplayName();
        return names;
    }

    TTempDirectory FDir;
};

std::string Message(const std::string& path)
{
    return "The program cannot accept the path \"" + path + "\".";
}

TEST_F(ProgramsTest, SetFileNormalisesRefusesAndKeepsTheIconForTheSameFile)
{
    TProgramEntry entry;
    EXPECT_TRUE(entry.IsFileBlank());
    EXPECT_EQ(entry.ShowCommand(), 1);
    EXPECT_EQ(entry.OpenInterval(), 0);
    EXPECT_TRUE(entry.AutoPause());
    EXPECT_EQ(entry.Icon().name(), "application-x-executable");
    EXPECT_EQ(TProgramEntry().Icon().cacheKey(), entry.Icon().cacheKey()); // one shared lookup

    const std::string file = MakeFile("notes.txt", "plain text\n");
    FDir.MakeDir("sub");
    entry.SetFile(Dir() + "/sub/.././notes.txt");
    EXPECT_EQ(entry.File(), file);
    EXPECT_FALSE(entry.IsFileBlank());
    EXPECT_EQ(entry.Icon().name(), "text-plain");

    // With a theme lacking text-plain, a rebuilt icon would come from the
    // platform instead; the theme icon kept from before has nothing to show.
    QIcon::setThemeName("tb");
    entry.SetFile(Dir() + "//sub/../notes.txt");
    EXPECT_EQ(entry.File(), file);
    EXPECT_TRUE(entry.Icon().isNull());
    entry.SetFile("");
    EXPECT_TRUE(entry.IsFileBlank());
    EXPECT_EQ(entry.Icon().name(), "application-x-executable");
    entry.SetFile(file);
    EXPECT_FALSE(entry.Icon().isNull());
    QIcon::setThemeName("ta");

    ASSERT_EQ(symlink((Dir() + "/gone").c_str(), (Dir() + "/dangling").c_str()), 0);
    const std::string newline = MakeFile("line\nbreak");
    const std::string latin1 = MakeFile("caf\xE9"); // exists, but its name is no UTF-8
    for (const std::string& bad : {std::string("notes.txt"), Dir() + "/missing.exe", Dir() + "/*.txt",
                                   Dir() + "/dangling", newline, file + std::string(1, '\0'), latin1}) {
        try {
            entry.SetFile(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const EProgramEntryError& e) {
            EXPECT_EQ(e.Message(), Message(bad));
        }
        EXPECT_EQ(entry.File(), file);
    }
}

TEST_F(ProgramsTest, SaveAndLoadRoundTripThroughARealFile)
{
    TProgramEntry entry;
    entry.SetDisplayName("My \"Viewer\"");
    entry.SetFile(MakeFile("viewer"));
    entry.SetDocumentPrefix("  -open \"");
    entry.SetDocumentSuffix("\"  ");
    entry.SetWorkingDirectory(Dir());
    entry.SetShowCommand(2);
    entry.SetOpenInterval(250);
    entry.SetAutoPause(false);
    const std::string path = Dir() + "/Settings.ini";
    {
        TMemIniFile ini(path);
        entry.Save(ini, "P");
        ini.UpdateFile();
    }
    TMemIniFile ini(path);
    EXPECT_EQ(ini.ReadString("P", "DisplayName", ""), "\"My \"\"Viewer\"\"\"");
    EXPECT_EQ(ini.ReadString("P", "AutoPause", ""), "0");

    TProgramEntry loaded;
    loaded.Load(ini, "P");
    EXPECT_EQ(loaded.DisplayName(), entry.DisplayName());
    EXPECT_EQ(loaded.File(), entry.File());
    EXPECT_EQ(loaded.DocumentPrefix(), "  -open \"");
    EXPECT_EQ(loaded.DocumentSuffix(), "\"  ");
    EXPECT_EQ(loaded.WorkingDirectory(), Dir());
    EXPECT_EQ(loaded.ShowCommand(), 2);
    EXPECT_EQ(loaded.OpenInterval(), 250);
    EXPECT_FALSE(loaded.AutoPause());

    TProgramEntry copy;
    copy.Assign(loaded);
    EXPECT_EQ(copy.File(), loaded.File());
    EXPECT_EQ(copy.Icon().cacheKey(), loaded.Icon().cacheKey());
}

TEST_F(ProgramsTest, LoadTakesDefaultsForBadNumbersAndIsAllOrNothing)
{
    const std::string file = MakeFile("viewer");
    TMemIniFile ini(WriteSettings("[A]\nDisplayName=\"a\"\nAutoPause=x\nShowCommand=two\nOpenInterval=\n"
                                  "[B]\nAutoPause=0\n[C]\nAutoPause=2\nShowCommand=0x3\n"
                                  "[D]\nDisplayName=\"d\"\nWorkingDirectory=unquoted\n"
                                  "[E]\nDisplayName=\"e\"\nFile=\"" + Dir() + "/gone\"\n"
                                  "[F]\nDisplayName=\"f\"\nFile=\"" + MakeFile("caf\xE9") + "\"\n"));
    TProgramEntry entry;
    entry.Load(ini, "A");
    EXPECT_EQ(entry.DisplayName(), "a");
    EXPECT_TRUE(entry.AutoPause());
    EXPECT_EQ(entry.ShowCommand(), 1);
    EXPECT_EQ(entry.OpenInterval(), 0);
    entry.Load(ini, "B");
    EXPECT_FALSE(entry.AutoPause());
    EXPECT_EQ(entry.DisplayName(), "");
    entry.Load(ini, "C");
    EXPECT_TRUE(entry.AutoPause());
    EXPECT_EQ(entry.ShowCommand(), 3);

    entry.SetDisplayName("kept");
    entry.SetFile(file);
    EXPECT_THROW(entry.Load(ini, "D"), EStringError);
    for (const auto& [section, path] : {std::pair{"E", Dir() + "/gone"}, std::pair{"F", Dir() + "/caf\xE9"}}) {
        try {
            entry.Load(ini, section);
            ADD_FAILURE() << "loaded the program file " << path;
        } catch (const EProgramEntryLoadError& e) {
            EXPECT_EQ(e.Message(), Message(path));
        }
    }
    EXPECT_EQ(entry.DisplayName(), "kept");
    EXPECT_EQ(entry.File(), file);
    EXPECT_EQ(entry.WorkingDirectory(), "");
}

// The user's locale for one test.
class TDefaultLocale {
public:
    explicit TDefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    TDefaultLocale(const TDefaultLocale&) = delete;
    TDefaultLocale& operator=(const TDefaultLocale&) = delete;
    ~TDefaultLocale() { QLocale::setDefault(FPrevious); }

private:
    QLocale FPrevious;
};

TEST_F(ProgramsTest, ModelKeepsNamesSortedUniqueAndExact)
{
    TDefaultLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    TProgramEntriesModel model;
    std::vector<std::string> events;
    model.OnInserted = [&](TProgramEntriesModel&, int i) { events.push_back("+" + std::to_string(i)); };
    model.OnDeleted = [&](TProgramEntriesModel&, int i) { events.push_back("-" + std::to_string(i)); };
    model.OnCleared = [&](TProgramEntriesModel&) { events.push_back("clear"); };

    model.Clear();
    EXPECT_TRUE(events.empty());
    // "Viewer" and "Viewer" with a zero-width space are equal to the English
    // collation, yet distinct names.
    for (const char* name : {"b", "Viewer", "a", "B", "viewer", "Viewer\u200B", "A"})
        model.Add(Entry(name));
    ASSERT_EQ(model.Count(), 7);
    QCollator collator;
    ASSERT_EQ(collator.compare(QStringLiteral("Viewer"), QStringLiteral("Viewer\u200B")), 0);
    for (int i = 1; i < model.Count(); ++i)
        EXPECT_LE(collator.compare(QString::fromStdString(model.Items(i - 1)->DisplayName()),
                                   QString::fromStdString(model.Items(i)->DisplayName())),
                  0)
            << Names(model);
    for (int i = 0; i < model.Count(); ++i)
        EXPECT_EQ(model.IndexOfDisplayName(model.Items(i)->DisplayName()), i);
    EXPECT_EQ(model.IndexOfDisplayName("c"), -1);
    EXPECT_EQ(model.IndexOfDisplayName("VIEWER"), -1);

    auto twin = Entry("Viewer");
    TProgramEntry* twinPtr = twin.get();
    events.clear();
    try {
        model.Add(std::move(twin));
        ADD_FAILURE() << "added a colliding name";
    } catch (const EProgramEntriesError& e) {
        EXPECT_EQ(e.Message(),
                  "The program cannot add the program entry because its display name collides with another.");
    }
    EXPECT_EQ(twin.get(), twinPtr); // still the caller's
    EXPECT_EQ(model.Count(), 7);
    EXPECT_EQ(model.IndexOf(twinPtr), -1);

    const TProgramEntry* a = model.Items(model.IndexOfDisplayName("a"));
    model.Delete(model.IndexOfDisplayName("a"));
    EXPECT_EQ(model.IndexOf(a), -1);
    EXPECT_EQ(model.IndexOfDisplayName("a"), -1);
    EXPECT_THROW(model.Delete(6), EListError);
    model.Clear();
    model.Clear();
    EXPECT_EQ(events.size(), 2u);
    EXPECT_EQ(events.back(), "clear");
}

TEST_F(ProgramsTest, MakeUniqueDisplayNameNumbersUpToAHundred)
{
    TProgramEntriesModel model;
    model.Add(Entry("Untitled"));
    model.Add(Entry("Untitled (2)"));
    EXPECT_EQ(model.MakeUniqueDisplayName("Untitled"), "Untitled (3)");
    EXPECT_EQ(model.MakeUniqueDisplayName("untitled"), "untitled");
    EXPECT_EQ(model.MakeUniqueDisplayName("Untitled (2)"), "Untitled (2) (2)");
    for (int n = 3; n <= 100; ++n)
        model.Add(Entry("Untitled (" + std::to_string(n) + ")"));
    try {
        model.MakeUniqueDisplayName("Untitled");
        ADD_FAILURE() << "found a name past 100";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "The program could not provide a unique display name.");
    }
}

TEST_F(ProgramsTest, LoadSettingsSkipsMissingProgramsAndReportsOnce)
{
    const std::string viewer = MakeFile("viewer");
    TProgramEntriesModel model;
    model.Add(Entry("Built-in"));
    TScriptedDialogs dialogs;

    TMemIniFile absent(WriteSettings("[Other]\nCount=0\n"));
    model.LoadSettings(absent, "ProgramEntries");
    EXPECT_EQ(Names(model), "Built-in");

    dialogs.AnswerMessageBox(TModalResult::Ok);
    TMemIniFile ini(WriteSettings("[programentries]\nCount=3\n"
                                  "[ProgramEntries.Items[0]]\nDisplayName=\"One\"\nFile=\"" + viewer + "\"\n"
                                  "[ProgramEntries.Items[1]]\nDisplayName=\"Two\"\nFile=\"" + Dir() + "/gone\"\n"
                                  "[ProgramEntries.Items[2]]\nDisplayName=\"Three\"\n"));
    model.LoadSettings(ini, "ProgramEntries");
    EXPECT_EQ(Names(model), "One|Three");
    EXPECT_EQ(model.Items(0)->File(), viewer);
    ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes[0].Text, "The program could not load all the program entries.");
    EXPECT_EQ(dialogs.MessageBoxes[0].Caption, "Dorvane");
    EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);

    // What was loaded is saved back the same way.
    TMemIniFile saved(Dir() + "/none.ini");
    model.SaveSettings(saved, "ProgramEntries");
    TProgramEntriesModel reloaded;
    reloaded.LoadSettings(saved, "ProgramEntries");
    EXPECT_EQ(Names(reloaded), "One|Three");
    EXPECT_EQ(reloaded.Items(0)->File(), viewer);

    TMemIniFile empty(WriteSettings("[ProgramEntries]\nCount=0\n"));
    model.LoadSettings(empty, "ProgramEntries");
    EXPECT_EQ(model.Count(), 0);
    EXPECT_EQ(dialogs.MessageBoxes.size(), 1u);
}

TEST_F(ProgramsTest, LoadSettingsPassesOnCollisionsAndDequoteErrors)
{
    TProgramEntriesModel model;
    TMemIniFile twins(WriteSettings("[ProgramEntries]\nCount=3\n"
                                    "[ProgramEntries.Items[0]]\nDisplayName=\"Same\"\n"
                                    "[ProgramEntries.Items[1]]\nDisplayName=\"Same\"\n"
                                    "[ProgramEntries.Items[2]]\nDisplayName=\"Other\"\n"));
    EXPECT_THROW(model.LoadSettings(twins, "ProgramEntries"), EProgramEntriesError);
    EXPECT_EQ(Names(model), "Same");

    TMemIniFile unquoted(WriteSettings("[ProgramEntries]\nCount=2\n"
                                       "[ProgramEntries.Items[0]]\nDisplayName=\"First\"\n"
                                       "[ProgramEntries.Items[1]]\nDisplayName=Second\n"));
    EXPECT_THROW(model.LoadSettings(unquoted, "ProgramEntries"), EStringError);
    EXPECT_EQ(Names(model), "First");
}

TEST_F(ProgramsTest, LoadSettingsCopesWithAbsurdCounts)
{
    TProgramEntriesModel model;
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::Ok);
    TMemIniFile negative(WriteSettings("[ProgramEntries]\nCount=-5\n"
                                       "[ProgramEntries.Items[0]]\nDisplayName=\"One\"\n"));
    model.Add(Entry("Built-in"));
    model.LoadSettings(negative, "ProgramEntries");
    EXPECT_EQ(model.Count(), 0);
    EXPECT_EQ(dialogs.MessageBoxes.size(), 1u);

    // Items past the stored ones load with an empty name, so the second of
    // them collides and ends the loop long before the count.
    TMemIniFile huge(WriteSettings("[ProgramEntries]\nCount=2000000000\n"
                                   "[ProgramEntries.Items[0]]\nDisplayName=\"One\"\n"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(model.LoadSettings(huge, "ProgramEntries"), EProgramEntriesError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Names(model), "|One");
}

class ProgramSelectionTest : public ProgramsTest {
protected:
    void SetUp() override
    {
        ProgramsTest::SetUp();
        FModel.OnInserted = [this](TProgramEntriesModel&, int i) { FSelection.EntryInserted(i); };
        FModel.OnDeleted = [this](TProgramEntriesModel&, int i) { FSelection.EntryDeleted(i); };
        FModel.OnCleared = [this](TProgramEntriesModel&) { FSelection.EntriesCleared(); };
    }

    void Fill()
    {
        FModel.Clear();
        for (const char* name : {"a", "b", "c"})
            FModel.Add(Entry(name));
    }

    std::string Selected() const
    {
        const int i = FSelection.SelectedIndex();
        return i < 0 ? "-" : FCombo.itemText(i).toStdString();
    }

    QComboBox FCombo;
    TProgramEntriesModel FModel;
    TProgramEntriesSelection FSelection{FModel, FCombo};
};

TEST_F(ProgramSelectionTest, ComboMirrorsTheModelAndKeepsTheSelectionSensible)
{
    FModel.Add(Entry("b"));
    FModel.Add(Entry("a"));
    EXPECT_EQ(Selected(), "a"); // the inserted entry is selected
    FModel.Add(Entry("c"));
    ASSERT_EQ(FSelection.ItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FCombo.itemText(i).toStdString(), FModel.Items(i)->DisplayName());
        EXPECT_EQ(TProgramEntriesSelection::ItemEntry(FCombo, i), FModel.Items(i));
    }
    EXPECT_TRUE(FCombo.updatesEnabled());

    FSelection.SetSelectedIndex(2);
    FModel.Delete(2); // the selected last entry
    EXPECT_EQ(Selected(), "b");

    Fill();
    FSelection.SetSelectedIndex(1);
    FModel.Delete(1); // the selected middle entry: its successor takes its place
    EXPECT_EQ(Selected(), "c");

    Fill();
    FSelection.SetSelectedIndex(2);
    FModel.Delete(0); // above the selection
    EXPECT_EQ(Selected(), "c");
    FSelection.SetSelectedIndex(0);
    FModel.Delete(1); // below the selection
    EXPECT_EQ(Selected(), "b");

    FModel.Delete(0); // the only entry
    EXPECT_EQ(FSelection.SelectedIndex(), -1);
    EXPECT_EQ(FSelection.ItemCount(), 0);

    Fill();
    FModel.Clear();
    EXPECT_EQ(FSelection.ItemCount(), 0);
    EXPECT_EQ(FSelection.SelectedIndex(), -1);
}

TEST_F(ProgramSelectionTest, SelectionIndexIsClampedOnLoadAndSaved)
{
    Fill();
    FSelection.SetSelectedIndex(1);
    TMemIniFile missing(WriteSettings("[ProgramEntriesSelection]\n"));
    FSelection.LoadSettings(missing, "ProgramEntriesSelection");
    EXPECT_EQ(FSelection.SelectedIndex(), 1);

    TMemIniFile seven(WriteSettings("[ProgramEntriesSelection]\nSelectionIndex=7\n"));
    FSelection.LoadSettings(seven, "ProgramEntriesSelection");
    EXPECT_EQ(FSelection.SelectedIndex(), 2);

    TMemIniFile negative(WriteSettings("[ProgramEntriesSelection]\nSelectionIndex=-3\n"));
    FSelection.LoadSettings(negative, "ProgramEntriesSelection");
    EXPECT_EQ(FSelection.SelectedIndex(), -1);
    FSelection.SaveSettings(negative, "ProgramEntriesSelection");
    EXPECT_EQ(negative.ReadString("ProgramEntriesSelection", "SelectionIndex", ""), "-1");

    FModel.Clear();
    FSelection.LoadSettings(seven, "ProgramEntriesSelection");
    EXPECT_EQ(FSelection.SelectedIndex(), -1);
}

} // namespace
