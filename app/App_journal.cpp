#include "App_journal.h"

#include "App_common.h"
#include "Zel_dialogs.h"
#include "Zel_journalfiles.h"
#include "Zel_locations.h"
#include "Zel_translations.h"

#include <random>

#include <unistd.h>

const char* const JournalHeader = "Dorvane journal 1";

namespace {

constexpr const char* JournalPrefix = "Journal-";
constexpr const char* JournalSuffix = ".journal";
// Lines of a rewritten whole list hold this many documents each.
constexpr std::size_t SnapshotChunk = 4096;
// A file is rewritten whole once it holds this much beyond twice its last whole content.
constexpr std::uint64_t CompactSlack = 4u << 20;
// The left-out box names at most this many paths.
constexpr std::size_t LeftOutShown = 10;

bool DecodeResult(std::string_view field, TDocumentEntryResult& result)
{
    if (field.size() != 1 || field[0] < '0' || field[0] > '2')
        return false;
    result = static_cast<TDocumentEntryResult>(field[0] - '0');
    return true;
}

void AppendResult(std::string& line, TDocumentEntryResult result)
{
    AppendRecordNumber(line, static_cast<std::uint64_t>(result));
}

void AppendDocument(std::string& line, const TJournalDocument& document)
{
    AppendResult(line, document.Result);
    AppendRecordField(line, document.Path);
    AppendRecordField(line, document.Reason);
}

bool DecodeIndex(std::string_view field, std::size_t count, std::size_t& index)
{
    std::uint64_t number = 0;
    if (!DecodeRecordNumber(field, number) || number >= count)
        return false;
    index = static_cast<std::size_t>(number);
    return true;
}

// Applies one line to the list; false, with the list unchanged, when the
// line is not a well-formed change of the list as it stands.
bool ApplyLine(std::vector<TJournalDocument>& list, const std::vector<std::string_view>& fields)
{
    const std::string_view tag = fields[0];
    const std::size_t values = fields.size() - 1;
    if (tag == "A") {
        if (values == 0 || values % 3 != 0)
            return false;
        std::vector<TJournalDocument> added(values / 3);
        for (std::size_t i = 0; i < added.size(); ++i) {
            TJournalDocument& document = added[i];
            if (!DecodeResult(fields[1 + 3 * i], document.Result) ||
                !DecodeRecordField(fields[2 + 3 * i], document.Path) ||
                !DecodeRecordField(fields[3 + 3 * i], document.Reason))
                return false;
            if (document.Path.empty() || document.Path[0] != '/' ||
                document.Path.find('\0') != std::string::npos)
                return false;
        }
        list.insert(list.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        return true;
    }
    if (tag == "D") {
        if (values == 0)
            return false;
        std::vector<bool> gone(list.size(), false);
        std::size_t previous = 0;
        for (std::size_t i = 1; i <= values; ++i) {
            std::size_t index = 0;
            if (!DecodeIndex(fields[i], list.size(), index) || (i > 1 && index <= previous))
                return false;
            gone[index] = true;
            previous = index;
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (gone[i])
                continue;
            if (kept != i)
                list[kept] = std::move(list[i]);
            ++kept;
        }
        list.resize(kept);
        return true;
    }
    if (tag == "M") {
        if (values == 0 || values % 2 != 0)
            return false;
        // Old and new positions must each be distinct and name the same rows.
        std::vector<unsigned char> marks(list.size(), 0);
        std::vector<std::pair<std::size_t, std::size_t>> moves(values / 2);
        for (std::size_t i = 0; i < moves.size(); ++i) {
            auto& [from, to] = moves[i];
            if (!DecodeIndex(fields[1 + 2 * i], list.size(), from) || !DecodeIndex(fields[2 + 2 * i], list.size(), to))
                return false;
            if ((marks[from] & 1) || (marks[to] & 2))
                return false;
            marks[from] |= 1;
            marks[to] |= 2;
        }
        for (const unsigned char mark : marks)
            if (mark == 1 || mark == 2)
                return false;
        std::vector<TJournalDocument> moved(moves.size());
        for (std::size_t i = 0; i < moves.size(); ++i)
            moved[i] = std::move(list[moves[i].first]);
        for (std::size_t i = 0; i < moves.size(); ++i)
            list[moves[i].second] = std::move(moved[i]);
        return true;
    }
    if (tag == "R") {
        if (values == 0 || values % 3 != 0)
            return false;
        std::vector<std::pair<std::size_t, TJournalDocument>> changes(values / 3);
        for (std::size_t i = 0; i < changes.size(); ++i) {
            auto& [index, document] = changes[i];
            if (!DecodeIndex(fields[1 + 3 * i], list.size(), index) ||
                !DecodeResult(fields[2 + 3 * i], document.Result) ||
                !DecodeRecordField(fields[3 + 3 * i], document.Reason))
                return false;
        }
        for (auto& [index, document] : changes) {
            list[index].Result = document.Result;
            list[index].Reason = std::move(document.Reason);
        }
        return true;
    }
    return false;
}

std::string NewJournalName()
{
    std::random_device random;
    char name[64];
    std::snprintf(name, sizeof name, "%s%ld-%08x%s", JournalPrefix, static_cast<long>(::getpid()),
                  static_cast<unsigned>(random()), JournalSuffix);
    return name;
}

// Rewrites the file whole once the changes appended to it outweigh it.
void CompactIfGrown(TRecordFileWriter& writer)
{
    if (writer.Size() <= 2 * writer.BaseSize() + CompactSlack)
        return;
    const TJournalContents contents = ReadJournal(writer.ReadBack());
    writer.Replace(FormatJournalSnapshot(contents.Documents));
}

} // namespace

TJournalContents ReadJournal(std::string_view text)
{
    TJournalContents contents;
    bool truncated = false;
    const std::vector<std::string_view> lines = SplitRecordLines(text, truncated);
    if (lines.empty() || lines[0] != JournalHeader) {
        contents.Damaged = true;
        return contents;
    }
    std::vector<std::string_view> fields;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SplitRecord(lines[i], fields);
        if (!ApplyLine(contents.Documents, fields)) {
            contents.Damaged = true;
            return contents;
        }
    }
    contents.Damaged = truncated;
    return contents;
}

std::string FormatJournalSnapshot(const std::vector<TJournalDocument>& documents)
{
    std::string text;
    for (std::size_t start = 0; start < documents.size(); start += SnapshotChunk) {
        text += 'A';
        const std::size_t end = std::min(documents.size(), start + SnapshotChunk);
        for (std::size_t i = start; i < end; ++i)
            AppendDocument(text, documents[i]);
        text += '\n';
    }
    return text;
}

TStringDynArray RestoreDocuments(TDocumentEntriesModel& model, const std::vector<TJournalDocument>& documents)
{
    TStringDynArray leftOut;
    TDocumentEntryList entries;
    entries.reserve(documents.size());
    for (const TJournalDocument& document : documents) {
        try {
            auto entry = std::make_unique<TDocumentEntry>(document.Path);
            entry->SetResult(document.Result, document.Reason);
            entries.push_back(std::move(entry));
        } catch (const EDocumentEntryCreateError&) {
            leftOut.push_back(document.Path);
        }
    }
    model.Add(std::move(entries));
    return leftOut;
}

std::string RestoreQuestion(std::size_t count)
{
    // The English has one form for every count.
    // TRANSLATORS: after a crash: %1 is the number of documents in the list that can be restored
    return FormatText(TrN("Dorvane did not close normally. Restore its list of %1 documents and their results?",
                          "Dorvane did not close normally. Restore its list of %1 documents and their results?",
                          count),
                      {std::to_string(count)});
}

std::string LeftOutMessage(const TStringDynArray& paths)
{
    // TRANSLATORS: after a crash: the paths of the documents not restored follow, one a line
    std::string text = Tr("These documents no longer exist and were left out:");
    const std::size_t shown = std::min(paths.size(), LeftOutShown);
    for (std::size_t i = 0; i < shown; ++i)
        text += "\n" + paths[i];
    if (paths.size() > shown) {
        const std::size_t more = paths.size() - shown;
        // TRANSLATORS: the last line of the list of documents not restored: %1 is how many are not named
        text += "\n" + FormatText(TrN("... and %1 more.", "... and %1 more.", more), {std::to_string(more)});
    }
    return text;
}

// --- TDocumentJournal ---

TDocumentJournal::TDocumentJournal(std::string directory) : FDirectory(std::move(directory))
{
    const std::string base = FDirectory.empty() || FDirectory.back() == '/' ? FDirectory : FDirectory + "/";
    FFile = std::make_unique<TRecordFile>(base + NewJournalName(), JournalHeader);
    FFile->OnError = [this](TRecordFile&, const std::string& message) { Fail(message); };
}

TDocumentJournal::~TDocumentJournal() = default;

const std::string& TDocumentJournal::Path() const
{
    return FFile->Path();
}

void TDocumentJournal::Post(std::function<void(TRecordFileWriter&)> job)
{
    if (FFailed)
        return;
    if (FLastTicket == 0)
        ForceDirectories(FDirectory);
    FLastTicket = FFile->Post(std::move(job));
}

void TDocumentJournal::Fail(const std::string& message)
{
    if (FFailed)
        return;
    FFailed = true;
    if (OnError)
        OnError(*this, message);
}

// Each handler copies what it needs at once and leaves the formatting and
// the writing to the journal's thread. A handler that cannot follow the list
// stops the journal: a file that missed a change would restore a wrong list.
void TDocumentJournal::EntriesAdded(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes)
{
    if (FFailed || indexes.empty())
        return;
    try {
        // One block for all paths: a copy per path would cost an allocation each.
        struct TAdded {
            std::string Paths;
            std::vector<std::size_t> Ends;
            std::vector<TDocumentEntryResult> Results;
            // Only the few that have one, by position among the added.
            std::vector<std::pair<std::size_t, std::string>> Reasons;
        } added;
        std::size_t total = 0;
        for (const int index : indexes)
            total += sender.GetItem(index)->Path().size();
        added.Paths.reserve(total);
        added.Ends.reserve(indexes.size());
        added.Results.reserve(indexes.size());
        for (const int index : indexes) {
            const TDocumentEntry& entry = *sender.GetItem(index);
            added.Paths += entry.Path();
            added.Ends.push_back(added.Paths.size());
            added.Results.push_back(entry.Result());
            if (!entry.Reason().empty())
                added.Reasons.emplace_back(added.Results.size() - 1, entry.Reason());
        }
        Post([added = std::move(added)](TRecordFileWriter& writer) {
            std::string line = "A";
            line.reserve(added.Paths.size() + added.Ends.size() * 8);
            std::size_t start = 0;
            auto reason = added.Reasons.begin();
            for (std::size_t i = 0; i < added.Ends.size(); ++i) {
                AppendResult(line, added.Results[i]);
                AppendRecordField(line, std::string_view(added.Paths).substr(start, added.Ends[i] - start));
                const bool hasReason = reason != added.Reasons.end() && reason->first == i;
                AppendRecordField(line, hasReason ? std::string_view((reason++)->second) : std::string_view());
                start = added.Ends[i];
            }
            writer.Append(line);
            CompactIfGrown(writer);
        });
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void TDocumentJournal::EntriesDeleted(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes)
{
    if (FFailed || indexes.empty())
        return;
    if (sender.GetCount() == 0) {
        EntriesCleared(sender);
        return;
    }
    try {
        Post([indexes](TRecordFileWriter& writer) {
            std::string line = "D";
            for (const int index : indexes)
                AppendRecordNumber(line, static_cast<std::uint64_t>(index));
            writer.Append(line);
            CompactIfGrown(writer);
        });
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void TDocumentJournal::EntriesCleared(TDocumentEntriesModel&)
{
    if (FLastTicket != 0)
        FLastTicket = FFile->Remove();
}

void TDocumentJournal::EntriesReordered(TDocumentEntriesModel&, const TReorderRecords& records)
{
    if (FFailed || records.empty())
        return;
    try {
        Post([records](TRecordFileWriter& writer) {
            std::string line = "M";
            line.reserve(records.size() * 16);
            for (const TReorderRecord& record : records) {
                AppendRecordNumber(line, static_cast<std::uint64_t>(record.OldIndex));
                AppendRecordNumber(line, static_cast<std::uint64_t>(record.NewIndex));
            }
            writer.Append(line);
            CompactIfGrown(writer);
        });
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void TDocumentJournal::EntriesChanged(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes)
{
    if (FFailed || indexes.empty())
        return;
    try {
        struct TChange {
            int Index;
            TDocumentEntryResult Result;
            std::string Reason;
        };
        std::vector<TChange> changes(indexes.size());
        bool opened = false;
        for (std::size_t i = 0; i < indexes.size(); ++i) {
            const TDocumentEntry& entry = *sender.GetItem(indexes[i]);
            changes[i] = {indexes[i], entry.Result(), entry.Reason()};
            opened = opened || changes[i].Result != TDocumentEntryResult::None;
        }
        Post([changes = std::move(changes)](TRecordFileWriter& writer) {
            std::string line = "R";
            for (const TChange& change : changes) {
                AppendRecordNumber(line, static_cast<std::uint64_t>(change.Index));
                AppendResult(line, change.Result);
                AppendRecordField(line, change.Reason);
            }
            writer.Append(line);
            CompactIfGrown(writer);
        });
        // A document the run has started must be on record before the next one starts.
        if (opened)
            FFile->WaitDone(FLastTicket);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void TDocumentJournal::Sync()
{
    if (!FFailed && FLastTicket != 0)
        FLastTicket = FFile->Sync();
}

void TDocumentJournal::Discard()
{
    if (FLastTicket != 0)
        FLastTicket = FFile->Remove();
}

void TDocumentJournal::Flush()
{
    if (FLastTicket != 0)
        FFile->WaitDone(FLastTicket);
}

bool TDocumentJournal::IsWritten() const
{
    return FFile->IsDone(FLastTicket);
}

void TDocumentJournal::Recover(TDocumentEntriesModel& model, const std::function<bool()>& ending)
{
    RemoveOrphanRecordFiles(FDirectory, JournalPrefix, JournalSuffix);
    for (const std::string& path : FindRecordFiles(FDirectory, JournalPrefix, JournalSuffix)) {
        if (ending())
            return;
        if (path == FFile->Path())
            continue;
        std::optional<TRecordFileClaim> claim = TRecordFileClaim::Take(path);
        if (!claim)
            continue; // its instance lives
        TJournalContents contents;
        try {
            contents = ReadJournal(claim->ReadAll());
        } catch (const ERecordFileError& e) {
            ShowErrorBox(e.Message(), AppTitle);
            continue;
        }
        if (contents.Damaged) {
            const std::size_t count = contents.Documents.size();
            // Whole sentences for the translators; the English has one form for every count.
            std::string message;
            if (count == 0)
                // TRANSLATORS: %1 is the path of a journal file of the document list
                message = FormatText(Tr("The journal \"%1\" is damaged: no documents could be read from it."), {path});
            else
                // TRANSLATORS: %1 is the path of a journal file of the document list, %2 the number of documents read
                message = FormatText(TrN("The journal \"%1\" is damaged: only %2 documents could be read from it.",
                                         "The journal \"%1\" is damaged: only %2 documents could be read from it.",
                                         count),
                                     {path, std::to_string(count)});
            ShowMessageBox(message, AppTitle, TMsgDlgType::Warning, mbOK, mbOK);
            if (ending())
                return;
        }
        if (contents.Documents.empty()) {
            claim->Remove();
            continue;
        }
        if (!RestoreOne(model, contents.Documents, *claim, ending))
            return;
    }
}

bool TDocumentJournal::RestoreOne(TDocumentEntriesModel& model, const std::vector<TJournalDocument>& documents,
                                  TRecordFileClaim& claim, const std::function<bool()>& ending)
{
    const bool yes = ConfirmBox(RestoreQuestion(documents.size()), AppTitle);
    if (ending())
        return false;
    if (!yes) {
        claim.Remove();
        return true;
    }
    // The first list restored takes its file over: until its documents are
    // written here the file still holds them.
    const bool takeOver = model.GetCount() == 0 && FLastTicket == 0 && !FFailed;
    if (takeOver)
        FLastTicket = FFile->Adopt(std::move(claim));
    const TStringDynArray leftOut = RestoreDocuments(model, documents);
    if (takeOver) {
        if (model.GetCount() == 0)
            Discard();
    } else {
        Flush();
        claim.Remove();
    }
    if (!leftOut.empty())
        ShowInformationBox(LeftOutMessage(leftOut), AppTitle);
    return !ending();
}
