#pragma once
// The document journal: while the document list is not empty, each instance
// keeps the list and its results in a file of its own beside the settings, so
// that a list outlives a crash, a kill or a power loss. At start the journals
// of instances that are gone are offered back, newest first.
//
// The file ("Journal-<pid>-<hex>.journal") is a record file (Zel_journalfiles)
// whose first line is "Dorvane journal 1" and whose every other line is one
// change of the list, replayed in order:
//   A (result path reason)...   documents appended at the end
//   D index...                  documents deleted (ascending positions)
//   M (old new)...              documents moved, one permutation
//   R (index result reason)...  results set
// Results are 0 None, 1 Success, 2 Failure. A list that becomes empty deletes
// the file; a file that grew to twice its last whole content plus 4 MiB is
// rewritten whole.

#include "App_documents.h"
#include "Zel_autopointers.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TRecordFile;
class TRecordFileClaim;
class TRecordFileWriter;

extern const char* const JournalHeader; // "Dorvane journal 1"

struct TJournalDocument {
    std::string Path;
    TDocumentEntryResult Result = TDocumentEntryResult::None;
    // Why the document failed; any bytes, empty when nothing is known.
    std::string Reason;
    bool operator==(const TJournalDocument&) const = default;
};

struct TJournalContents {
    std::vector<TJournalDocument> Documents;
    // Something after the readable part could not be read: a cut-off last
    // line, garbage, or an unknown version (then nothing is readable).
    bool Damaged = false;
};

// Replays a journal's text. Stops at the first line that is not a complete,
// well-formed change of the list as it stands, so it never yields a path that
// is not absolute or an index outside the list.
TJournalContents ReadJournal(std::string_view text);

// The lines of a list as a whole, each ended by a line break, without the header.
std::string FormatJournalSnapshot(const std::vector<TJournalDocument>& documents);

// The documents that still exist are added at the end of the model, in order
// and with their results, through its Add; returns the paths of those left out.
TStringDynArray RestoreDocuments(TDocumentEntriesModel& model, const std::vector<TJournalDocument>& documents);

// "Dorvane did not close normally. Restore its list of %d documents and their results?"
std::string RestoreQuestion(std::size_t count);
// The documents left out: at most ten paths, then the count of the rest.
std::string LeftOutMessage(const TStringDynArray& paths);

// This instance's journal. The main form passes the document list's events on;
// nothing is written while the list stays empty.
class TDocumentJournal {
public:
    // The journal lives in directory, which is made when needed.
    explicit TDocumentJournal(std::string directory);
    TDocumentJournal(const TDocumentJournal&) = delete;
    TDocumentJournal& operator=(const TDocumentJournal&) = delete;
    // Writes what is queued and keeps the file, as after a crash.
    ~TDocumentJournal();

    // The journal cannot be kept any longer; fired once, on the GUI thread.
    std::function<void(TDocumentJournal& sender, const std::string& message)> OnError;

    // Each copies what changed and returns; the writing happens elsewhere.
    void EntriesAdded(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);
    void EntriesDeleted(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);
    void EntriesCleared(TDocumentEntriesModel& sender);
    void EntriesReordered(TDocumentEntriesModel& sender, const TReorderRecords& records);
    // A Success or Failure among the changes is written (in the kernel)
    // before this returns, so a run never starts the next document first.
    void EntriesChanged(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);

    // Asks the disk to keep everything written so far (end of a run, session end).
    void Sync();
    // A normal close: the file goes.
    void Discard();
    // Waits until everything posted so far is written.
    void Flush();
    // Everything posted so far is written.
    bool IsWritten() const;

    // For each journal whose instance is gone, newest first: says what could
    // not be read, asks the restore question, and restores (Yes) or deletes
    // (No). The first restored journal becomes this one; a later one goes once
    // its documents are written here. Stops, leaving the files, as soon as
    // ending() answers true (the session ends while a box is up).
    void Recover(TDocumentEntriesModel& model, const std::function<bool()>& ending);

    // The file's name (it changes when a journal is taken over).
    const std::string& Path() const;

private:
    void Post(std::function<void(TRecordFileWriter&)> job);
    void Fail(const std::string& message);
    bool RestoreOne(TDocumentEntriesModel& model, const std::vector<TJournalDocument>& documents,
                    TRecordFileClaim& claim, const std::function<bool()>& ending);

    std::string FDirectory;
    TAutoPointer<TRecordFile> FFile;
    std::uint64_t FLastTicket = 0;
    bool FFailed = false;
};
