#include "Zel_journalfiles.h"

#include "TempDirectory.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when someone holds path's lock.
bool IsLocked(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

void Append(TRecordFile& file, const std::string& line)
{
    file.WaitDone(file.Post([line](TRecordFileWriter& writer) { writer.Append(line); }));
}

} // namespace

TEST(Zel_journalfiles, FieldsCarryAnyBytesAndMalformedFieldsAreRefused)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    for (const std::string& bytes : {all, std::string(), std::string("-"), std::string("%"), std::string("a b\nc"),
                                     std::string("--"), std::string("/home/u/r\xE9sum\xE9.txt")}) {
        std::string line = "T";
        AppendRecordField(line, bytes);
        AppendRecordNumber(line, 1234567890123ull);
        ASSERT_EQ(line.find_first_of("\n\r\t", 0), std::string::npos);
        std::vector<std::string_view> fields;
        SplitRecord(line, fields);
        ASSERT_EQ(fields.size(), 3u);
        std::string decoded;
        ASSERT_TRUE(DecodeRecordField(fields[1], decoded));
        EXPECT_EQ(decoded, bytes);
        std::uint64_t number = 0;
        ASSERT_TRUE(DecodeRecordNumber(fields[2], number));
        EXPECT_EQ(number, 1234567890123ull);
    }
    std::string bytes;
    for (const char* bad : {"", "%", "%4", "%G0", "a\tb", "a\rb", "x%"})
        EXPECT_FALSE(DecodeRecordField(bad, bytes)) << bad;
    std::uint64_t number = 0;
    for (const char* bad : {"", "-1", "+1", "1x", "9999999999999999999"})
        EXPECT_FALSE(DecodeRecordNumber(bad, number)) << bad;

    bool truncated = false;
    EXPECT_EQ(SplitRecordLines("h\na b\ncut", truncated), (std::vector<std::string_view>{"h", "a b"}));
    EXPECT_TRUE(truncated);
    EXPECT_EQ(SplitRecordLines("h\n\n", truncated), (std::vector<std::string_view>{"h", ""}));
    EXPECT_FALSE(truncated);
}

// The file appears with its first line, stays locked while its writer lives,
// keeps its lock through a whole rewrite, and outlives the writer unlocked.
TEST(Zel_journalfiles, WriterOwnsItsFileUnderALockThatMovesWithEveryRewrite)
{
    TTempDirectory temp;
    const std::string path = temp / "Journal-1.journal";
    {
        TRecordFile file(path, "Header 1");
        file.WaitDone(file.Sync());
        EXPECT_FALSE(::access(path.c_str(), F_OK) == 0) << "nothing before the first line";
        Append(file, "A one");
        Append(file, "B two");
        EXPECT_EQ(ReadFileText(path), "Header 1\nA one\nB two\n");
        EXPECT_TRUE(IsLocked(path));
        EXPECT_FALSE(TRecordFileClaim::Take(path).has_value());

        std::uint64_t base = 0;
        std::string back;
        file.WaitDone(file.Post([&](TRecordFileWriter& writer) {
            writer.Append("C three");
            back = writer.ReadBack();
            writer.Replace("Z whole\n");
        }));
        file.WaitDone(file.Post([&](TRecordFileWriter& writer) { base = writer.BaseSize(); }));
        EXPECT_EQ(back, "Header 1\nA one\nB two\nC three\n");
        EXPECT_EQ(ReadFileText(path), "Header 1\nZ whole\n");
        EXPECT_EQ(base, ReadFileText(path).size());
        EXPECT_TRUE(IsLocked(path)) << "the new file was locked before it took the name";
        EXPECT_NE(::access((path + ".new").c_str(), F_OK), 0);

        file.WaitDone(file.Remove());
        EXPECT_NE(::access(path.c_str(), F_OK), 0);
        Append(file, "D again");
        EXPECT_EQ(ReadFileText(path), "Header 1\nD again\n");
        Append(file, "E last");
    }
    EXPECT_EQ(ReadFileText(path), "Header 1\nD again\nE last\n") << "going away writes everything and keeps the file";
    EXPECT_FALSE(IsLocked(path));

    std::optional<TRecordFileClaim> claim = TRecordFileClaim::Take(path);
    ASSERT_TRUE(claim.has_value());
    EXPECT_EQ(claim->ReadAll(), "Header 1\nD again\nE last\n");
    EXPECT_FALSE(TRecordFileClaim::Take(path).has_value()) << "one claimant at a time";

    // Taken over, the claimed content goes with the first line written.
    {
        TRecordFile file(temp / "Journal-2.journal", "Header 1");
        file.WaitDone(file.Adopt(std::move(*claim)));
        EXPECT_EQ(file.Path(), path);
        EXPECT_TRUE(IsLocked(path));
        EXPECT_EQ(ReadFileText(path), "Header 1\nD again\nE last\n");
        Append(file, "F fresh");
        EXPECT_EQ(ReadFileText(path), "Header 1\nF fresh\n");
        EXPECT_TRUE(IsLocked(path));
    }
    EXPECT_NE(::access((temp / "Journal-2.journal").c_str(), F_OK), 0);
}

TEST(Zel_journalfiles, FindingListsNewestFirstAndClearsOnlyDeadWritersLeftovers)
{
    TTempDirectory temp;
    const std::string older = temp.WriteFile("Journal-a.journal", "x\n");
    const std::string newer = temp.WriteFile("Journal-b.journal", "x\n");
    temp.WriteFile("Other-c.journal", "x\n");
    temp.WriteFile("Journal-d.txt", "x\n");
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, older.c_str(), old, 0), 0);
    EXPECT_EQ(FindRecordFiles(temp.Path(), "Journal-", ".journal"), (std::vector<std::string>{newer, older}));
    EXPECT_TRUE(FindRecordFiles(temp / "missing", "Journal-", ".journal").empty());

    // A dead writer's first file, never renamed into place, and a live one's.
    const std::string orphan = temp.WriteFile("Journal-e.journal.new", "half");
    const std::string live = temp.WriteFile("Journal-f.journal.new", "half");
    const int fd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const std::string withMain = temp.WriteFile("Journal-b.journal.new", "half");
    RemoveOrphanRecordFiles(temp.Path(), "Journal-", ".journal");
    EXPECT_NE(::access(orphan.c_str(), F_OK), 0);
    EXPECT_EQ(::access(live.c_str(), F_OK), 0);
    EXPECT_EQ(::access(withMain.c_str(), F_OK), 0) << "left to whoever claims its file";
    ::close(fd);

    // Claiming a dead writer's file clears its half-made replacement.
    ASSERT_TRUE(TRecordFileClaim::Take(newer).has_value());
    EXPECT_NE(::access(withMain.c_str(), F_OK), 0);
}

// A file that cannot be written is reported once; the writer goes on taking
// jobs without writing.
TEST(Zel_journalfiles, AFailureIsReportedOnceAndNothingMoreIsWritten)
{
    TTempDirectory temp;
    const std::string notADirectory = temp.WriteFile("plain", "x");
    std::vector<std::string> errors;
    {
        TRecordFile file(notADirectory + "/Journal-1.journal", "Header 1");
        file.OnError = [&](TRecordFile&, const std::string& message) { errors.push_back(message); };
        Append(file, "A one");
        Append(file, "B two");
        file.WaitDone(file.Sync());
        QApplication::processEvents();
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "The program could not create the file \"" + notADirectory +
                             "/Journal-1.journal.new\": Not a directory.");
}
