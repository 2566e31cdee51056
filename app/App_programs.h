#pragma once
// Program entries: one configured program, the list of them kept sorted by
// display name, and the mirror of that list in the program combo box.

#include "App_common.h"
#include "Zel_autopointers.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QIcon>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class TMemIniFile;

// The entry refuses a value.
class EProgramEntryError : public EAppError {
public:
    using EAppError::EAppError;
};

// Loading an entry failed; carries the message of the error that caused it.
class EProgramEntryLoadError : public EProgramEntryError {
public:
    using EProgramEntryError::EProgramEntryError;
};

// Saving an entry failed; carries the message of the error that caused it.
class EProgramEntrySaveError : public EProgramEntryError {
public:
    using EProgramEntryError::EProgramEntryError;
};

class EProgramEntriesError : public EAppError {
public:
    using EAppError::EAppError;
};

// Show-window codes kept in ShowCommand.
constexpr int ShowCommandNormal = 1;
constexpr int ShowCommandMaximized = 3;
constexpr int ShowCommandMinimized = 6;

// One configured program: what to start (nothing: the document's association),
// the text around the document, the working directory and window state, the
// interval after each document and whether to pause instead of waiting.
class TProgramEntry {
public:
    TProgramEntry();
    TProgramEntry(const TProgramEntry&) = delete;
    TProgramEntry& operator=(const TProgramEntry&) = delete;
    virtual ~TProgramEntry();

    // Copies every field, the icon included, as it stands: no checks, no icon rebuild.
    virtual void Assign(const TProgramEntry& source);
    // All or nothing: on any error this entry keeps its previous values. A
    // refused "File" raises EProgramEntryLoadError; a text that cannot be
    // dequoted raises the dequote error unchanged.
    virtual void Load(const TMemIniFile& ini, const std::string& section);
    virtual void Save(TMemIniFile& ini, const std::string& section) const;
    virtual bool IsFileBlank() const;

    // Never null; empty when no icon could be had.
    const QIcon& Icon() const noexcept { return FIcon; }
    const std::string& DisplayName() const noexcept { return FDisplayName; }
    void SetDisplayName(std::string value) { FDisplayName = std::move(value); }
    const std::string& File() const noexcept { return FFile; }
    // Empty clears the file. Anything else must be an absolute path of an
    // existing file; it is stored expanded. Throws EProgramEntryError
    // "The program cannot accept the path \"%s\"." naming path as passed,
    // and then changes nothing.
    void SetFile(const std::string& path);
    const std::string& DocumentPrefix() const noexcept { return FDocumentPrefix; }
    void SetDocumentPrefix(std::string value) { FDocumentPrefix = std::move(value); }
    const std::string& DocumentSuffix() const noexcept { return FDocumentSuffix; }
    void SetDocumentSuffix(std::string value) { FDocumentSuffix = std::move(value); }
    const std::string& WorkingDirectory() const noexcept { return FWorkingDirectory; }
    void SetWorkingDirectory(std::string value) { FWorkingDirectory = std::move(value); }
    int ShowCommand() const noexcept { return FShowCommand; }
    void SetShowCommand(int value) noexcept { FShowCommand = value; }
    int OpenInterval() const noexcept { return FOpenInterval; }
    void SetOpenInterval(int value) noexcept { FOpenInterval = value; }
    bool AutoPause() const noexcept { return FAutoPause; }
    void SetAutoPause(bool value) noexcept { FAutoPause = value; }
    // Looks the icon up again, from the file or the icon theme.
    void UpdateIcon();

private:

    QIcon FIcon;
    std::string FDisplayName;
    std::string FFile;
    std::string FDocumentPrefix;
    std::string FDocumentSuffix;
    std::string FWorkingDirectory;
    int FShowCommand = ShowCommandNormal;
    int FOpenInterval = 0;
    bool FAutoPause = true;
};

// The program entries, sorted by display name in the user's locale
// (case-sensitive), every name unique. Owns its entries.
class TProgramEntriesModel : public TModel {
public:
    using TIndexEvent = std::function<void(TProgramEntriesModel& sender, int index)>;
    using TNotifyEvent = std::function<void(TProgramEntriesModel& sender)>;

    TProgramEntriesModel();
    ~TProgramEntriesModel() override;

    // No such section keeps the list; otherwise the list is replaced by the
    // stored items. Items whose program file is refused are skipped, then one
    // error box tells that not all could be loaded. Other errors propagate,
    // leaving the items loaded so far.
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;
    virtual void DoInserted(int index);
    virtual void DoDeleted(int index);
    virtual void DoCleared();
    // Takes the entry only when it succeeds; on a name collision it throws
    // EProgramEntriesError and the entry stays with the caller.
    virtual int Add(TAutoPointer<TProgramEntry>&& entry);
    virtual void Delete(int index);
    // Fires OnCleared only when there was something to clear.
    virtual void Clear();
    virtual int IndexOf(const TProgramEntry* entry) const;
    // Exact, case-sensitive; -1 when absent.
    virtual int IndexOfDisplayName(const std::string& name) const;
    // name, or "name (n)" with the first free n of 2..100; throws EAppError
    // "The program could not provide a unique display name." past that.
    virtual std::string MakeUniqueDisplayName(const std::string& name) const;

    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    // The entry stays owned by the model.
    TProgramEntry* Items(int index) const;
    void SetCapacity(int capacity);

    TIndexEvent OnInserted;
    TIndexEvent OnDeleted;
    TNotifyEvent OnCleared;

private:
    struct TItem {
        std::string Name;
        QCollatorSortKey Key;
        TAutoPointer<TProgramEntry> Entry;
    };

    // The first index whose item does not sort before (key, name).
    int LowerBound(const QCollatorSortKey& key, const std::string& name) const;
    QCollatorSortKey SortKey(const std::string& name) const;

    QCollator FCollator;
    std::vector<TItem> FItems;
};

// Mirrors the program entries into the program combo box, one item per entry
// in the model's order, each item carrying its entry (TProgramEntry*) as data.
// Neither the model nor the combo box is owned.
class TProgramEntriesSelection : public TSettingsHandler {
public:
    TProgramEntriesSelection(TProgramEntriesModel& model, QComboBox& comboBox);
    ~TProgramEntriesSelection() override;

    // "SelectionIndex", clamped to the last item; negative selects nothing.
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;
    // Bound to the model's OnInserted, OnDeleted and OnCleared.
    virtual void EntryInserted(int index);
    virtual void EntryDeleted(int index);
    virtual void EntriesCleared();

    int ItemCount() const;
    // -1 for none.
    int SelectedIndex() const;
    void SetSelectedIndex(int index);

    // The entry that combo item index carries, or nullptr.
    static TProgramEntry* ItemEntry(const QComboBox& comboBox, int index);

    // The icon theme's lookups cost the first window several milliseconds:
    // until ResolveDeferredIcons, new entries show a blank picture of the same
    // size, and then every entry gets its own icon.
    void DeferIcons();
    void ResolveDeferredIcons();

private:
    TProgramEntriesModel* FModel;
    QComboBox* FComboBox;
    bool FDeferringIcons = false;
};

class TAppProgramDialog;

// The user's operations on the program list, each with its enabled rule.
// Adds the built-in entry at construction. The model and the selection are
// not owned; the program dialog is the application's one AppProgramDialog.
class TProgramEntriesCommands : public TCommands {
public:
    TProgramEntriesCommands(TProgramEntriesModel& model, TProgramEntriesSelection& selection);

    // Every operation throws EAppError "The feature is unavailable." when its
    // Can is false, and EAbort when the user cancels.
    virtual void Add();
    virtual bool CanAdd() const;
    virtual void Duplicate();
    virtual bool CanDuplicate() const;
    virtual void Delete();
    virtual bool CanDelete() const;
    // Starts the selected program file by itself: no arguments, not waited for.
    virtual void Start();
    virtual bool CanStart() const;
    // Opens the directory of the selected program file in the file manager.
    virtual void Explore();
    virtual bool CanExplore() const;
    // Edits the selected entry, which then moves to the place of its name and stays selected.
    virtual void Properties();
    virtual bool CanProperties() const;

private:
    // Null when nothing is selected.
    TProgramEntry* SelectedEntry() const;
    bool HasSelectedFile() const;
    // Runs the dialog with a display-name check; cancelling aborts.
    void ExecuteDialog(TAppProgramDialog& dialog, std::function<bool(const std::string& name)> isValidName);
    void AddDialogEntry(const TAppProgramDialog& dialog);

    TProgramEntriesModel* FModel;
    TProgramEntriesSelection* FSelection;
};
