#pragma once
// Record files: a text file of records, one a line, that one process owns
// under an advisory lock (flock) for as long as it lives. A thread of its own
// writes it, so the GUI thread never waits for the disk; the file is read back
// tolerantly. What the records mean is the caller's business.
//
// A record is a tag and fields, each field after one blank. A field holds any
// bytes: every byte up to the blank, DEL and "%" is written as "%XX", an empty
// field as "-" and a lone "-" as "%2D", so a line never holds a blank, a line
// break or a control byte of its own.
//
// Crash safety: a line is appended with the lines of the same batch in one
// write(); a reader takes a last line without its line break as cut off. A
// whole new content is written to "<name>.new", locked, and renamed over the
// file, so the name always holds a complete file and its lock moves with it.

#include "Zel_autopointers.h"
#include "Zel_base.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class QObject;

// A record file could not be read, written, created or removed; carries the
// system's reason.
class ERecordFileError : public Exception {
public:
    using Exception::Exception;
};

// Appends " " and bytes as one field.
void AppendRecordField(std::string& line, std::string_view bytes);
// Appends " " and the number in decimal.
void AppendRecordNumber(std::string& line, std::uint64_t number);
// Decodes one field into bytes; false when it is not a well-formed field.
bool DecodeRecordField(std::string_view field, std::string& bytes);
// Decimal digits only, at most 18 of them.
bool DecodeRecordNumber(std::string_view field, std::uint64_t& number);
// The fields of a line, split at each blank (the tag is the first).
void SplitRecord(std::string_view line, std::vector<std::string_view>& fields);

// The complete lines of a file's text, without their line breaks. A last
// line without its line break was cut off while it was written: it is left
// out and truncated is set.
std::vector<std::string_view> SplitRecordLines(std::string_view text, bool& truncated);

// The record files in dir named prefix...suffix, newest first by their last
// change. Empty when the directory cannot be read.
std::vector<std::string> FindRecordFiles(const std::string& dir, std::string_view prefix,
                                         std::string_view suffix);
// Removes "<name>.new" files in dir whose writer is gone and whose file is
// gone too (the writer died while it made its first file).
void RemoveOrphanRecordFiles(const std::string& dir, std::string_view prefix, std::string_view suffix);

// A record file whose writer is gone, held under its lock until this goes.
class TRecordFileClaim {
public:
    // Locks path when nobody holds it and it is still the file of that name;
    // nothing when its writer lives, or it went or was replaced meanwhile.
    // The writer's unfinished "<path>.new" goes.
    static std::optional<TRecordFileClaim> Take(const std::string& path);

    TRecordFileClaim(TRecordFileClaim&& other) noexcept;
    TRecordFileClaim& operator=(TRecordFileClaim&& other) noexcept;
    TRecordFileClaim(const TRecordFileClaim&) = delete;
    TRecordFileClaim& operator=(const TRecordFileClaim&) = delete;
    ~TRecordFileClaim();

    const std::string& Path() const noexcept { return FPath; }
    // The whole file (ERecordFileError when it cannot be read).
    std::string ReadAll() const;
    // Deletes the file and lets go of it (ERecordFileError when it stays).
    void Remove();
    // Hands the open, locked file over; the claim holds nothing afterwards.
    int Release() noexcept;

private:
    TRecordFileClaim(std::string path, int fd) : FPath(std::move(path)), FFd(fd) {}

    std::string FPath;
    int FFd = -1;
};

// The writer thread's side of a record file: what jobs may do.
class TRecordFileWriter {
public:
    // Appends one line (without its line break). The first line after the
    // file was made, removed or adopted makes a new file: header, then it.
    virtual void Append(std::string_view line) = 0;
    // Makes text (whole lines, each ended by a line break) the new content
    // after the header, replacing the file at once.
    virtual void Replace(std::string text) = 0;
    // The file's text as it stands, header included; empty when there is none.
    virtual std::string ReadBack() = 0;
    // Deletes the file; the next line makes a new one.
    virtual void Remove() = 0;
    // Bytes in the file now, and right after it was last made whole.
    virtual std::uint64_t Size() const = 0;
    virtual std::uint64_t BaseSize() const = 0;

protected:
    ~TRecordFileWriter() = default;
};

// One record file, written in the order of the jobs posted to it by a thread
// of its own. Nothing touches the disk before the first line. The data reaches
// the disk (fdatasync) at most once a second, and at Sync. Going away runs
// what was posted, syncs and closes: the file stays. After the first failure
// nothing more is written and OnError tells the GUI thread once.
class TRecordFile {
public:
    using TJob = std::function<void(TRecordFileWriter& writer)>;

    // path: the file's name; header: its first line (without line break).
    TRecordFile(std::string path, std::string header);
    TRecordFile(const TRecordFile&) = delete;
    TRecordFile& operator=(const TRecordFile&) = delete;
    ~TRecordFile();

    // Fired on the GUI thread with the system's reason.
    std::function<void(TRecordFile& sender, const std::string& message)> OnError;

    // The file's name (it changes when a claim is adopted).
    const std::string& Path() const noexcept { return FPath; }

    // Queues a job; returns its ticket. GUI thread.
    std::uint64_t Post(TJob job);
    // True once the job of that ticket and all before it have run, so their
    // lines are in the kernel (or the file has failed).
    bool IsDone(std::uint64_t ticket) const;
    // Waits until IsDone. A wait longer than a frame keeps the event loop
    // running, user input held back, so the window stays painted; it also ends
    // when the application quits.
    void WaitDone(std::uint64_t ticket);
    // The file becomes the claimed one, under its lock; the next line
    // replaces the claimed content. This file's own must not exist yet.
    std::uint64_t Adopt(TRecordFileClaim claim);
    // The data reaches the disk now.
    std::uint64_t Sync();
    // Deletes the file (the next line makes a new one), even after a failure.
    std::uint64_t Remove();

private:
    class TWriter;

    struct TQueued {
        std::uint64_t Ticket;
        TJob Job;
        bool EvenAfterFailure;
    };

    std::uint64_t Queue(TJob job, bool evenAfterFailure);
    void Run() noexcept;
    void ReportError(const std::string& message);

    std::string FPath;
    TAutoPointer<TWriter> FWriter;
    TAutoPointer<QObject> FContext; // delivers OnError on the GUI thread

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    mutable std::condition_variable FDoneChanged;
    std::deque<TQueued> FQueue;
    std::uint64_t FPosted = 0;
    std::uint64_t FDone = 0;
    bool FStop = false;
    std::thread FThread;
};
