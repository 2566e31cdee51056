#pragma once
// Documents: one entry per file or directory to open, and the ordered list of
// them that the document list view shows and the open run walks.

#include "App_common.h"
#include "Zel_autopointers.h"
#include "Zel_dialogs.h"
#include "Zel_dynamicarrays.h"
#include "Zel_lists.h"
#include "Zel_shellfiles.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TClipboardWatcher;
class TVirtualListView;

// The outcome of opening a document.
enum class TDocumentEntryResult : std::uint8_t { None = 0, Success = 1, Failure = 2 };

// "None", "Success" or "Failure". The three result functions raise EAppError
// "The program does not support the result." for any other value.
const char* DocumentEntryResultText(TDocumentEntryResult result);
// Success 0, Failure 1, None 2: sorting by result lists successes first.
int DocumentEntryResultSortRank(TDocumentEntryResult result);
// The state image of the result, one of the entry's class-wide indices.
int DocumentEntryResultImageIndex(TDocumentEntryResult result);

class EDocumentEntryError : public EAppError {
public:
    using EAppError::EAppError;
};

class EDocumentEntryCreateError : public EDocumentEntryError {
public:
    using EDocumentEntryError::EDocumentEntryError;
};

// A snapshot of one file or directory, taken when the entry is made; only the
// result changes afterwards.
class TDocumentEntry {
public:
    // Makes the entry for an existing file or directory named by an absolute
    // path, looking at the disk once. Raises EDocumentEntryCreateError "The
    // program could not create a document entry with the path \"%s\"." with
    // path as given when it is relative, has wildcards, leads nowhere, or
    // holds a line break, a NUL or bytes that are not UTF-8 (one path per line
    // must stay one path when it is copied). Errors of the type cache pass on.
    explicit TDocumentEntry(const std::string& path);
    TDocumentEntry(const TDocumentEntry&) = delete;
    TDocumentEntry& operator=(const TDocumentEntry&) = delete;
    virtual ~TDocumentEntry() = default;

    virtual bool IsFile() const;
    virtual bool IsDirectory() const;

    // The absolute, expanded path.
    const std::string& Path() const noexcept { return FPath; }
    // Everything before the last "/"; the root keeps its "/".
    std::string_view Directory() const noexcept;
    // Everything after the last "/".
    std::string_view Name() const noexcept;
    // The shared type cache's name; the reference stays valid for the run.
    const std::string& Type() const noexcept { return FType->TypeName(); }
    std::uint64_t Size() const noexcept { return FSize; }
    // 100-ns units since 1601-01-01 UTC; 0 when unknown.
    std::uint64_t LastWriteTime() const noexcept { return FLastWriteTime; }
    std::uint32_t Attributes() const noexcept { return FAttributes; }
    TDocumentEntryResult Result() const noexcept { return FResult; }
    // Sets the result with why it came about (a failure's reason), or without
    // one: a reason never outlives the result it explains.
    void SetResult(TDocumentEntryResult result) noexcept;
    void SetResult(TDocumentEntryResult result, std::string reason);
    // Why the document failed, in the system's or GIO's words; empty when
    // nothing is known.
    const std::string& Reason() const noexcept;

    // The texts of the list view's columns, in its column order.
    std::string GetNameText() const;
    std::string GetDirectoryText() const;
    // Digits grouped by commas; empty for a directory.
    std::string GetSizeText() const;
    std::string GetTypeText() const;
    // FileTimeText of the last write time.
    std::string GetLastWriteTimeText() const;
    std::string GetResultText() const;

    // A file time as the Last write time column shows it: local time as
    // "2012-06-24 09:05:00", or "(Unknown)" for 0 or a time beyond the calendar.
    static std::string FileTimeText(std::uint64_t fileTime);

    // The row's image (the type's picture from the icon theme where it has
    // one and TypeImageIndexBase is set, else the page or the folder) and
    // state image.
    int GetImageIndex() const;
    int GetResultImageIndex() const;

    // Image indices the main form assigns at start-up; -1 means no image.
    static inline int FileImageIndex = -1;
    static inline int DirectoryImageIndex = -1;
    static inline int NoneImageIndex = -1;
    static inline int SuccessImageIndex = -1;
    static inline int FailureImageIndex = -1;
    // Where the type cache's pictures start among the row images; -1 leaves
    // them out.
    static inline int TypeImageIndexBase = -1;

    // Ascending orders with the user's locale; ties are left to the caller.
    // Path, directory and name ignore case; the type does not.
    static int ComparePath(const TDocumentEntry& a, const TDocumentEntry& b);
    static int CompareDirectory(const TDocumentEntry& a, const TDocumentEntry& b);
    static int CompareName(const TDocumentEntry& a, const TDocumentEntry& b);
    // Every directory before every file; files by size.
    static int CompareSize(const TDocumentEntry& a, const TDocumentEntry& b);
    static int CompareType(const TDocumentEntry& a, const TDocumentEntry& b);
    static int CompareLastWriteTime(const TDocumentEntry& a, const TDocumentEntry& b);
    static int CompareResult(const TDocumentEntry& a, const TDocumentEntry& b);

private:
    // Directory and name are cut from the path where its last "/" stands, so
    // an entry costs little more than its path.
    std::string FPath;
    const TFileTypeCache::TEntry* FType = nullptr;
    std::uint64_t FSize = 0;
    std::uint64_t FLastWriteTime = 0;
    std::uint32_t FSlash = 0;      // position of the last "/"
    std::uint16_t FAttributes = 0; // the record's bits all lie below 0x100
    TDocumentEntryResult FResult = TDocumentEntryResult::None;
    // Held apart: few documents fail, and the rest pay only a pointer.
    TAutoPointer<const std::string> FReason;
};

using TDocumentEntryList = std::vector<TAutoPointer<TDocumentEntry>>;

// One entry per path, in order, or none: the first path that cannot be made
// into an entry raises its error and everything made so far is destroyed.
TDocumentEntryList CreateDocumentEntries(const TStringDynArray& paths);

// The document list. It owns its entries and reports every change through one
// event per kind, so the view can replay it row by row.
class TDocumentEntriesModel : public TModel {
public:
    using TIndexesEvent = std::function<void(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes)>;
    using TNotifyEvent = std::function<void(TDocumentEntriesModel& sender)>;
    using TReorderEvent = std::function<void(TDocumentEntriesModel& sender, const TReorderRecords& records)>;

    TDocumentEntriesModel() = default;
    TDocumentEntriesModel(const TDocumentEntriesModel&) = delete;
    TDocumentEntriesModel& operator=(const TDocumentEntriesModel&) = delete;

    // Positions of the new entries, ascending.
    TIndexesEvent OnAdded;
    // Positions the removed entries had, ascending.
    TIndexesEvent OnDeleted;
    TNotifyEvent OnCleared;
    // Raised by every change of order, also when nothing moved (empty records).
    TReorderEvent OnReordered;
    // Positions whose shown data changed.
    TIndexesEvent OnChanged;

    virtual void DoAdded(const TIntegerDynArray& indexes);
    virtual void DoDeleted(const TIntegerDynArray& indexes);
    virtual void DoCleared();
    virtual void DoReordered(const TReorderRecords& records);
    virtual void DoChanged(const TIntegerDynArray& indexes);

    // Appends the entries in order and owns them; all or none are added.
    // Raises EInvalidOperation for a missing entry, before anything changes.
    virtual void Add(TDocumentEntryList entries);
    // Removes and destroys the entries at the positions, which must be
    // ascending, distinct and in range (EListError otherwise, nothing removed).
    virtual void Delete(const TIntegerDynArray& indexes);
    virtual void Clear();

    // Stable ascending sorts: entries with equal keys keep their order, so
    // successive sorts by different keys combine.
    virtual void SortByPath();
    virtual void SortByDirectory();
    virtual void SortByName();
    virtual void SortBySize();
    virtual void SortByType();
    virtual void SortByLastWriteTime();
    virtual void SortByResult();

    virtual void Reverse();
    // Moves the entries at the ascending positions one place towards 0 or the
    // end; an entry at the edge holds back those behind it.
    virtual void MoveUp(const TIntegerDynArray& indexes);
    virtual void MoveDown(const TIntegerDynArray& indexes);
    // Applies one permutation (EListError when it is not one, nothing moved).
    virtual void Reorder(const TReorderRecords& records);
    // For callers that changed entries' results.
    virtual void NotifyChanged(const TIntegerDynArray& indexes);

    // -1 when absent.
    virtual int IndexOf(const TDocumentEntry* entry) const;
    virtual int IndexOfResult(TDocumentEntryResult result) const;
    // Ascending.
    virtual TIntegerDynArray GetIndexesOfResult(TDocumentEntryResult result) const;
    virtual int CountOfResult(TDocumentEntryResult result) const;
    // How many of the positions hold an entry with the result.
    virtual int CountOfResultIn(TDocumentEntryResult result, const TIntegerDynArray& indexes) const;

    int GetCount() const noexcept { return static_cast<int>(FEntries.size()); }
    // EListError outside 0 .. count - 1.
    TDocumentEntry* GetItem(int index) const;

private:
    // Throws EListError unless indexes are ascending, distinct and in range.
    void CheckIndexes(const TIntegerDynArray& indexes) const;

    TDocumentEntryList FEntries;
};

// Mirrors the model into the document list view's rows, so the selected and
// focused rows follow their documents through every change, and answers what
// is selected. The main form connects the model's five events to the five
// handlers.
class TDocumentEntriesSelection : public TSelection {
public:
    TDocumentEntriesSelection(TDocumentEntriesModel& model, TVirtualListView& listView);
    TDocumentEntriesSelection(const TDocumentEntriesSelection&) = delete;
    TDocumentEntriesSelection& operator=(const TDocumentEntriesSelection&) = delete;

    // New rows: exactly they are selected, the last one focused and shown whole.
    virtual void EntriesAdded(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);
    virtual void EntriesDeleted(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);
    virtual void EntriesCleared(TDocumentEntriesModel& sender);
    virtual void EntriesReordered(TDocumentEntriesModel& sender, const TReorderRecords& records);
    // Redraws the rows from the model.
    virtual void EntriesChanged(TDocumentEntriesModel& sender, const TIntegerDynArray& indexes);
    virtual void SelectAll();
    virtual void UnselectAll();
    // Inverts every row's selection; the focus stays.
    virtual void ReverseSelection();

    // EInvalidOperation "The index is invalid to the list view." outside the rows.
    bool IsSelected(int index) const;
    int GetCount() const;
    int GetSelectedCount() const;
    // Ascending.
    TIntegerDynArray GetSelectedIndexes() const;

    TDocumentEntriesModel& Model() const noexcept { return FModel; }
    TVirtualListView& ListView() const noexcept { return FListView; }

private:
    TDocumentEntriesModel& FModel;
    TVirtualListView& FListView;
};

// The user's operations on the document list. Every operation X has CanX
// right after it; X raises "The feature is unavailable." when CanX is false.
// A refused confirmation or a cancelled dialog ends X with a silent EAbort.
class TDocumentEntriesCommands : public TCommands {
public:
    // Starts watching the clipboard (EClipboardError when there is none).
    TDocumentEntriesCommands(TDocumentEntriesModel& model, TDocumentEntriesSelection& selection);
    ~TDocumentEntriesCommands() override;
    TDocumentEntriesCommands(const TDocumentEntriesCommands&) = delete;
    TDocumentEntriesCommands& operator=(const TDocumentEntriesCommands&) = delete;

    // Raised on every change of the clipboard's contents (and once at start).
    std::function<void(TDocumentEntriesCommands& sender)> OnClipboardChange;

    // The add-files dialog's filter index, under section + ".AddRegularFilesDialog".
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;
    virtual void DoClipboardChange();

    // Empties the list; asks first unless every document has succeeded.
    virtual void New();
    virtual bool CanNew() const;
    // The chosen files' folder becomes the current directory.
    virtual void AddRegularFiles();
    virtual bool CanAddRegularFiles() const;
    // The chosen folder itself becomes one document and the current directory.
    virtual void AddDirectory();
    virtual bool CanAddDirectory() const;
    virtual void AddDroppedFiles(const TStringDynArray& paths);
    virtual bool CanAddDroppedFiles() const;
    // All paths or none (EDocumentEntryCreateError naming the first bad one).
    virtual void AddPaths(const TStringDynArray& paths);
    virtual bool CanAddPaths() const;
    virtual void Cut();
    virtual bool CanCut() const;
    // The selected paths in list order, each line ended by CR LF.
    virtual void Copy();
    virtual bool CanCopy() const;
    // Adds the clipboard's lines (blank ones skipped), or the files a file
    // manager copied; file:// URLs in the text count as their local paths.
    virtual void Paste();
    virtual bool CanPaste() const;
    virtual void Delete();
    // Asks first when confirm is set and a selected document has not succeeded.
    virtual void DeleteSelected(bool confirm);
    virtual bool CanDelete() const;
    virtual void SelectAll();
    virtual bool CanSelectAll() const;
    virtual void ReverseSelection();
    virtual bool CanReverseSelection() const;
    virtual void SortByPath();
    virtual bool CanSortByPath() const;
    virtual void SortByDirectory();
    virtual bool CanSortByDirectory() const;
    virtual void SortByName();
    virtual bool CanSortByName() const;
    virtual void SortBySize();
    virtual bool CanSortBySize() const;
    virtual void SortByType();
    virtual bool CanSortByType() const;
    virtual void SortByLastWriteTime();
    virtual bool CanSortByLastWriteTime() const;
    virtual void SortByResult();
    virtual bool CanSortByResult() const;
    virtual void ReverseOrder();
    virtual bool CanReverseOrder() const;
    virtual void MoveUp();
    virtual bool CanMoveUp() const;
    virtual void MoveDown();
    virtual bool CanMoveDown() const;
    virtual void DeleteAllInSuccess();
    virtual bool CanDeleteAllInSuccess() const;
    virtual void ResetResult();
    virtual bool CanResetResult() const;

    // The add-files dialog as it will be shown next.
    const TOpenDialogRequest& AddRegularFilesDialog() const noexcept { return FAddRegularFilesDialog; }

private:
    void Check(bool available);

    TDocumentEntriesModel& FModel;
    TDocumentEntriesSelection& FSelection;
    // Declared before the dialog, so the dialog goes first.
    TAutoPointer<TClipboardWatcher> FClipboardWatcher;
    TOpenDialogRequest FAddRegularFilesDialog;
};
