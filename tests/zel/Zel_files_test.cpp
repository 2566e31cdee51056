#include "Zel_files.h"

#include "TempDirectory.h"
#include "TestGuards.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Call>
std::string ErrorOf(Call call)
{
    try {
        call();
    } catch (const EFileError& e) {
        return e.Message();
    }
    return "no error";
}

const std::string LongPathError = "The program could not get the long path of the file.";
const std::string FindFileError = "The program could not find the file.";

} // namespace

TEST(Zel_files, AbsolutePathsAndWildcards)
{
    EXPECT_TRUE(IsAbsolutePath("/"));
    EXPECT_TRUE(IsAbsolutePath("/home/a.txt"));
    EXPECT_FALSE(IsAbsolutePath(""));
    EXPECT_FALSE(IsAbsolutePath("a.txt"));
    EXPECT_FALSE(IsAbsolutePath("./a"));
    EXPECT_FALSE(IsAbsolutePath("~/a"));
    EXPECT_FALSE(IsAbsolutePath("C:\\a.txt"));
    EXPECT_NO_THROW(CheckAbsolutePath("/x"));
    try {
        CheckAbsolutePath("report.txt");
        ADD_FAILURE() << "relative path accepted";
    } catch (const EPathError& e) {
        EXPECT_EQ(e.Message(), "The path is not in absolute form.");
    }

    EXPECT_TRUE(HasWildcards("/a/*.txt"));
    EXPECT_TRUE(HasWildcards("/a/b?"));
    EXPECT_FALSE(HasWildcards("/a/[b].txt"));
    EXPECT_FALSE(HasWildcards(std::string("/a\0*", 4))); // the scan ends at NUL
}

TEST(Zel_files, ExpansionIsLexical)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/", "/"},
        {"//", "/"},
        {"/..", "/"},
        {"/../../a", "/a"},
        {"/a/b/../c", "/a/c"},
        {"/a/./b/", "/a/b"},
        {"//a//b//", "/a/b"},
        {"/a/b/..", "/a"},
        {"/a/..", "/"},
        {"/a/.../b", "/a/.../b"},
        {"/a/.b/..c", "/a/.b/..c"},
        {"/Docs/../Docs/report.txt", "/Docs/report.txt"},
        {"/a b/\n/\xff\xfe", "/a b/\n/\xff\xfe"},
        {"", ""},
    };
    for (const auto& [path, expanded] : cases) {
        EXPECT_EQ(ExpandFileName(path), expanded) << path;
        EXPECT_EQ(IsExpandedPath(path), path == expanded && !path.empty()) << path;
    }
    EXPECT_FALSE(IsExpandedPath("a/b"));

    TTempDirectory dir;
    TCurrentDirGuard guard;
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    EXPECT_EQ(GetCurrentDir(), dir.Path());
    EXPECT_EQ(ExpandFileName("x/../y.txt"), dir / "y.txt");
    EXPECT_EQ(ExpandFileName("."), dir.Path());
    EXPECT_FALSE(SetCurrentDir(dir / "missing"));
    EXPECT_FALSE(SetCurrentDir(std::string("/\0tmp", 5)));
    EXPECT_EQ(GetCurrentDir(), dir.Path());
}

TEST(Zel_files, PathSplitting)
{
    EXPECT_EQ(ExtractFileDir("/dir/a.txt"), "/dir");
    EXPECT_EQ(ExtractFileDir("/a.txt"), "/");
    EXPECT_EQ(ExtractFileDir("/"), "/");
    EXPECT_EQ(ExtractFileDir("/a/b/"), "/a/b");
    EXPECT_EQ(ExtractFileDir("a.txt"), "");
    EXPECT_EQ(ExtractFileName("/dir/a.txt"), "a.txt");
    EXPECT_EQ(ExtractFileName("/"), "");
    EXPECT_EQ(ExtractFileName("a.txt"), "a.txt");
    EXPECT_EQ(ExtractFileExt("/dir/a.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("/x.d/file"), "");
    EXPECT_EQ(ExtractFileExt("/dir/.bashrc"), ".bashrc");
    EXPECT_EQ(ExtractFileExt("/dir/a."), ".");
    EXPECT_EQ(ExtractFileExt("a.TXT"), ".TXT");
}

TEST(Zel_files, FileUrlsOfThisMachineGiveTheirDecodedPaths)
{
    for (const char* url : {"file:///tmp/a%20b", "file://localhost/tmp/a%20b", "FILE://LocalHost/tmp/a%20b",
                            "file:/tmp/a%20b", "file:///tmp/a b"})
        EXPECT_EQ(FileUrlToPath(url), std::optional<std::string>("/tmp/a b")) << url;
    // Escapes are bytes: UTF-8 or not, and a "%" only as "%25".
    EXPECT_EQ(FileUrlToPath("file:///%C3%BC/caf%e9%2541"), std::optional<std::string>("/\xC3\xBC/caf\xE9%41"));
    EXPECT_EQ(FileUrlToPath("file:///"), std::optional<std::string>("/"));

    for (const char* url : {"file://elsewhere/tmp/a", "file://localhost.example/a", "file://localhost", "file://",
                            "file:tmp/a", "/tmp/a", "https://localhost/a", "file:///a?b", "file:///a#b",
                            "file:///a%2", "file:///a%g0", "file:///a%00b", "fil:///a"})
        EXPECT_EQ(FileUrlToPath(url), std::nullopt) << url;
}

TEST(Zel_files, LongPathOfExistingThings)
{
    TTempDirectory dir;
    const std::string file = dir.WriteFile("a.txt", "x");
    const std::string sub = dir.MakeDir("sub");
    const std::string odd = dir.WriteFile("blank name\nnew line \xff\xfe.txt");
    ASSERT_EQ(::symlink(sub.c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "dangling").c_str()), 0);
    dir.WriteFile("a*b");

    EXPECT_EQ(GetLongPath(dir / "sub/../a.txt"), file);
    EXPECT_EQ(GetLongPath(dir.Path() + "//sub/./"), sub);
    EXPECT_EQ(GetLongPath(odd), odd);
    EXPECT_EQ(GetLongPath(dir / "link"), dir / "link"); // links are kept, not resolved
    EXPECT_EQ(GetLongPath("/"), "/");
    EXPECT_EQ(GetLongPath("/../.."), "/");

    EXPECT_EQ(ErrorOf([&] { GetLongPath(dir / "missing"); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { GetLongPath(dir / "dangling"); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { GetLongPath(dir / "a*b"); }), LongPathError); // even though it exists
    EXPECT_EQ(ErrorOf([&] { GetLongPath(dir / "a?b"); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { GetLongPath(dir / "a.txt/x"); }), LongPathError);
    // A NUL cut short would name another file than the one returned.
    EXPECT_EQ(ErrorOf([&] { GetLongPath(file + std::string("\0zzz", 4)); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { GetLongPath(""); }), LongPathError);

    TCurrentDirGuard guard;
    ASSERT_TRUE(SetCurrentDir(sub));
    EXPECT_EQ(GetLongPath("../a.txt"), file);

    std::string longPath = "unchanged";
    EXPECT_EQ(ErrorOf([&] { GetLongPathRecord(dir / "missing", longPath); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { GetLongPathRecord(dir / "*", longPath); }), LongPathError);
    EXPECT_EQ(longPath, "unchanged");
    const TFileRecord record = GetLongPathRecord(dir / "link/../a.txt", longPath);
    EXPECT_EQ(longPath, file);
    EXPECT_EQ(record.FileName, "a.txt");
    EXPECT_EQ(record.Size(), 1u);
}

TEST(Zel_files, RecordsCarryAttributesTimesAndSizes)
{
    TTempDirectory dir;
    const std::string file = dir.WriteFile("plain.bin", std::string(1234, 'z'));
    const std::string hidden = dir.WriteFile(".hidden");
    const std::string sub = dir.MakeDir("sub");
    const std::string hiddenDir = dir.MakeDir(".cache");
    ASSERT_EQ(::symlink(sub.c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "dangling").c_str()), 0);

    EXPECT_EQ(FindFile(file).Attributes(), FileAttributeNormal);
    EXPECT_EQ(FindFile(file).Size(), 1234u);
    EXPECT_EQ(FindFile(file).FileName, "plain.bin");
    EXPECT_EQ(FindFile(hidden).Attributes(), FileAttributeHidden);
    EXPECT_EQ(FindFile(sub).Attributes(), FileAttributeDirectory);
    EXPECT_EQ(FindFile(sub).Size(), 0u);
    EXPECT_EQ(FindFile(hiddenDir).Attributes(), FileAttributeDirectory | FileAttributeHidden);
    EXPECT_EQ(FindFile(dir / "link").Attributes(), FileAttributeDirectory);
    EXPECT_EQ(FindFile(dir / "link").FileName, "link");
    EXPECT_EQ(FindFile("/").FileName, "/");
    EXPECT_EQ(FindFile("/").Attributes() & FileAttributeDirectory, FileAttributeDirectory);

    EXPECT_EQ(ErrorOf([&] { FindFile(dir / "dangling"); }), FindFileError);
    EXPECT_EQ(ErrorOf([&] { FindFile(dir / "missing"); }), FindFileError);
    EXPECT_EQ(ErrorOf([&] { FindFile(file + std::string("\0x", 2)); }), FindFileError);

    // 2012-06-24 09:05:00.1234567 UTC, and the Unix epoch.
    const timespec times[2] = {{0, 0}, {1340528700, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const TFileRecord record = FindFile(file);
    EXPECT_EQ(record.LastWriteTime(), 129850023001234567u);
    EXPECT_EQ(record.FileLastAccessTime, 116444736000000000u);

    // Sizes beyond 32 bits are split into halves; the file stays sparse.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const bool truncated = ::ftruncate(fd, (5LL << 30) + 7) == 0;
    ::close(fd);
    if (truncated) {
        const TFileRecord big = FindFile(file);
        EXPECT_EQ(big.FileSizeHigh, 1u);
        EXPECT_EQ(big.FileSizeLow, (1u << 30) + 7);
        EXPECT_EQ(big.Size(), (5ULL << 30) + 7);
    }
}

TEST(Zel_files, ReadOnlyMeansTheUserMayNotWrite)
{
    TTempDirectory dir;
    const std::string locked = dir.WriteFile("locked");
    const std::string open = dir.WriteFile("open");
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0666), 0);
    // Agrees with what the kernel answers this process.
    for (const std::string& path : {locked, open}) {
        EXPECT_EQ((FindFile(path).Attributes() & FileAttributeReadOnly) != 0,
                  ::access(path.c_str(), W_OK) != 0) << path;
    }
    if (::geteuid() != 0) {
        EXPECT_EQ(FindFile(locked).Attributes(), FileAttributeReadOnly);
    }
}

TEST(Zel_files, ReadOnlyForAnOrdinaryUser)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "covered by ReadOnlyMeansTheUserMayNotWrite";
    }
    // Root may write anything, so look as an ordinary user: a fresh process
    // that gives up root before it first reads a record (the identity is
    // read once a process).
    TTempDirectory dir;
    const std::string locked = dir.WriteFile("locked");
    const std::string open = dir.WriteFile("open");
    ASSERT_EQ(::chmod(open.c_str(), 0666), 0);
    // Ours to clean up as that user too: this body runs again in the child.
    ASSERT_EQ(::chown(dir.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0644), 0);
    const std::string group = dir.WriteFile("group");
    ASSERT_EQ(::chmod(group.c_str(), 0664), 0);
    ASSERT_EQ(::chown(group.c_str(), 0, 65534), 0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::_Exit(100);
            // Owner root with 0644: read-only to others; 0666 writable;
            // 0664 in our group writable.
            const int code = (FindFile(locked).Attributes() & FileAttributeReadOnly ? 1 : 0)
                | (FindFile(open).Attributes() & FileAttributeReadOnly ? 2 : 0)
                | (FindFile(group).Attributes() & FileAttributeReadOnly ? 4 : 0);
            for (const std::string& path : {locked, open, group})
                ::unlink(path.c_str());
            ::rmdir(dir.Path().c_str());
            std::_Exit(code);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST(Zel_files, PathsLongerThanPathMax)
{
    TTempDirectory dir;
    const std::string component(200, 'd');
    std::string path = dir.Path();
    int parent = ::open(dir.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(parent, 0);
    while (path.size() < PATH_MAX + 200) {
        ASSERT_EQ(::mkdirat(parent, component.c_str(), 0755), 0);
        const int child = ::openat(parent, component.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(parent);
        ASSERT_GE(child, 0);
        parent = child;
        path += "/" + component;
    }
    const int fd = ::openat(parent, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ::close(parent);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "abc", 3), 3);
    ::close(fd);

    const std::string file = path + "/deep.txt";
    ASSERT_GT(file.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(GetLongPath(file), file);
    EXPECT_EQ(GetLongPath(path + "/" + component + "/../deep.txt"), file);
    EXPECT_EQ(FindFile(file).Size(), 3u);
    EXPECT_EQ(FindFile(path + "/").Attributes(), FileAttributeDirectory);
    EXPECT_EQ(FindFile(path + "//deep.txt").FileName, "deep.txt");
    EXPECT_EQ(ErrorOf([&] { GetLongPath(path + "/missing"); }), LongPathError);
    EXPECT_EQ(ErrorOf([&] { FindFile(file + "/"); }), FindFileError);
    EXPECT_EQ(ErrorOf([&] { FindFile(dir / std::string(PATH_MAX, 'n')); }), FindFileError);
}
