#include "Zel_shellfiles.h"

#include "IconThemes.h"
#include "TempDirectory.h"
#include "Zel_glib.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// The desktop database is read on first use, so the system's data
// directories are put in place before anything runs.
const bool DataDirsSet = ::setenv("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/", 1) == 0;

std::string Describe(const char* contentType)
{
    const TGCharPointer description(g_content_type_get_description(contentType));
    return description ? description.get() : "";
}

template <typename Call>
std::string ShellErrorOf(Call call)
{
    try {
        call();
    } catch (const EShellFileError& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace

TEST(Zel_shellfiles, OneQueryPerExtensionWhateverItsCase)
{
    ASSERT_TRUE(DataDirsSet);
    TTempDirectory dir;
    const std::string a = dir.WriteFile("a.txt");
    const std::string b = dir.MakeDir("other") + "/B.TXT";
    ASSERT_EQ(::symlink(a.c_str(), b.c_str()), 0);

    TFileTypeCache cache;
    const std::string& first = cache.GetTypeName(a);
    const std::string& second = cache.GetTypeName(b);
    EXPECT_EQ(&first, &second); // one string for every .txt
    EXPECT_EQ(&cache.GetFileTypeName("/elsewhere/c.Txt"), &first);
    EXPECT_EQ(cache.FileTypeCount(), 1u);
    EXPECT_EQ(first, Describe("text/plain"));
    EXPECT_NE(first, "text/plain type"); // the database was found

    // Keys are upper-cased, so .c and .C share one; the answer is the common
    // lower-case one whichever came first.
    TFileTypeCache upperFirst;
    EXPECT_EQ(upperFirst.GetFileTypeName("/src/x.C"), Describe("text/x-csrc"));
    EXPECT_EQ(&upperFirst.GetFileTypeName("/src/y.c"), &upperFirst.GetFileTypeName("/src/x.C"));

    // Paths are expanded before the extension is taken.
    EXPECT_EQ(&cache.GetFileTypeName("/d/a.TXT/"), &first);
    EXPECT_EQ(&cache.GetFileTypeName("/d/a.txt/../b.gz/."), &cache.GetFileTypeName("/x.GZ"));
    EXPECT_EQ(cache.FileTypeCount(), 2u);
}

TEST(Zel_shellfiles, FilesWithoutExtensionShareOneKey)
{
    TFileTypeCache makefileFirst;
    TFileTypeCache readmeFirst;
    const std::string& name = makefileFirst.GetFileTypeName("/src/Makefile");
    EXPECT_EQ(&makefileFirst.GetFileTypeName("/src/README"), &name);
    EXPECT_EQ(&makefileFirst.GetFileTypeName("/x.d/file"), &name);
    EXPECT_EQ(&makefileFirst.GetFileTypeName("/a/b.c/.."), &name); // that is "/a"
    EXPECT_EQ(makefileFirst.FileTypeCount(), 1u);
    // The name does not depend on which file was asked about first.
    EXPECT_EQ(readmeFirst.GetFileTypeName("/src/README"), name);
    // The dot alone and a leading dot are extensions of their own.
    EXPECT_NE(&makefileFirst.GetFileTypeName("/src/a."), &name);
    EXPECT_NE(&makefileFirst.GetFileTypeName("/home/.bashrc"), &name);
    EXPECT_EQ(makefileFirst.FileTypeCount(), 3u);
}

TEST(Zel_shellfiles, DirectoriesHaveOneTypeName)
{
    TTempDirectory dir;
    const std::string one = dir.MakeDir("one.txt");
    const std::string two = dir.MakeDir(".two");
    ASSERT_EQ(::symlink(one.c_str(), (dir / "link").c_str()), 0);

    TFileTypeCache cache;
    const std::string& name = cache.GetTypeName(one);
    EXPECT_EQ(name, Describe("inode/directory"));
    EXPECT_EQ(&cache.GetTypeName(two), &name);
    EXPECT_EQ(&cache.GetTypeName(dir / "link"), &name);
    EXPECT_EQ(&cache.GetTypeName("/"), &name);
    EXPECT_EQ(&cache.GetDirectoryTypeName(), &name);
    EXPECT_EQ(cache.FileTypeCount(), 0u);

    // A caller that knows what the path is needs no look at the disk.
    EXPECT_EQ(&cache.GetTypeNameFor("/no/such/dir.txt", true), &name);
    EXPECT_EQ(cache.GetTypeNameFor("/no/such/file.txt", false), Describe("text/plain"));
}

TEST(Zel_shellfiles, MissingPathsAndClear)
{
    TTempDirectory dir;
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "dangling.txt").c_str()), 0);
    TFileTypeCache cache;
    const std::string cannotDetermine = "The program cannot determine the file type.";
    EXPECT_EQ(ShellErrorOf([&] { cache.GetTypeName(dir / "missing.txt"); }), cannotDetermine);
    EXPECT_EQ(ShellErrorOf([&] { cache.GetTypeName(dir / "dangling.txt"); }), cannotDetermine);
    EXPECT_EQ(ShellErrorOf([&] { cache.GetTypeName(""); }), cannotDetermine);
    EXPECT_EQ(cache.FileTypeCount(), 0u);
    EXPECT_EQ(cache.GetFileTypeName(dir / "missing.txt"), Describe("text/plain"));
    cache.GetDirectoryTypeName();
    EXPECT_EQ(cache.FileTypeCount(), 1u);

    cache.Clear();
    EXPECT_EQ(cache.FileTypeCount(), 0u);
    EXPECT_EQ(cache.GetFileTypeName("/a.txt"), Describe("text/plain"));
    EXPECT_EQ(cache.GetDirectoryTypeName(), Describe("inode/directory"));
    EXPECT_EQ(cache.FileTypeCount(), 1u);

    EXPECT_EQ(&SharedFileTypeCache(), &SharedFileTypeCache());
}

TEST(Zel_shellfiles, TypePicturesComeFromTheIconThemeOncePerPicture)
{
    QTemporaryDir themes;
    MakeIconTheme(themes.path(), "zt",
                  {{"text-x-generic", Qt::blue}, {"x-office-document", Qt::green}, {"application-pdf", Qt::red},
                   {"folder", Qt::yellow}});
    TIconThemeGuard theme(themes.path(), "zt");
    const auto colour = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage().pixelColor(8, 8); };

    TFileTypeCache cache;
    const TFileTypeCache::TEntry& text = cache.GetEntryFor("/d/a.txt", false);
    const TFileTypeCache::TEntry& csv = cache.GetEntryFor("/d/b.csv", false);
    const TFileTypeCache::TEntry& odt = cache.GetEntryFor("/d/c.odt", false);
    const TFileTypeCache::TEntry& pdf = cache.GetEntryFor("/d/d.pdf", false);
    const TFileTypeCache::TEntry& directory = cache.GetEntryFor("/d", true);
    const TFileTypeCache::TEntry& unknown = cache.GetEntryFor("/d/e.zzq", false);
    EXPECT_EQ(&cache.GetTypeNameFor("/x/A.TXT", false), &text.TypeName());
    EXPECT_EQ(text.IconNames().front(), "text-plain");
    // Both are drawn as the generic page; the PDF's own picture wins over the
    // generic document that the theme also has and that is known already.
    EXPECT_EQ(csv.ImageIndex(), text.ImageIndex());
    EXPECT_NE(pdf.ImageIndex(), odt.ImageIndex());
    EXPECT_EQ(unknown.ImageIndex(), -1);
    ASSERT_EQ(cache.Images().size(), 4u);
    EXPECT_EQ(colour(cache.Images()[text.ImageIndex()]), QColor(Qt::blue));
    EXPECT_EQ(colour(cache.Images()[odt.ImageIndex()]), QColor(Qt::green));
    EXPECT_EQ(colour(cache.Images()[pdf.ImageIndex()]), QColor(Qt::red));
    EXPECT_EQ(colour(cache.Images()[directory.ImageIndex()]), QColor(Qt::yellow));

    // Read once: the pictures stay what they were when the theme goes, and
    // the painting needs no theme file.
    QIcon::setThemeName("none");
    EXPECT_EQ(colour(cache.Images()[text.ImageIndex()]), QColor(Qt::blue));
    EXPECT_EQ(cache.GetEntryFor("/e/f.txt", false).ImageIndex(), text.ImageIndex());

    // Without a theme the types have no picture, and the owner keeps its own.
    cache.Clear();
    EXPECT_TRUE(cache.Images().empty());
    EXPECT_EQ(cache.GetEntryFor("/e/f.txt", false).ImageIndex(), -1);
    EXPECT_EQ(cache.GetEntryFor("/e", true).ImageIndex(), -1);
    EXPECT_TRUE(cache.Images().empty());
}

TEST(Zel_shellfiles, GlibHoldersReleaseWhatTheyHold)
{
    TGErrorPointer error;
    const TGObjectPointer<GFile> file(g_file_new_for_path("/no/such/file"));
    const TGObjectPointer<GFileInfo> info(
        g_file_query_info(file.get(), "standard::type", G_FILE_QUERY_INFO_NONE, nullptr, TGErrorReceiver(error)));
    EXPECT_FALSE(info);
    ASSERT_TRUE(error);
    EXPECT_TRUE(g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_NOT_FOUND));
    const TGStrvPointer parts(g_strsplit("a:b:c", ":", -1));
    EXPECT_EQ(g_strv_length(parts.get()), 3u);
}
