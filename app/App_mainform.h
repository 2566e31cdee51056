#pragma once
// The main window: it owns and wires every model, selection and command set,
// loads and saves the settings, and turns menus, keys, buttons, column clicks,
// dropped files and the command line into command operations.

#include "Zel_autopointers.h"
#include "Zel_dynamicarrays.h"

#include <QComboBox>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class QAction;
class QIcon;
class QPainter;
class QRect;
class QMenu;
class TSystemModel;
class TProgramEntriesModel;
class TProgramEntriesSelection;
class TProgramEntriesCommands;
class TDocumentEntriesModel;
class TDocumentEntriesSelection;
class TDocumentEntriesCommands;
class TDocumentJournal;
class TSessionEndWatcher;
class TFormModel;
class TListViewModel;
class TOpenCommands;
class THelpCommands;
class TSettingsHandlers;
class TFileDropWatcher;
class TDroppedFiles;
class TUpdateNotifier;
class TListItem;
class TVirtualListView;

// The program combo box, drawn by its owner: each entry's icon at x + 1 and
// its name at x + 19, greyed when disabled, in the list and in the box.
class TProgramComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit TProgramComboBox(QWidget* parent = nullptr);

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool FDelegateSet = false;
};

// Paints combo item index of comboBox into rect; nothing for an item that
// carries no program entry.
void DrawProgramItem(QPainter& painter, const QComboBox& comboBox, int index, const QRect& rect,
                     bool disabled, bool selected);

namespace Ui {
class TAppMainForm;
}

class TAppMainForm : public QWidget {
    Q_OBJECT

public:
    // Builds the whole object graph and loads the settings; on failure
    // everything built so far is freed and the exception passes on.
    explicit TAppMainForm(QWidget* parent = nullptr);
    ~TAppMainForm() override;

    // Paths to add once the event loop first runs, as if dropped; relative
    // ones are taken against the directory the program was started in.
    void SetCommandLine(TStringDynArray arguments);

    // Adds the paths through "Add dropped files" (the execution wrapper runs).
    void SubmitDroppedFiles(const TStringDynArray& paths);

    // The actions in list order ("Action11" ... "Action3B"), for the menus,
    // keys and tests.
    const std::vector<QAction*>& Actions() const noexcept { return ActionList1; }
    QAction* FindAction(const char* name) const;
    // Runs an action through the execution wrapper, only when it is enabled.
    void ExecuteAction(QAction* action);

    QMenu* PopupMenu1() const noexcept { return FPopupMenu1; }
    QMenu* PopupMenu2() const noexcept { return FPopupMenu2; }
    QMenu* PopupMenu3() const noexcept { return FPopupMenu3; }

    TProgramEntriesModel& ProgramEntries() const noexcept { return *FProgramEntries; }
    TProgramEntriesSelection& ProgramSelection() const noexcept { return *FProgramSelection; }
    TDocumentEntriesModel& DocumentEntries() const noexcept { return *FDocumentEntries; }
    TDocumentEntriesSelection& DocumentSelection() const noexcept { return *FDocumentSelection; }
    TUpdateNotifier& UpdateNotifier() const noexcept { return *FUpdateNotifier; }
    TDocumentJournal& Journal() const noexcept { return *FJournal; }
    TVirtualListView& ListView() const noexcept;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct TActionHandlers {
        std::function<void()> Execute;
        std::function<bool()> Update;
    };

    // A designed size in pixels at this screen's resolution.
    int Scaled(int designed) const;
    void CreateActions();
    void CreateMenus();
    void ConnectControls();
    QAction* AddAction(const char* name, const char* category, const char* hint,
                       TActionHandlers handlers);

    // The execution wrapper: busy cursor, focus by category, the operation,
    // then an update request; failures go to the error display unless
    // rethrow is set.
    void ActionList1Execute(QAction* action, bool rethrow);
    void UpdateActions();
    void UpdateStatusLabel();
    void NotifierUpdate();
    void ListView1Data(int row, TListItem& item);
    // Gives the list the page and the folder followed by every type picture
    // the type cache has read so far.
    void SyncTypeImages();
    void ListView1ColumnClick(int column);
    void FileDropWatcherDrop(TDroppedFiles& files, bool& handled);
    void ProcessCommandLine();
    // Empties the list (asking first) and saves; false keeps the window open.
    bool FormCloseQuery();
    // The other way out, when a signal or the desktop session ends the
    // program: no question; a run is cancelled, the settings are saved and
    // the journal is kept; the program exits once a run has ended.
    void SessionEnd();
    void SaveSettingsAtSessionEnd();
    // Open, marked as running, so a session end waits for the run's worker.
    void OpenDocuments();
    void RecoverJournal();

    TAutoPointer<Ui::TAppMainForm> FUi;

    // Owned objects in creation order; members are destroyed in reverse.
    TAutoPointer<TSystemModel> FSystemModel;
    TAutoPointer<TProgramEntriesModel> FProgramEntries;
    TAutoPointer<TProgramEntriesSelection> FProgramSelection;
    TAutoPointer<TProgramEntriesCommands> FProgramCommands;
    TAutoPointer<TDocumentEntriesModel> FDocumentEntries;
    TAutoPointer<TDocumentEntriesSelection> FDocumentSelection;
    TAutoPointer<TDocumentJournal> FJournal;
    TAutoPointer<TDocumentEntriesCommands> FDocumentCommands;
    TAutoPointer<TFormModel> FFormModel;
    TAutoPointer<TListViewModel> FListViewModel;
    TAutoPointer<TOpenCommands> FOpenCommands;
    TAutoPointer<THelpCommands> FHelpCommands;
    TAutoPointer<TSettingsHandlers> FSettingsHandlers;
    TAutoPointer<TFileDropWatcher> FFileDropWatcher;
    TAutoPointer<TUpdateNotifier> FUpdateNotifier;
    TAutoPointer<TSessionEndWatcher> FSessionEndWatcher;

    TStringDynArray PendingDroppedFiles;
    TStringDynArray FCommandLine;
    std::string FStartDirectory;

    std::vector<QAction*> ActionList1; // children of the form
    std::vector<TActionHandlers> FHandlers;
    QMenu* FPopupMenu1 = nullptr;
    QMenu* FPopupMenu2 = nullptr;
    QMenu* FPopupMenu3 = nullptr;
    bool FClosing = false;
    bool FRunning = false;
    bool FSessionEnding = false;
    bool FShown = false;
    std::size_t FTypeImageCount = SIZE_MAX; // type pictures the list has
};

// The application's one main window, while it exists.
extern TAppMainForm* AppMainForm;
