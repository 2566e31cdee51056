#include "Zel_inifiles.h"

#include "TempDirectory.h"
#include "TestGuards.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A temporary directory that an unprivileged file-system identity may use.
class TTempDir : public TTempDirectory {
public:
    TTempDir()
    {
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(Path().c_str(), Nobody, Nobody), 0);
        }
    }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(Path()))
            names.insert(entry.path().filename().string());
        return names;
    }
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(Zel_inifiles, ReadingFollowsTheLineRules)
{
    TMemIniFile ini("");
    ini.SetText("orphan=1\r\n"
                "; comment=1\n"
                "  [ system ]  \n"
                "  currentdirectory  =  \"/tmp/a b\"  \n"
                "no equals sign\n"
                "Empty=\n"
                "a=b=c\n"
                "A=second\n"
                "\n"
                "[Other]\r"
                "Key=cr only\r"
                "[SYSTEM]\r\n"
                "Shadowed=1\r\n");
    EXPECT_EQ(ini.ReadString("System", "CurrentDirectory", "d"), "\"/tmp/a b\"");
    EXPECT_EQ(ini.ReadString("SYSTEM", "a", "d"), "b=c") << "first '=' splits, first key wins";
    EXPECT_EQ(ini.ReadString("System", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("System", "no equals sign", "d"), "d");
    EXPECT_EQ(ini.ReadString("System", "orphan", "d"), "d");
    EXPECT_EQ(ini.ReadString("Other", "key", "d"), "cr only");
    EXPECT_EQ(ini.ReadString("System", "Shadowed", "d"), "d") << "a repeated section is never read";
    EXPECT_EQ(ini.ReadString("Missing", "Key", "d"), "d");
    EXPECT_FALSE(ini.SectionExists("orphan"));

    // Everything inside sections survives, normalised; the rest is dropped.
    EXPECT_EQ(ini.GetText(), "[system]\r\n"
                             "currentdirectory=\"/tmp/a b\"\r\n"
                             "no equals sign\r\n"
                             "Empty=\r\n"
                             "a=b=c\r\n"
                             "A=second\r\n"
                             "\r\n"
                             "[Other]\r\n"
                             "Key=cr only\r\n"
                             "\r\n"
                             "[SYSTEM]\r\n"
                             "Shadowed=1\r\n"
                             "\r\n");

    // Headers need both brackets; a byte order mark is skipped.
    TMemIniFile headers("");
    headers.SetText("\xEF\xBB\xBF[First]\nk=1\n[unclosed\nk=2\n[]\nk=3\n[ Spaced Name ]\nk=4\n");
    EXPECT_EQ(headers.ReadInteger("First", "k", 0), 1) << "byte order mark skipped";
    EXPECT_EQ(headers.ReadString("First", "[unclosed", "d"), "d");
    EXPECT_EQ(headers.ReadInteger("", "k", 0), 3);
    EXPECT_EQ(headers.ReadInteger("spaced name", "k", 0), 4);
}

TEST(Zel_inifiles, IntegersAndBooleans)
{
    TMemIniFile ini("");
    ini.SetText("[S]\nhex=0x1F\nHEX=0X1f\nletters=abc\nbig=2147483648\nmin=-2147483648\n"
                "plus=+7\nbare=0x\nneghex=0x-1\nwidehex=0xFFFFFFFF\ntail=12abc\nsigns=+-1\n"
                "empty=\nzero=0\ntwo=2\nminus=-\n");
    EXPECT_EQ(ini.ReadInteger("S", "hex", -1), 31);
    EXPECT_EQ(ini.ReadInteger("S", "Hex", -1), 31) << "first of the case-equal keys";
    EXPECT_EQ(ini.ReadInteger("S", "min", -1), INT_MIN);
    EXPECT_EQ(ini.ReadInteger("S", "plus", -1), 7);
    for (const char* bad : {"letters", "big", "bare", "neghex", "widehex", "tail", "signs", "empty", "minus"})
        EXPECT_EQ(ini.ReadInteger("S", bad, -5), -5) << bad;
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_TRUE(ini.ReadBool("S", "letters", true));
    EXPECT_FALSE(ini.ReadBool("S", "missing", false));
}

TEST(Zel_inifiles, WritingReplacesInPlaceOrAppends)
{
    TMemIniFile ini("");
    ini.SetText("[A]\nx=1\nfree text\ny=2\n[B]\nz=3\n[a]\nq=4\n");
    ini.WriteString("a", "X", "one");
    ini.WriteInteger("A", "New", -12);
    ini.WriteBool("C", "Flag", true);
    ini.WriteBool("c", "Off", false);
    ini.WriteString("B", "z", "line\r\nbreak\n[Injected]");
    EXPECT_EQ(ini.GetText(), "[A]\r\nX=one\r\nfree text\r\ny=2\r\nNew=-12\r\n\r\n"
                             "[B]\r\nz=line  break [Injected]\r\n\r\n"
                             "[a]\r\nq=4\r\n\r\n"
                             "[C]\r\nFlag=1\r\nOff=0\r\n\r\n");
    EXPECT_EQ(ini.ReadInteger("a", "new", 0), -12);

    ini.Clear();
    EXPECT_EQ(ini.GetText(), "");
    EXPECT_FALSE(ini.SectionExists("A"));
    ini.WriteString("A", "k", "v");
    EXPECT_EQ(ini.GetText(), "[A]\r\nk=v\r\n\r\n");
}

TEST(Zel_inifiles, LargeSectionsKeepFirstMatchSemantics)
{
    // Enough keys that the section is looked up through its index.
    std::string text = "[Big]\nDup=first\n";
    for (int i = 0; i < 100; ++i)
        text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    text += "dup=second\n";
    TMemIniFile ini("");
    ini.SetText(text);
    EXPECT_EQ(ini.ReadString("big", "DUP", ""), "first");
    EXPECT_EQ(ini.ReadInteger("Big", "key99", -1), 99);
    ini.WriteString("Big", "DUP", "replaced");
    ini.WriteString("Big", "Appended", "yes");
    EXPECT_EQ(ini.ReadString("Big", "dup", ""), "replaced");
    EXPECT_EQ(ini.ReadString("Big", "appended", ""), "yes");
    const std::string out = ini.GetText();
    EXPECT_EQ(out.find("[Big]\r\nDUP=replaced\r\nKey0=0\r\n"), 0u);
    EXPECT_NE(out.find("dup=second\r\nAppended=yes\r\n\r\n"), std::string::npos);

    // Sections added one by one outgrow the section index several times.
    for (int i = 0; i < 1000; ++i)
        ini.WriteInteger("Items[" + std::to_string(i) + "]", "Index", i);
    int wrong = 0;
    for (int i = 0; i < 1000; ++i)
        wrong += ini.ReadInteger("ITEMS[" + std::to_string(i) + "]", "index", -1) != i;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ini.ReadString("Big", "Key0", ""), "0");
}

TEST(Zel_inifiles, OddBytesAreKeptAsTheyAre)
{
    const std::string nul("a\0b", 3);
    const std::string invalid = "\xFF\xFE\xC3(";
    const std::string longValue(1 << 20, 'v');
    TMemIniFile ini("");
    ini.SetText("[" + invalid + "]\n" + invalid + "=" + nul + "\nLong=" + longValue + "\n");
    EXPECT_EQ(ini.ReadString(invalid, invalid, ""), nul);
    EXPECT_EQ(ini.ReadString(invalid, "long", ""), longValue);

    TMemIniFile again("");
    again.SetText(ini.GetText());
    EXPECT_EQ(again.GetText(), ini.GetText());
}

TEST(Zel_inifiles, FileIsReadWhenItExists)
{
    TTempDir dir;
    TMemIniFile missing(dir / "Settings.ini");
    EXPECT_EQ(missing.GetText(), "");
    EXPECT_EQ(missing.FileName(), dir / "Settings.ini");

    dir.WriteFile("Settings.ini", "[System]\r\nCurrentDirectory=\"/x\"\r\n");
    TMemIniFile present(dir / "Settings.ini");
    EXPECT_EQ(present.ReadString("System", "CurrentDirectory", ""), "\"/x\"");

    // Exists but cannot be read: a directory, or a file without permission.
    fs::create_directory(dir / "Folder.ini");
    try {
        TMemIniFile folder(dir / "Folder.ini");
        ADD_FAILURE() << "a directory was read as settings";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(e.Message(), "The program could not read the settings file.");
    }
    dir.WriteFile("Locked.ini", "[A]\r\n");
    ::chmod((dir / "Locked.ini").c_str(), 0);
    TUnprivileged unprivileged;
    EXPECT_THROW(TMemIniFile(dir / "Locked.ini"), EIniFileError);
}

TEST(Zel_inifiles, UpdateFileReplacesTheFile)
{
    TTempDir dir;
    const std::string path = dir / "Settings.ini";
    dir.WriteFile("Settings.ini", "[Old]\r\nk=v\r\n");
    ::chmod(path.c_str(), 0640);

    TMemIniFile ini(path);
    ini.Clear();
    ini.WriteString("New", "Key", "Value");
    ini.UpdateFile();
    EXPECT_EQ(ReadFile(path), "[New]\r\nKey=Value\r\n\r\n");
    EXPECT_EQ(dir.Names(), std::set<std::string>{"Settings.ini"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the permissions";

    // A symbolic link stays a link; its target gets the content.
    fs::create_directory(dir / "real");
    dir.WriteFile("real/target.ini", "old");
    fs::create_symlink("real/target.ini", dir / "Linked.ini");
    TMemIniFile linked(dir / "Linked.ini");
    linked.SetText("[L]\nk=1\n");
    linked.UpdateFile();
    EXPECT_TRUE(fs::is_symlink(dir / "Linked.ini"));
    EXPECT_EQ(ReadFile(dir / "real/target.ini"), "[L]\r\nk=1\r\n\r\n");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"Linked.ini", "Settings.ini", "real"}));
}

TEST(Zel_inifiles, FailedSaveLeavesTheOldFileAlone)
{
    const std::string old = "[Keep]\r\nMe=1\r\n";
    auto expectWriteError = [](const TMemIniFile& ini) {
        try {
            ini.UpdateFile();
            ADD_FAILURE() << "the save reported success";
        } catch (const EIniFileError& e) {
            EXPECT_EQ(e.Message(), "The program could not write the settings file.");
        }
    };

    {   // A directory that cannot take a new file.
        TTempDir dir;
        dir.WriteFile("Settings.ini", old);
        ::chmod(dir.Path().c_str(), 0555);
        {
            TUnprivileged unprivileged;
            TMemIniFile ini(dir / "Settings.ini");
            ini.WriteString("Keep", "Me", "2");
            expectWriteError(ini);
        }
        EXPECT_EQ(ReadFile(dir / "Settings.ini"), old);
        EXPECT_EQ(dir.Names(), std::set<std::string>{"Settings.ini"});
    }
    {   // The device fills up while writing.
        TTempDir dir;
        dir.WriteFile("Settings.ini", old);
        SetIniFileWriteHookForTesting([](int fd) {
            const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
            ASSERT_GE(full, 0);
            ::dup3(full, fd, O_CLOEXEC);
            ::close(full);
        });
        TMemIniFile ini(dir / "Settings.ini");
        ini.WriteString("Keep", "Me", std::string(100000, 'x'));
        expectWriteError(ini);
        SetIniFileWriteHookForTesting(nullptr);
        EXPECT_EQ(ReadFile(dir / "Settings.ini"), old);
        EXPECT_EQ(dir.Names(), std::set<std::string>{"Settings.ini"}) << "temporary file left behind";
    }
    {   // The directory is gone.
        TTempDir dir;
        TMemIniFile ini(dir / "missing/Settings.ini");
        ini.WriteString("A", "b", "c");
        expectWriteError(ini);
    }
}

TEST(Zel_inifiles, ReadOnlyFileInWritableDirectoryIsReplaced)
{
    // Like any rename-based save: the directory decides, and the file keeps
    // its read-only mode afterwards.
    TTempDir dir;
    const std::string path = dir / "Settings.ini";
    dir.WriteFile("Settings.ini", "[Old]\r\n");
    ::chmod(path.c_str(), 0444);
    TUnprivileged unprivileged;
    TMemIniFile ini(path);
    ini.WriteString("New", "k", "v");
    ini.UpdateFile();
    EXPECT_EQ(ReadFile(path), "[Old]\r\n\r\n[New]\r\nk=v\r\n\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}
