#include "App_programs.h"

#include "App_ProgramDialog.h"
#include "Zel_dialogs.h"
#include "Zel_files.h"
#include "Zel_inifiles.h"
#include "Zel_shellexecute.h"
#include "Zel_strings.h"
#include "Zel_translations.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPixmap>
#include <QStyle>
#include <QVariant>

#include <algorithm>
#include <optional>

namespace {

constexpr char Quote = '"';

// A hand-edited "Count" must not turn into a huge reservation; the list grows
// as needed past this.
constexpr int MaxReservedEntries = 1024;

const char* const KeyDisplayName = "DisplayName";
const char* const KeyFile = "File";
const char* const KeyDocumentPrefix = "DocumentPrefix";
const char* const KeyDocumentSuffix = "DocumentSuffix";
const char* const KeyWorkingDirectory = "WorkingDirectory";
const char* const KeyShowCommand = "ShowCommand";
const char* const KeyOpenInterval = "OpenInterval";
const char* const KeyAutoPause = "AutoPause";

// Icon sources kept for the whole run: every new entry starts with the generic
// program icon, so it is looked up once, not once per entry. Dropped when the
// application object goes, while the icon engines can still be released.
struct TIconSources {
    std::optional<QIcon> GenericProgramIcon;
    std::optional<QFileIconProvider> FileIconProvider;
    // Same size as the real icons, so the combo box is sized as it will stay.
    std::optional<QIcon> BlankIcon;
    bool Deferred = false;
};

TIconSources& IconSources()
{
    static TIconSources sources;
    static bool cleanupRegistered = false;
    if (!cleanupRegistered) {
        qAddPostRoutine([] {
            sources.GenericProgramIcon.reset();
            sources.FileIconProvider.reset();
            sources.BlankIcon.reset();
            sources.Deferred = false;
            cleanupRegistered = false;
        });
        cleanupRegistered = true;
    }
    return sources;
}

bool HaveWidgetApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QIcon GenericProgramIcon()
{
    if (!HaveWidgetApplication())
        return QIcon();
    TIconSources& sources = IconSources();
    if (!sources.GenericProgramIcon) {
        QIcon icon = QIcon::fromTheme(QStringLiteral("application-x-executable"));
        if (icon.isNull()) {
            if (!sources.FileIconProvider)
                sources.FileIconProvider.emplace();
            icon = sources.FileIconProvider->icon(QAbstractFileIconProvider::File);
        }
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
        sources.GenericProgramIcon = icon;
    }
    return *sources.GenericProgramIcon;
}

QIcon BlankProgramIcon()
{
    TIconSources& sources = IconSources();
    if (!sources.BlankIcon) {
        QPixmap blank(16, 16);
        blank.fill(Qt::transparent);
        sources.BlankIcon = QIcon(blank);
    }
    return *sources.BlankIcon;
}

// The icon of the file's type in the icon theme, as file managers show it;
// failing that, whatever the platform gives for the file.
QIcon FileIcon(const std::string& path)
{
    if (!HaveWidgetApplication())
        return QIcon();
    const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(path)));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    QIcon icon;
    if (type.isValid()) {
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull()) {
        TIconSources& sources = IconSources();
        if (!sources.FileIconProvider)
            sources.FileIconProvider.emplace();
        icon = sources.FileIconProvider->icon(info);
    }
    return icon;
}

// A line break or NUL cannot be stored in the settings file or reach the
// disk whole; bytes that are not UTF-8 would not survive the dialog's texts.
bool HasUnstorableBytes(const std::string& path)
{
    return path.find_first_of(std::string("\0\n\r", 3)) != std::string::npos || !IsValidUtf8(path);
}

std::string ItemSection(const std::string& section, int index)
{
    return section + ".Items[" + std::to_string(index) + "]";
}

// Keeps a widget from repainting while the program changes it.
class TUpdatesSuspender {
public:
    explicit TUpdatesSuspender(QWidget& widget) : FWidget(widget), FWasEnabled(widget.updatesEnabled())
    {
        FWidget.setUpdatesEnabled(false);
    }
    TUpdatesSuspender(const TUpdatesSuspender&) = delete;
    TUpdatesSuspender& operator=(const TUpdatesSuspender&) = delete;
    ~TUpdatesSuspender() { FWidget.setUpdatesEnabled(FWasEnabled); }

private:
    QWidget& FWidget;
    bool FWasEnabled;
};

} // namespace

// ---------------------------------------------------------------------------
// TProgramEntry

TProgramEntry::TProgramEntry()
{
    UpdateIcon();
}

TProgramEntry::~TProgramEntry() = default;

void TProgramEntry::Assign(const TProgramEntry& source)
{
    if (&source == this)
        return;
    FIcon = source.FIcon;
    FDisplayName = source.FDisplayName;
    FFile = source.FFile;
    FDocumentPrefix = source.FDocumentPrefix;
    FDocumentSuffix = source.FDocumentSuffix;
    FWorkingDirectory = source.FWorkingDirectory;
    FShowCommand = source.FShowCommand;
    FOpenInterval = source.FOpenInterval;
    FAutoPause = source.FAutoPause;
}

void TProgramEntry::Load(const TMemIniFile& ini, const std::string& section)
{
    try {
        TAutoPointer<TProgramEntry> fresh = std::make_unique<TProgramEntry>();
        auto readText = [&](const char* key, const std::string& current) {
            return DequoteString(ini.ReadString(section, key, QuoteString(current, Quote)), Quote);
        };
        fresh->FDisplayName = readText(KeyDisplayName, fresh->FDisplayName);
        fresh->SetFile(readText(KeyFile, fresh->FFile));
        fresh->FDocumentPrefix = readText(KeyDocumentPrefix, fresh->FDocumentPrefix);
        fresh->FDocumentSuffix = readText(KeyDocumentSuffix, fresh->FDocumentSuffix);
        fresh->FWorkingDirectory = readText(KeyWorkingDirectory, fresh->FWorkingDirectory);
        fresh->FShowCommand = ini.ReadInteger(section, KeyShowCommand, fresh->FShowCommand);
        fresh->FOpenInterval = ini.ReadInteger(section, KeyOpenInterval, fresh->FOpenInterval);
        fresh->FAutoPause = ini.ReadBool(section, KeyAutoPause, fresh->FAutoPause);
        Assign(*fresh);
    } catch (const EProgramEntryError& e) {
        throw EProgramEntryLoadError(e.Message());
    }
}

void TProgramEntry::Save(TMemIniFile& ini, const std::string& section) const
{
    try {
        ini.WriteString(section, KeyDisplayName, QuoteString(FDisplayName, Quote));
        ini.WriteString(section, KeyFile, QuoteString(FFile, Quote));
        ini.WriteString(section, KeyDocumentPrefix, QuoteString(FDocumentPrefix, Quote));
        ini.WriteString(section, KeyDocumentSuffix, QuoteString(FDocumentSuffix, Quote));
        ini.WriteString(section, KeyWorkingDirectory, QuoteString(FWorkingDirectory, Quote));
        ini.WriteInteger(section, KeyShowCommand, FShowCommand);
        ini.WriteInteger(section, KeyOpenInterval, FOpenInterval);
        ini.WriteBool(section, KeyAutoPause, FAutoPause);
    } catch (const EProgramEntryError& e) {
        throw EProgramEntrySaveError(e.Message());
    }
}

bool TProgramEntry::IsFileBlank() const
{
    return FFile.empty();
}

void TProgramEntry::SetFile(const std::string& path)
{
    std::string file;
    if (!path.empty()) {
        bool accepted = !HasUnstorableBytes(path);
        if (accepted) {
            try {
                CheckAbsolutePath(path);
                file = GetLongPath(ExpandFileName(path));
            } catch (const EFileError&) {
                accepted = false;
            }
        }
        if (!accepted) {
            // TRANSLATORS: %1 is the path the user gave for the program file.
            throw EProgramEntryError(FormatText(Tr("The program cannot accept the path \"%1\"."), {path}));
        }
    }
    if (file == FFile)
        return;
    FFile = std::move(file);
    UpdateIcon();
}

void TProgramEntry::UpdateIcon()
{
    if (IconSources().Deferred && HaveWidgetApplication()) {
        FIcon = BlankProgramIcon();
        return;
    }
    FIcon = IsFileBlank() ? GenericProgramIcon() : FileIcon(FFile);
}

// ---------------------------------------------------------------------------
// TProgramEntriesModel

TProgramEntriesModel::TProgramEntriesModel()
{
    FCollator.setCaseSensitivity(Qt::CaseSensitive);
}

TProgramEntriesModel::~TProgramEntriesModel() = default;

void TProgramEntriesModel::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    if (!ini.SectionExists(section))
        return;
    Clear();
    const int count = ini.ReadInteger(section, "Count", 0);
    SetCapacity(std::clamp(count, 0, MaxReservedEntries));
    // A missing item section loads as an entry with an empty name, so a
    // "Count" past the stored items ends at the second such item with a
    // collision instead of looping on.
    for (int i = 0; i < count; ++i) {
        TAutoPointer<TProgramEntry> entry = std::make_unique<TProgramEntry>();
        try {
            entry->Load(ini, ItemSection(section, i));
        } catch (const EProgramEntryLoadError&) {
            continue;
        }
        Add(std::move(entry));
    }
    if (Count() != count)
        ShowErrorBox(Tr("The program could not load all the program entries."), AppTitle);
}

void TProgramEntriesModel::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    ini.WriteInteger(section, "Count", Count());
    for (int i = 0; i < Count(); ++i)
        FItems[static_cast<std::size_t>(i)].Entry->Save(ini, ItemSection(section, i));
}

void TProgramEntriesModel::DoInserted(int index)
{
    if (OnInserted)
        OnInserted(*this, index);
}

void TProgramEntriesModel::DoDeleted(int index)
{
    if (OnDeleted)
        OnDeleted(*this, index);
}

void TProgramEntriesModel::DoCleared()
{
    if (OnCleared)
        OnCleared(*this);
}

int TProgramEntriesModel::Add(TAutoPointer<TProgramEntry>&& entry)
{
    if (!entry)
        throw EInvalidOperation(Tr("The program cannot add a missing program entry."));
    std::string name = entry->DisplayName();
    QCollatorSortKey key = SortKey(name);
    const int index = LowerBound(key, name);
    if (index < Count() && FItems[static_cast<std::size_t>(index)].Name == name)
        throw EProgramEntriesError(
            Tr("The program cannot add the program entry because its display name collides with another."));
    FItems.insert(FItems.begin() + index, TItem{std::move(name), std::move(key), std::move(entry)});
    DoInserted(index);
    return index;
}

void TProgramEntriesModel::Delete(int index)
{
    CheckListIndex(index, Count());
    FItems.erase(FItems.begin() + index);
    DoDeleted(index);
}

void TProgramEntriesModel::Clear()
{
    if (FItems.empty())
        return;
    FItems.clear();
    DoCleared();
}

int TProgramEntriesModel::IndexOf(const TProgramEntry* entry) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<std::size_t>(i)].Entry.get() == entry)
            return i;
    return -1;
}

int TProgramEntriesModel::IndexOfDisplayName(const std::string& name) const
{
    const int index = LowerBound(SortKey(name), name);
    if (index < Count() && FItems[static_cast<std::size_t>(index)].Name == name)
        return index;
    return -1;
}

std::string TProgramEntriesModel::MakeUniqueDisplayName(const std::string& name) const
{
    for (int n = 1; n <= 100; ++n) {
        // TRANSLATORS: a program entry's name made unique, as in "Editor (2)": %1 is the
        // name, %2 the number.
        std::string candidate = n == 1 ? name : FormatText(Tr("%1 (%2)"), {name, std::to_string(n)});
        if (IndexOfDisplayName(candidate) == -1)
            return candidate;
    }
    throw EAppError(Tr("The program could not provide a unique display name."));
}

TProgramEntry* TProgramEntriesModel::Items(int index) const
{
    CheckListIndex(index, Count());
    return FItems[static_cast<std::size_t>(index)].Entry.get();
}

void TProgramEntriesModel::SetCapacity(int capacity)
{
    if (capacity > 0)
        FItems.reserve(static_cast<std::size_t>(capacity));
}

int TProgramEntriesModel::LowerBound(const QCollatorSortKey& key, const std::string& name) const
{
    // The collator may call distinct names equal; their bytes then decide, so
    // the order is total and a lookup finds exactly its name.
    auto before = [](const TItem& item, const std::pair<const QCollatorSortKey&, const std::string&>& value) {
        const int c = item.Key.compare(value.first);
        return c < 0 || (c == 0 && item.Name < value.second);
    };
    const auto it = std::lower_bound(FItems.begin(), FItems.end(),
                                     std::pair<const QCollatorSortKey&, const std::string&>(key, name), before);
    return static_cast<int>(it - FItems.begin());
}

QCollatorSortKey TProgramEntriesModel::SortKey(const std::string& name) const
{
    return FCollator.sortKey(QString::fromStdString(name));
}

// ---------------------------------------------------------------------------
// TProgramEntriesSelection

TProgramEntriesSelection::TProgramEntriesSelection(TProgramEntriesModel& model, QComboBox& comboBox)
    : FModel(&model), FComboBox(&comboBox)
{
}

TProgramEntriesSelection::~TProgramEntriesSelection()
{
    if (FDeferringIcons)
        IconSources().Deferred = false;
}

void TProgramEntriesSelection::DeferIcons()
{
    IconSources().Deferred = true;
    FDeferringIcons = true;
}

void TProgramEntriesSelection::ResolveDeferredIcons()
{
    if (!FDeferringIcons)
        return;
    IconSources().Deferred = false;
    FDeferringIcons = false;
    TUpdatesSuspender suspender(*FComboBox);
    for (int i = 0; i < FModel->Count(); ++i) {
        TProgramEntry* entry = FModel->Items(i);
        entry->UpdateIcon();
        FComboBox->setItemIcon(i, entry->Icon());
    }
}

void TProgramEntriesSelection::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    int index = ini.ReadInteger(section, "SelectionIndex", SelectedIndex());
    if (index >= ItemCount())
        index = ItemCount() - 1;
    SetSelectedIndex(index);
}

void TProgramEntriesSelection::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    ini.WriteInteger(section, "SelectionIndex", SelectedIndex());
}

void TProgramEntriesSelection::EntryInserted(int index)
{
    TProgramEntry* entry = FModel->Items(index);
    TUpdatesSuspender suspender(*FComboBox);
    FComboBox->insertItem(index, entry->Icon(), QString::fromStdString(entry->DisplayName()),
                          QVariant::fromValue(entry));
    FComboBox->setCurrentIndex(index);
}

void TProgramEntriesSelection::EntryDeleted(int index)
{
    const int selected = SelectedIndex();
    int newSelected = selected;
    if (index < selected || selected == FModel->Count())
        newSelected = selected - 1;
    TUpdatesSuspender suspender(*FComboBox);
    FComboBox->removeItem(index);
    FComboBox->setCurrentIndex(newSelected);
}

void TProgramEntriesSelection::EntriesCleared()
{
    if (FComboBox->count() == 0)
        return;
    TUpdatesSuspender suspender(*FComboBox);
    FComboBox->clear();
}

int TProgramEntriesSelection::ItemCount() const
{
    return FComboBox->count();
}

int TProgramEntriesSelection::SelectedIndex() const
{
    return FComboBox->currentIndex();
}

void TProgramEntriesSelection::SetSelectedIndex(int index)
{
    FComboBox->setCurrentIndex(index < 0 ? -1 : index);
}

TProgramEntry* TProgramEntriesSelection::ItemEntry(const QComboBox& comboBox, int index)
{
    return comboBox.itemData(index).value<TProgramEntry*>();
}

// ---------------------------------------------------------------------------
// TProgramEntriesCommands

TProgramEntriesCommands::TProgramEntriesCommands(TProgramEntriesModel& model, TProgramEntriesSelection& selection)
    : FModel(&model), FSelection(&selection)
{
    TAutoPointer<TProgramEntry> builtIn = std::make_unique<TProgramEntry>();
    // TRANSLATORS: the name of the built-in program entry, which opens each
    // document with the program the desktop associates with its type.
    builtIn->SetDisplayName(Tr("Default - depends on file association"));
    FModel->Add(std::move(builtIn));
}

void TProgramEntriesCommands::Add()
{
    if (!CanAdd())
        RaiseUnavailable();
    TAppProgramDialog& dialog = GetAppProgramDialog();
    // TRANSLATORS: the title of the program entry dialog when it adds a new entry.
    dialog.setWindowTitle(QString::fromUtf8(Tr("Add")));
    dialog.Reset();
    dialog.Entry().SetDisplayName(FModel->MakeUniqueDisplayName(dialog.Entry().DisplayName()));
    ExecuteDialog(dialog, [this](const std::string& name) { return FModel->IndexOfDisplayName(name) < 0; });
    AddDialogEntry(dialog);
}

bool TProgramEntriesCommands::CanAdd() const
{
    return true;
}

void TProgramEntriesCommands::Duplicate()
{
    if (!CanDuplicate())
        RaiseUnavailable();
    TAppProgramDialog& dialog = GetAppProgramDialog();
    // TRANSLATORS: the title of the program entry dialog when it adds a copy of the selected entry.
    dialog.setWindowTitle(QString::fromUtf8(Tr("Duplicate")));
    dialog.Entry().Assign(*SelectedEntry());
    dialog.Entry().SetDisplayName(FModel->MakeUniqueDisplayName(dialog.Entry().DisplayName()));
    ExecuteDialog(dialog, [this](const std::string& name) { return FModel->IndexOfDisplayName(name) < 0; });
    AddDialogEntry(dialog);
}

bool TProgramEntriesCommands::CanDuplicate() const
{
    return SelectedEntry() != nullptr;
}

void TProgramEntriesCommands::Delete()
{
    if (!CanDelete())
        RaiseUnavailable();
    if (!ConfirmBox(Tr("Do you want to remove the program from the list?"), AppTitle))
        throw EAbort();
    FModel->Delete(FSelection->SelectedIndex());
}

bool TProgramEntriesCommands::CanDelete() const
{
    return SelectedEntry() != nullptr;
}

void TProgramEntriesCommands::Start()
{
    if (!CanStart())
        RaiseUnavailable();
    try {
        StartProgram(SelectedEntry()->File(), TStringDynArray(), std::string(), ShowCommandNormal, false);
    } catch (const EShellExecuteError&) {
        throw EAppError(Tr("The program could not start the program."));
    }
}

bool TProgramEntriesCommands::CanStart() const
{
    return HasSelectedFile();
}

void TProgramEntriesCommands::Explore()
{
    if (!CanExplore())
        RaiseUnavailable();
    try {
        ExploreDirectory(ExtractFileDir(SelectedEntry()->File()));
    } catch (const EShellExecuteError&) {
        throw EAppError(Tr("The program could not explore the directory."));
    }
}

bool TProgramEntriesCommands::CanExplore() const
{
    return HasSelectedFile();
}

void TProgramEntriesCommands::Properties()
{
    if (!CanProperties())
        RaiseUnavailable();
    TAppProgramDialog& dialog = GetAppProgramDialog();
    // TRANSLATORS: the title of the program entry dialog when it edits the selected entry.
    dialog.setWindowTitle(QString::fromUtf8(Tr("Properties")));
    dialog.Entry().Assign(*SelectedEntry());
    // The entry may keep its own name.
    ExecuteDialog(dialog, [this](const std::string& name) {
        const int index = FModel->IndexOfDisplayName(name);
        return index < 0 || index == FSelection->SelectedIndex();
    });
    TAutoPointer<TProgramEntry> edited = std::make_unique<TProgramEntry>();
    edited->Assign(dialog.Entry());
    FModel->Delete(FSelection->SelectedIndex());
    FModel->Add(std::move(edited));
}

bool TProgramEntriesCommands::CanProperties() const
{
    return SelectedEntry() != nullptr;
}

TProgramEntry* TProgramEntriesCommands::SelectedEntry() const
{
    const int index = FSelection->SelectedIndex();
    return index >= 0 && index < FModel->Count() ? FModel->Items(index) : nullptr;
}

bool TProgramEntriesCommands::HasSelectedFile() const
{
    const TProgramEntry* entry = SelectedEntry();
    return entry && !entry->IsFileBlank();
}

void TProgramEntriesCommands::ExecuteDialog(TAppProgramDialog& dialog,
                                            std::function<bool(const std::string& name)> isValidName)
{
    // The check refers to this object; the dialog must not keep it past the run.
    struct TCheckReset {
        TAppProgramDialog& Dialog;
        ~TCheckReset() { Dialog.OnValidateDisplayName = nullptr; }
    } reset{dialog};
    dialog.OnValidateDisplayName = [&isValidName](TAppProgramDialog&, const std::string& name, bool& valid) {
        valid = isValidName(name);
    };
    if (!dialog.Execute())
        throw EAbort();
}

void TProgramEntriesCommands::AddDialogEntry(const TAppProgramDialog& dialog)
{
    TAutoPointer<TProgramEntry> entry = std::make_unique<TProgramEntry>();
    entry->Assign(dialog.Entry());
    FModel->Add(std::move(entry));
}
