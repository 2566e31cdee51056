#include "App_documents.h"

#include "Zel_clipboard.h"
#include "Zel_files.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"
#include "Zel_shellfiles.h"
#include "Zel_strings.h"
#include "Zel_translations.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace {

const char* const UnsupportedResultError = TrNoop("The program does not support the result.");

// Line breaks would split a path in the clipboard's one-path-per-line text,
// and a NUL would cut it short on its way to the disk. Paths are UTF-8
// everywhere else in the program, so bytes that are not are refused too.
bool IsAcceptablePath(std::string_view path) noexcept
{
    return path.find_first_of(std::string_view("\0\n\r", 3)) == std::string_view::npos && IsValidUtf8(path);
}

// The user's locale, asked once; the comparers run often and making a
// collator is not cheap.
QCollator& UserCollator()
{
    static QCollator collator;
    return collator;
}

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// File names never differ by case alone in the list's order.
QString FileNameCollationText(std::string_view text)
{
    return ToQString(text).toLower();
}

int Sign(int value) noexcept
{
    return (value > 0) - (value < 0);
}

int CompareFileNames(std::string_view a, std::string_view b)
{
    return Sign(UserCollator().compare(FileNameCollationText(a), FileNameCollationText(b)));
}

template <typename T>
int CompareNumbers(T a, T b) noexcept
{
    return (a > b) - (a < b);
}

} // namespace

const char* DocumentEntryResultText(TDocumentEntryResult result)
{
    switch (result) {
    case TDocumentEntryResult::None:
        // TRANSLATORS: the Result column of a document not yet opened in this list
        return Tr("None");
    case TDocumentEntryResult::Success:
        // TRANSLATORS: the Result column of a document the program opened
        return Tr("Success");
    case TDocumentEntryResult::Failure:
        // TRANSLATORS: the Result column of a document the program could not open
        return Tr("Failure");
    }
    throw EAppError(Tr(UnsupportedResultError));
}

int DocumentEntryResultSortRank(TDocumentEntryResult result)
{
    switch (result) {
    case TDocumentEntryResult::None:
        return 2;
    case TDocumentEntryResult::Success:
        return 0;
    case TDocumentEntryResult::Failure:
        return 1;
    }
    throw EAppError(Tr(UnsupportedResultError));
}

int DocumentEntryResultImageIndex(TDocumentEntryResult result)
{
    switch (result) {
    case TDocumentEntryResult::None:
        return TDocumentEntry::NoneImageIndex;
    case TDocumentEntryResult::Success:
        return TDocumentEntry::SuccessImageIndex;
    case TDocumentEntryResult::Failure:
        return TDocumentEntry::FailureImageIndex;
    }
    throw EAppError(Tr(UnsupportedResultError));
}

// ---------------------------------------------------------------------------
// TDocumentEntry

TDocumentEntry::TDocumentEntry(const std::string& path)
{
    try {
        if (!IsAcceptablePath(path))
            throw EPathError(Tr("The path cannot be a document's path."));
        CheckAbsolutePath(path);
        const TFileRecord record = GetLongPathRecord(path, FPath);
        const bool directory = record.Attributes() & FileAttributeDirectory;
        FType = &SharedFileTypeCache().GetEntryFor(FPath, directory);
        FSize = record.Size();
        FLastWriteTime = record.LastWriteTime();
        FAttributes = static_cast<std::uint16_t>(record.Attributes());
    } catch (const EFileError&) {
        // TRANSLATORS: %1 is the path of a file or directory
        throw EDocumentEntryCreateError(
            FormatText(Tr("The program could not create a document entry with the path \"%1\"."), {path}));
    }
    // Expansion reserves for the path as given; ".." components leave slack.
    if (FPath.capacity() > FPath.size() + 16)
        FPath.shrink_to_fit();
    FSlash = static_cast<std::uint32_t>(FPath.rfind('/'));
}

bool TDocumentEntry::IsFile() const
{
    return !IsDirectory();
}

bool TDocumentEntry::IsDirectory() const
{
    return FAttributes & FileAttributeDirectory;
}

std::string_view TDocumentEntry::Directory() const noexcept
{
    return std::string_view(FPath).substr(0, FSlash == 0 ? 1 : FSlash);
}

std::string_view TDocumentEntry::Name() const noexcept
{
    return std::string_view(FPath).substr(FSlash + 1);
}

std::string TDocumentEntry::GetNameText() const
{
    return std::string(Name());
}

std::string TDocumentEntry::GetDirectoryText() const
{
    return std::string(Directory());
}

std::string TDocumentEntry::GetSizeText() const
{
    if (IsDirectory())
        return {};
    // A file's size comes from an off_t, so it fits.
    // TRANSLATORS: the separator between groups of three digits in the Size
    // column (1,234,567): your language's thousands separator, such as "." or
    // a narrow no-break space
    return InsertSeparators(3, Tr(","), static_cast<std::int64_t>(std::min<std::uint64_t>(
                                        FSize, std::numeric_limits<std::int64_t>::max())));
}

std::string TDocumentEntry::GetTypeText() const
{
    return FType->TypeName();
}

std::string TDocumentEntry::GetLastWriteTimeText() const
{
    return FileTimeText(FLastWriteTime);
}

std::string TDocumentEntry::FileTimeText(std::uint64_t fileTime)
{
    if (fileTime == 0)
        // TRANSLATORS: the Last write time column when the time is not known
        return Tr("(Unknown)");
    constexpr std::int64_t EpochDelta = 11644473600; // seconds from 1601 to 1970
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / 10000000) - EpochDelta;
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (!localtime_r(&time, &fields))
        return Tr("(Unknown)");
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", fields.tm_year + 1900, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

void TDocumentEntry::SetResult(TDocumentEntryResult result) noexcept
{
    FResult = result;
    FReason.reset();
}

void TDocumentEntry::SetResult(TDocumentEntryResult result, std::string reason)
{
    FReason = reason.empty() ? nullptr : std::make_unique<const std::string>(std::move(reason));
    FResult = result;
}

const std::string& TDocumentEntry::Reason() const noexcept
{
    static const std::string none;
    return FReason ? *FReason : none;
}

std::string TDocumentEntry::GetResultText() const
{
    return DocumentEntryResultText(FResult);
}

int TDocumentEntry::GetImageIndex() const
{
    const int typeImage = FType->ImageIndex();
    if (TypeImageIndexBase >= 0 && typeImage >= 0)
        return TypeImageIndexBase + typeImage;
    return IsDirectory() ? DirectoryImageIndex : FileImageIndex;
}

int TDocumentEntry::GetResultImageIndex() const
{
    return DocumentEntryResultImageIndex(FResult);
}

int TDocumentEntry::ComparePath(const TDocumentEntry& a, const TDocumentEntry& b)
{
    return CompareFileNames(a.Path(), b.Path());
}

int TDocumentEntry::CompareDirectory(const TDocumentEntry& a, const TDocumentEntry& b)
{
    return CompareFileNames(a.Directory(), b.Directory());
}

int TDocumentEntry::CompareName(const TDocumentEntry& a, const TDocumentEntry& b)
{
    return CompareFileNames(a.Name(), b.Name());
}

int TDocumentEntry::CompareSize(const TDocumentEntry& a, const TDocumentEntry& b)
{
    const bool aDirectory = a.IsDirectory();
    const bool bDirectory = b.IsDirectory();
    if (aDirectory || bDirectory)
        return CompareNumbers<int>(!aDirectory, !bDirectory);
    return CompareNumbers(a.Size(), b.Size());
}

int TDocumentEntry::CompareType(const TDocumentEntry& a, const TDocumentEntry& b)
{
    if (a.FType == b.FType)
        return 0; // the cache gives every type name once
    return Sign(UserCollator().compare(ToQString(a.Type()), ToQString(b.Type())));
}

int TDocumentEntry::CompareLastWriteTime(const TDocumentEntry& a, const TDocumentEntry& b)
{
    return CompareNumbers(a.LastWriteTime(), b.LastWriteTime());
}

int TDocumentEntry::CompareResult(const TDocumentEntry& a, const TDocumentEntry& b)
{
    return DocumentEntryResultSortRank(a.Result()) - DocumentEntryResultSortRank(b.Result());
}

TDocumentEntryList CreateDocumentEntries(const TStringDynArray& paths)
{
    TDocumentEntryList entries;
    entries.reserve(paths.size());
    for (const std::string& path : paths)
        entries.push_back(std::make_unique<TDocumentEntry>(path));
    return entries;
}

// ---------------------------------------------------------------------------
// TDocumentEntriesModel

namespace {

QCollatorSortKey MakeSortKey(std::string_view text, bool fileName)
{
    return UserCollator().sortKey(fileName ? FileNameCollationText(text) : ToQString(text));
}

// For keys that are mostly distinct (paths, names): one collation key per
// entry, made once per sort, so the sort compares bytes instead of collating.
template <typename TText>
TReorderRecords SortByEntryKeys(const TDocumentEntryList& entries, TText text, bool fileNames)
{
    std::vector<QCollatorSortKey> keys;
    keys.reserve(entries.size());
    for (const auto& entry : entries)
        keys.push_back(MakeSortKey(text(*entry), fileNames));
    return TListAlgorithms::Sort(static_cast<int>(entries.size()), [&keys](int a, int b) {
        return keys[static_cast<std::size_t>(a)].compare(keys[static_cast<std::size_t>(b)]);
    });
}

// For keys that many entries share (directories, type names): one collation
// key per distinct text, the distinct texts ranked once, then the entries
// sorted by rank. Texts that collate alike share a rank.
template <typename TText>
TReorderRecords SortBySharedKeys(const TDocumentEntryList& entries, TText text, bool fileNames)
{
    std::unordered_map<std::string_view, int> distinct;
    std::vector<int> textOf;
    textOf.reserve(entries.size());
    std::vector<QCollatorSortKey> keys;
    for (const auto& entry : entries) {
        const std::string_view current = text(*entry);
        const auto [found, added] = distinct.try_emplace(current, static_cast<int>(keys.size()));
        if (added)
            keys.push_back(MakeSortKey(current, fileNames));
        textOf.push_back(found->second);
    }
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&keys](int a, int b) {
        return keys[static_cast<std::size_t>(a)].compare(keys[static_cast<std::size_t>(b)]) < 0;
    });
    std::vector<int> rankOf(keys.size());
    int rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i != 0
            && keys[static_cast<std::size_t>(order[i - 1])].compare(keys[static_cast<std::size_t>(order[i])]) != 0)
            ++rank;
        rankOf[static_cast<std::size_t>(order[i])] = rank;
    }
    for (int& t : textOf)
        t = rankOf[static_cast<std::size_t>(t)];
    return TListAlgorithms::Sort(static_cast<int>(entries.size()), [&textOf](int a, int b) {
        return CompareNumbers(textOf[static_cast<std::size_t>(a)], textOf[static_cast<std::size_t>(b)]);
    });
}

// Keys that are plain numbers, taken once per sort so the sort reads a
// compact array instead of chasing entry pointers.
template <typename TKey, typename TKeyOf>
TReorderRecords SortByNumber(const TDocumentEntryList& entries, TKeyOf keyOf)
{
    std::vector<TKey> keys;
    keys.reserve(entries.size());
    for (const auto& entry : entries)
        keys.push_back(keyOf(*entry));
    return TListAlgorithms::Sort(static_cast<int>(entries.size()), [&keys](int a, int b) {
        return CompareNumbers(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
    });
}

} // namespace

void TDocumentEntriesModel::DoAdded(const TIntegerDynArray& indexes)
{
    if (OnAdded)
        OnAdded(*this, indexes);
}

void TDocumentEntriesModel::DoDeleted(const TIntegerDynArray& indexes)
{
    if (OnDeleted)
        OnDeleted(*this, indexes);
}

void TDocumentEntriesModel::DoCleared()
{
    if (OnCleared)
        OnCleared(*this);
}

void TDocumentEntriesModel::DoReordered(const TReorderRecords& records)
{
    if (OnReordered)
        OnReordered(*this, records);
}

void TDocumentEntriesModel::DoChanged(const TIntegerDynArray& indexes)
{
    if (OnChanged)
        OnChanged(*this, indexes);
}

void TDocumentEntriesModel::Add(TDocumentEntryList entries)
{
    if (entries.empty())
        return;
    if (std::any_of(entries.begin(), entries.end(), [](const auto& entry) { return !entry; }))
        throw EInvalidOperation(Tr("The program cannot add a missing document entry."));
    if (entries.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) - FEntries.size())
        throw EListError(Tr("The program cannot add so many document entries."));
    const int first = GetCount();
    // Both allocations happen before the first entry moves, so a failure
    // leaves the list as it was and the entries with the caller's list.
    EnsureListCapacity(FEntries, static_cast<std::ptrdiff_t>(FEntries.size() + entries.size()));
    TIntegerDynArray indexes(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        indexes[i] = first + static_cast<int>(i);
        FEntries.push_back(std::move(entries[i]));
    }
    DoAdded(indexes);
}

void TDocumentEntriesModel::Delete(const TIntegerDynArray& indexes)
{
    if (indexes.empty())
        return;
    CheckIndexes(indexes);
    // One pass: destroy the doomed entries and close the gaps as we go,
    // which leaves what removing them from last to first would.
    std::size_t write = static_cast<std::size_t>(indexes.front());
    std::size_t next = 0;
    for (std::size_t read = write; read < FEntries.size(); ++read) {
        if (next < indexes.size() && read == static_cast<std::size_t>(indexes[next])) {
            FEntries[read].reset();
            ++next;
        } else {
            FEntries[write++] = std::move(FEntries[read]);
        }
    }
    FEntries.resize(write);
    DoDeleted(indexes);
}

void TDocumentEntriesModel::Clear()
{
    if (FEntries.empty())
        return;
    FEntries.clear();
    DoCleared();
}

void TDocumentEntriesModel::SortByPath()
{
    Reorder(SortByEntryKeys(FEntries, [](const TDocumentEntry& e) { return std::string_view(e.Path()); }, true));
}

void TDocumentEntriesModel::SortByDirectory()
{
    Reorder(SortBySharedKeys(FEntries, [](const TDocumentEntry& e) { return e.Directory(); }, true));
}

void TDocumentEntriesModel::SortByName()
{
    Reorder(SortByEntryKeys(FEntries, [](const TDocumentEntry& e) { return e.Name(); }, true));
}

void TDocumentEntriesModel::SortBySize()
{
    // Directories first, all equal; then files by size.
    using TSizeKey = std::pair<bool, std::uint64_t>;
    Reorder(SortByNumber<TSizeKey>(FEntries, [](const TDocumentEntry& e) {
        return e.IsDirectory() ? TSizeKey(false, 0) : TSizeKey(true, e.Size());
    }));
}

void TDocumentEntriesModel::SortByType()
{
    Reorder(SortBySharedKeys(FEntries, [](const TDocumentEntry& e) { return std::string_view(e.Type()); }, false));
}

void TDocumentEntriesModel::SortByLastWriteTime()
{
    Reorder(SortByNumber<std::uint64_t>(FEntries, [](const TDocumentEntry& e) { return e.LastWriteTime(); }));
}

void TDocumentEntriesModel::SortByResult()
{
    Reorder(SortByNumber<int>(FEntries, [](const TDocumentEntry& e) { return DocumentEntryResultSortRank(e.Result()); }));
}

void TDocumentEntriesModel::Reverse()
{
    Reorder(TListAlgorithms::Reverse(GetCount()));
}

void TDocumentEntriesModel::MoveUp(const TIntegerDynArray& indexes)
{
    CheckIndexes(indexes);
    Reorder(TListAlgorithms::Slide(GetCount(), indexes, -1));
}

void TDocumentEntriesModel::MoveDown(const TIntegerDynArray& indexes)
{
    CheckIndexes(indexes);
    Reorder(TListAlgorithms::Slide(GetCount(), indexes, 1));
}

void TDocumentEntriesModel::Reorder(const TReorderRecords& records)
{
    ReorderObjectList(FEntries, records);
    DoReordered(records);
}

void TDocumentEntriesModel::NotifyChanged(const TIntegerDynArray& indexes)
{
    DoChanged(indexes);
}

int TDocumentEntriesModel::IndexOf(const TDocumentEntry* entry) const
{
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].get() == entry)
            return static_cast<int>(i);
    return -1;
}

int TDocumentEntriesModel::IndexOfResult(TDocumentEntryResult result) const
{
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i]->Result() == result)
            return static_cast<int>(i);
    return -1;
}

TIntegerDynArray TDocumentEntriesModel::GetIndexesOfResult(TDocumentEntryResult result) const
{
    TDynamicArrayBuilder<int> builder;
    builder.SetCapacity(CountOfResult(result));
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i]->Result() == result)
            builder.Add(static_cast<int>(i));
    return builder.Extract();
}

int TDocumentEntriesModel::CountOfResult(TDocumentEntryResult result) const
{
    int count = 0;
    for (const auto& entry : FEntries)
        count += entry->Result() == result;
    return count;
}

int TDocumentEntriesModel::CountOfResultIn(TDocumentEntryResult result, const TIntegerDynArray& indexes) const
{
    int count = 0;
    for (int index : indexes)
        count += GetItem(index)->Result() == result;
    return count;
}

TDocumentEntry* TDocumentEntriesModel::GetItem(int index) const
{
    CheckListIndex(index, GetCount());
    return FEntries[static_cast<std::size_t>(index)].get();
}

void TDocumentEntriesModel::CheckIndexes(const TIntegerDynArray& indexes) const
{
    int previous = -1;
    for (int index : indexes) {
        CheckListIndex(index, GetCount());
        if (index <= previous)
            throw EListError(Tr("The list indexes are not in ascending order."));
        previous = index;
    }
}

// ---------------------------------------------------------------------------
// TDocumentEntriesSelection

TDocumentEntriesSelection::TDocumentEntriesSelection(TDocumentEntriesModel& model, TVirtualListView& listView)
    : FModel(model), FListView(listView)
{
}

void TDocumentEntriesSelection::EntriesAdded(TDocumentEntriesModel&, const TIntegerDynArray& indexes)
{
    if (indexes.empty())
        return;
    TListViewUpdate update(FListView);
    InsertListViewItems(FListView, indexes);
    SetListViewSelection(FListView, indexes);
    SetListViewItemFocused(FListView, indexes.back(), true);
    EnsureListViewItemVisible(FListView, indexes.back(), false);
}

void TDocumentEntriesSelection::EntriesDeleted(TDocumentEntriesModel&, const TIntegerDynArray& indexes)
{
    if (indexes.empty())
        return;
    TListViewUpdate update(FListView);
    DeleteListViewItems(FListView, indexes);
}

void TDocumentEntriesSelection::EntriesCleared(TDocumentEntriesModel&)
{
    if (FListView.ItemCount() == 0)
        return;
    TListViewUpdate update(FListView);
    FListView.SetItemCount(0);
}

void TDocumentEntriesSelection::EntriesReordered(TDocumentEntriesModel&, const TReorderRecords& records)
{
    if (records.empty())
        return;
    TListViewUpdate update(FListView);
    ReorderListViewItems(FListView, records);
}

void TDocumentEntriesSelection::EntriesChanged(TDocumentEntriesModel&, const TIntegerDynArray& indexes)
{
    if (indexes.empty())
        return;
    TListViewUpdate update(FListView);
    for (int index : indexes) {
        CheckListViewIndex(FListView, index);
        FListView.UpdateItems(index, index);
    }
}

void TDocumentEntriesSelection::SelectAll()
{
    const int count = FListView.ItemCount();
    if (count == 0)
        return;
    TListViewUpdate update(FListView);
    for (int i = 0; i < count; ++i)
        if (!(FListView.ItemState(i) & lvisSelected))
            SetListViewItemSelected(FListView, i, true);
}

void TDocumentEntriesSelection::UnselectAll()
{
    if (FListView.ItemCount() == 0)
        return;
    TListViewUpdate update(FListView);
    for (int index : GetListViewSelection(FListView))
        SetListViewItemSelected(FListView, index, false);
}

void TDocumentEntriesSelection::ReverseSelection()
{
    if (FListView.ItemCount() == 0)
        return;
    TListViewUpdate update(FListView);
    ReverseListViewSelection(FListView);
}

bool TDocumentEntriesSelection::IsSelected(int index) const
{
    return IsListViewItemSelected(FListView, index);
}

int TDocumentEntriesSelection::GetCount() const
{
    return FListView.ItemCount();
}

int TDocumentEntriesSelection::GetSelectedCount() const
{
    return FListView.SelectedCount();
}

TIntegerDynArray TDocumentEntriesSelection::GetSelectedIndexes() const
{
    return GetListViewSelection(FListView);
}

// ---------------------------------------------------------------------------
// TDocumentEntriesCommands

namespace {

// Asks with Yes and No; anything but Yes ends the command silently.
void Confirm(const char* text)
{
    if (!ConfirmBox(text, AppTitle))
        throw EAbort();
}

// A file manager may put its files in plain text as file:// URLs; those of
// this machine become their paths. Any other line stays as it is.
std::string PastedLineToPath(const std::string& line)
{
    std::optional<std::string> path = FileUrlToPath(line);
    return path ? std::move(*path) : line;
}

} // namespace

TDocumentEntriesCommands::TDocumentEntriesCommands(TDocumentEntriesModel& model,
                                                   TDocumentEntriesSelection& selection)
    : FModel(model), FSelection(selection), FClipboardWatcher(std::make_unique<TClipboardWatcher>())
{
    // TRANSLATORS: title of the file dialog that adds files to the document list
    FAddRegularFilesDialog.Title = Tr("Add Regular Files");
    // "*.*" would hide every name without a dot.
    // TRANSLATORS: the add-files dialog's filter that shows every file
    FAddRegularFilesDialog.Filter = FormatText("%1 (*)|*", {Tr("All")});
    FAddRegularFilesDialog.FilterIndex = 1;
    FAddRegularFilesDialog.MultiSelect = true;
    FAddRegularFilesDialog.FileMustExist = true;
    FAddRegularFilesDialog.KeepCurrentDir = false;
    FClipboardWatcher->OnChange = [this](TClipboardWatcher&) { DoClipboardChange(); };
    FClipboardWatcher->SetActive(true);
}

TDocumentEntriesCommands::~TDocumentEntriesCommands() = default;

void TDocumentEntriesCommands::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    FAddRegularFilesDialog.FilterIndex =
        ini.ReadInteger(section + ".AddRegularFilesDialog", "FilterIndex", FAddRegularFilesDialog.FilterIndex);
}

void TDocumentEntriesCommands::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    ini.WriteInteger(section + ".AddRegularFilesDialog", "FilterIndex", FAddRegularFilesDialog.FilterIndex);
}

void TDocumentEntriesCommands::DoClipboardChange()
{
    if (OnClipboardChange)
        OnClipboardChange(*this);
}

void TDocumentEntriesCommands::Check(bool available)
{
    if (!available)
        RaiseUnavailable();
}

void TDocumentEntriesCommands::New()
{
    Check(CanNew());
    if (FModel.CountOfResult(TDocumentEntryResult::Success) != FModel.GetCount())
        Confirm(Tr("Do you want to remove all the documents from the list?"));
    FModel.Clear();
}

bool TDocumentEntriesCommands::CanNew() const
{
    return true;
}

void TDocumentEntriesCommands::AddRegularFiles()
{
    Check(CanAddRegularFiles());
    FAddRegularFilesDialog.FileName.clear();
    const TOpenDialogResult result = Dialogs().OpenFiles(FAddRegularFilesDialog);
    FAddRegularFilesDialog.FilterIndex = result.FilterIndex;
    if (!result.Accepted)
        throw EAbort();
    AddPaths(result.Files);
}

bool TDocumentEntriesCommands::CanAddRegularFiles() const
{
    return CanAddPaths();
}

void TDocumentEntriesCommands::AddDirectory()
{
    Check(CanAddDirectory());
    const std::optional<std::string> folder = Dialogs().BrowseForFolder({Tr("Specify a directory."), GetCurrentDir()});
    if (!folder)
        throw EAbort();
    SetCurrentDir(*folder);
    AddPaths({*folder});
}

bool TDocumentEntriesCommands::CanAddDirectory() const
{
    return CanAddPaths();
}

void TDocumentEntriesCommands::AddDroppedFiles(const TStringDynArray& paths)
{
    Check(CanAddDroppedFiles());
    AddPaths(paths);
}

bool TDocumentEntriesCommands::CanAddDroppedFiles() const
{
    return CanAddPaths();
}

void TDocumentEntriesCommands::AddPaths(const TStringDynArray& paths)
{
    Check(CanAddPaths());
    if (paths.empty())
        return;
    FModel.Add(CreateDocumentEntries(paths));
}

bool TDocumentEntriesCommands::CanAddPaths() const
{
    return true;
}

void TDocumentEntriesCommands::Cut()
{
    Check(CanCut());
    Copy();
    DeleteSelected(false);
}

bool TDocumentEntriesCommands::CanCut() const
{
    return CanCopy() && CanDelete();
}

void TDocumentEntriesCommands::Copy()
{
    Check(CanCopy());
    const TIntegerDynArray indexes = FSelection.GetSelectedIndexes();
    std::size_t length = 0;
    for (int index : indexes)
        length += FModel.GetItem(index)->Path().size() + 2;
    std::string text;
    text.reserve(length);
    for (int index : indexes) {
        text += FModel.GetItem(index)->Path();
        text += "\r\n";
    }
    SetClipboardText(text);
}

bool TDocumentEntriesCommands::CanCopy() const
{
    return FSelection.GetSelectedCount() > 0;
}

void TDocumentEntriesCommands::Paste()
{
    Check(CanPaste());
    TStringDynArray paths = GetClipboardFilePaths();
    if (paths.empty()) {
        paths = RemoveEmptyStrings(TextToArray(GetClipboardText()));
        for (std::string& path : paths)
            path = PastedLineToPath(path);
    }
    AddPaths(paths);
}

bool TDocumentEntriesCommands::CanPaste() const
{
    return CanAddPaths() && (ClipboardHasText() || !GetClipboardFilePaths().empty());
}

void TDocumentEntriesCommands::Delete()
{
    Check(CanDelete());
    DeleteSelected(true);
}

void TDocumentEntriesCommands::DeleteSelected(bool confirm)
{
    Check(CanDelete());
    const TIntegerDynArray indexes = FSelection.GetSelectedIndexes();
    if (confirm
        && FModel.CountOfResultIn(TDocumentEntryResult::Success, indexes) != static_cast<int>(indexes.size()))
        Confirm(Tr("Do you want to remove the documents from the list?"));
    FModel.Delete(indexes);
}

bool TDocumentEntriesCommands::CanDelete() const
{
    return FSelection.GetSelectedCount() > 0;
}

void TDocumentEntriesCommands::SelectAll()
{
    Check(CanSelectAll());
    FSelection.SelectAll();
}

bool TDocumentEntriesCommands::CanSelectAll() const
{
    return true;
}

void TDocumentEntriesCommands::ReverseSelection()
{
    Check(CanReverseSelection());
    FSelection.ReverseSelection();
}

bool TDocumentEntriesCommands::CanReverseSelection() const
{
    return true;
}

void TDocumentEntriesCommands::SortByPath()
{
    Check(CanSortByPath());
    FModel.SortByPath();
}

bool TDocumentEntriesCommands::CanSortByPath() const
{
    return true;
}

void TDocumentEntriesCommands::SortByDirectory()
{
    Check(CanSortByDirectory());
    FModel.SortByDirectory();
}

bool TDocumentEntriesCommands::CanSortByDirectory() const
{
    return true;
}

void TDocumentEntriesCommands::SortByName()
{
    Check(CanSortByName());
    FModel.SortByName();
}

bool TDocumentEntriesCommands::CanSortByName() const
{
    return true;
}

void TDocumentEntriesCommands::SortBySize()
{
    Check(CanSortBySize());
    FModel.SortBySize();
}

bool TDocumentEntriesCommands::CanSortBySize() const
{
    return true;
}

void TDocumentEntriesCommands::SortByType()
{
    Check(CanSortByType());
    FModel.SortByType();
}

bool TDocumentEntriesCommands::CanSortByType() const
{
    return true;
}

void TDocumentEntriesCommands::SortByLastWriteTime()
{
    Check(CanSortByLastWriteTime());
    FModel.SortByLastWriteTime();
}

bool TDocumentEntriesCommands::CanSortByLastWriteTime() const
{
    return true;
}

void TDocumentEntriesCommands::SortByResult()
{
    Check(CanSortByResult());
    FModel.SortByResult();
}

bool TDocumentEntriesCommands::CanSortByResult() const
{
    return true;
}

void TDocumentEntriesCommands::ReverseOrder()
{
    Check(CanReverseOrder());
    FModel.Reverse();
}

bool TDocumentEntriesCommands::CanReverseOrder() const
{
    return true;
}

void TDocumentEntriesCommands::MoveUp()
{
    Check(CanMoveUp());
    FModel.MoveUp(FSelection.GetSelectedIndexes());
}

bool TDocumentEntriesCommands::CanMoveUp() const
{
    return FSelection.GetSelectedCount() > 0;
}

void TDocumentEntriesCommands::MoveDown()
{
    Check(CanMoveDown());
    FModel.MoveDown(FSelection.GetSelectedIndexes());
}

bool TDocumentEntriesCommands::CanMoveDown() const
{
    return FSelection.GetSelectedCount() > 0;
}

void TDocumentEntriesCommands::DeleteAllInSuccess()
{
    Check(CanDeleteAllInSuccess());
    FModel.Delete(FModel.GetIndexesOfResult(TDocumentEntryResult::Success));
}

bool TDocumentEntriesCommands::CanDeleteAllInSuccess() const
{
    return FModel.GetCount() > 0;
}

void TDocumentEntriesCommands::ResetResult()
{
    Check(CanResetResult());
    const TIntegerDynArray indexes = FSelection.GetSelectedIndexes();
    for (int index : indexes)
        FModel.GetItem(index)->SetResult(TDocumentEntryResult::None);
    FModel.NotifyChanged(indexes);
}

bool TDocumentEntriesCommands::CanResetResult() const
{
    return FSelection.GetSelectedCount() > 0;
}
