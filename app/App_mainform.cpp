#include "App_mainform.h"

#include "App_common.h"
#include "App_documents.h"
#include "App_help.h"
#include "App_journal.h"
#include "App_ProgressDialog.h"
#include "App_open.h"
#include "App_programs.h"
#include "App_system.h"
#include "App_view.h"
#include "ui_App_mainform.h"

#include "Zel_dialogs.h"
#include "Zel_files.h"
#include "Zel_forms.h"
#include "Zel_listviews.h"
#include "Zel_shellfiles.h"
#include "Zel_shelllibrary.h"
#include "Zel_signals.h"
#include "Zel_translations.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QShortcut>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <QTimer>

#include <cstdio>

TAppMainForm* AppMainForm = nullptr;

namespace {

constexpr const char* CategoryProperty = "category";
constexpr const char* CategoryMain = "Main";
constexpr const char* CategoryProgram = "Program";
constexpr const char* CategoryDocuments = "Documents";

QIcon ResourceIcon(const char* name)
{
    const QString base = QStringLiteral(":/images/%1-").arg(QLatin1String(name));
    return LazyPngIcon({{16, base + QStringLiteral("16.png")}, {32, base + QStringLiteral("32.png")}});
}

// Rows of the program combo box's list: a fixed height, drawn by the owner.
class TProgramItemDelegate : public QStyledItemDelegate {
public:
    TProgramItemDelegate(const QComboBox& comboBox, QObject* parent)
        : QStyledItemDelegate(parent), FComboBox(comboBox)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.icon = QIcon();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
        const bool selected = option.state & QStyle::State_Selected;
        const bool disabled = !(option.state & QStyle::State_Enabled) || !FComboBox.isEnabled();
        painter->save();
        if (selected)
            painter->setPen(option.palette.color(QPalette::HighlightedText));
        DrawProgramItem(*painter, FComboBox, index.row(), option.rect, disabled, selected);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(18, option.fontMetrics.height() + 2));
        return size;
    }

private:
    const QComboBox& FComboBox;
};

// The busy cursor must not sit over a dialog that waits for the user.
class TModalCursorFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched->isWidgetType() && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && widget->isModal()) {
                if (event->type() == QEvent::Show) {
                    QApplication::setOverrideCursor(Qt::ArrowCursor);
                    ++FPushed;
                } else if (FPushed > 0) {
                    QApplication::restoreOverrideCursor();
                    --FPushed;
                }
            }
        }
        return false;
    }

private:
    int FPushed = 0;
};

// Shift+F10 opens the focused control's context menu, as the Menu key does:
// the same keyboard event at the same place, which a control without a menu
// passes on to its window.
class TContextMenuKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || QApplication::activePopupWidget())
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier)
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QPoint pos = widget->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, pos, widget->mapToGlobal(pos), key->modifiers());
        QApplication::sendEvent(widget, &menu);
        return true;
    }
};

// The shortcut goes into the tooltip in the desktop's usual form, "New (Ctrl+N)".
QString ToolTipWithShortcut(const QAction& action)
{
    const QKeySequence shortcut = action.shortcut();
    if (shortcut.isEmpty())
        return action.toolTip();
    // TRANSLATORS: a tool button's tooltip: %1 is the action's tooltip, %2 its shortcut key
    return QString::fromUtf8(Tr("%1 (%2)")).arg(action.toolTip(), shortcut.toString(QKeySequence::NativeText));
}

} // namespace

TProgramComboBox::TProgramComboBox(QWidget* parent) : QComboBox(parent) {}

// The list is made when it first opens: making it with the box would hold up
// the first window.
void TProgramComboBox::showPopup()
{
    if (!FDelegateSet) {
        setItemDelegate(new TProgramItemDelegate(*this, this));
        FDelegateSet = true;
    }
    QComboBox::showPopup();
}

void TProgramComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    DrawProgramItem(painter, *this, currentIndex(), field, !isEnabled(), false);
}

void DrawProgramItem(QPainter& painter, const QComboBox& comboBox, int index, const QRect& rect,
                     bool disabled, bool selected)
{
    const TProgramEntry* entry = TProgramEntriesSelection::ItemEntry(comboBox, index);
    if (!entry)
        return;
    painter.save();
    painter.setClipRect(rect);
    if (disabled)
        painter.setPen(comboBox.palette().color(QPalette::Disabled, QPalette::Text));
    else if (!selected && painter.pen().color() == QColor())
        painter.setPen(comboBox.palette().color(QPalette::Text));
    const QFontMetrics metrics(comboBox.font());
    const int textTop = rect.top() + (rect.height() - metrics.height()) / 2;
    painter.drawText(QRect(rect.left() + 19, textTop, std::max(0, rect.width() - 19), metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, comboBox.itemText(index));
    const QRect iconRect(rect.left() + 1, rect.top() + (rect.height() - 16) / 2, 16, 16);
    entry->Icon().paint(&painter, iconRect, Qt::AlignCenter, disabled ? QIcon::Disabled : QIcon::Normal);
    painter.restore();
}

TAppMainForm::TAppMainForm(QWidget* parent) : QWidget(parent), FUi(std::make_unique<Ui::TAppMainForm>())
{
    FStartDirectory = GetCurrentDir();
    SetFormAccessibility(*this);
    FUi->setupUi(this);
    setWindowIcon(ResourceIcon("dorvane"));

    // The designed client size at the designed 120 dots per inch.
    resize(Scaled(581), Scaled(386));
    // The label column keeps its designed width, or more when the font needs it.
    FUi->Label1->setFixedWidth(std::max(Scaled(121), FUi->Label1->sizeHint().width()));
    FUi->Button1->setMinimumWidth(Scaled(121));

    TVirtualListView& listView = *FUi->ListView1;
    // TRANSLATORS: document list column: the file's name
    listView.SetColumns({{Tr("Name"), 200, TAlignment::LeftJustify},
                         // Cut in the middle: the folder's own name is at the end.
                         // TRANSLATORS: document list column: the directory that holds the file
                         {Tr("Directory"), 100, TAlignment::LeftJustify, Qt::ElideMiddle},
                         // TRANSLATORS: document list column: the file's size in bytes
                         {Tr("Size"), 100, TAlignment::RightJustify},
                         // TRANSLATORS: document list column: the file's type, as the desktop names it
                         {Tr("Type"), 100, TAlignment::LeftJustify},
                         // TRANSLATORS: document list column: when the file was last changed
                         {Tr("Last write time"), 100, TAlignment::LeftJustify},
                         // TRANSLATORS: document list column: the outcome of opening the document
                         {Tr("Result"), 100, TAlignment::LeftJustify}});
    SyncTypeImages();
    listView.SetStateImages({ResourceIcon("none"), ResourceIcon("success"), ResourceIcon("failure")});
    listView.SetMultiSelect(true);

    // Objects 1 to 4, the program side.
    FSystemModel = std::make_unique<TSystemModel>();
    FProgramEntries = std::make_unique<TProgramEntriesModel>();
    FProgramSelection = std::make_unique<TProgramEntriesSelection>(*FProgramEntries, *FUi->ComboBox1);
    FProgramSelection->DeferIcons();
    FProgramEntries->OnInserted = [this](TProgramEntriesModel&, int index) { FProgramSelection->EntryInserted(index); };
    FProgramEntries->OnDeleted = [this](TProgramEntriesModel&, int index) { FProgramSelection->EntryDeleted(index); };
    FProgramEntries->OnCleared = [this](TProgramEntriesModel&) { FProgramSelection->EntriesCleared(); };
    FProgramCommands = std::make_unique<TProgramEntriesCommands>(*FProgramEntries, *FProgramSelection);

    TDocumentEntry::FileImageIndex = 0;
    TDocumentEntry::DirectoryImageIndex = 1;
    TDocumentEntry::NoneImageIndex = 0;
    TDocumentEntry::SuccessImageIndex = 1;
    TDocumentEntry::FailureImageIndex = 2;
    TDocumentEntry::TypeImageIndexBase = 2; // the icon theme's type pictures follow the page and the folder

    // Objects 5 and 6, the document side.
    FDocumentEntries = std::make_unique<TDocumentEntriesModel>();
    FDocumentSelection = std::make_unique<TDocumentEntriesSelection>(*FDocumentEntries, listView);
    TDocumentEntriesSelection& selection = *FDocumentSelection;
    // The journal sees every change too, first, since its handlers never fail.
    FJournal = std::make_unique<TDocumentJournal>(ExtractFileDir(SettingsPath()));
    FJournal->OnError = [this](TDocumentJournal&, const std::string& message) {
        // TRANSLATORS: %1 is why the journal of the document list could not be written
        ShowErrorBox(FormatText(Tr("%1 The document list will not be restored after a crash."), {message}), AppTitle);
    };
    TDocumentJournal& journal = *FJournal;
    FDocumentEntries->OnAdded = [this, &journal, &selection](TDocumentEntriesModel& s, const TIntegerDynArray& i) {
        journal.EntriesAdded(s, i);
        SyncTypeImages(); // new entries may bring new type pictures
        selection.EntriesAdded(s, i);
    };
    FDocumentEntries->OnDeleted = [&](TDocumentEntriesModel& s, const TIntegerDynArray& i) { journal.EntriesDeleted(s, i); selection.EntriesDeleted(s, i); };
    FDocumentEntries->OnCleared = [&](TDocumentEntriesModel& s) { journal.EntriesCleared(s); selection.EntriesCleared(s); };
    FDocumentEntries->OnReordered = [&](TDocumentEntriesModel& s, const TReorderRecords& r) { journal.EntriesReordered(s, r); selection.EntriesReordered(s, r); };
    FDocumentEntries->OnChanged = [&](TDocumentEntriesModel& s, const TIntegerDynArray& i) { journal.EntriesChanged(s, i); selection.EntriesChanged(s, i); };

    // Objects 7 to 12.
    FDocumentCommands = std::make_unique<TDocumentEntriesCommands>(*FDocumentEntries, *FDocumentSelection);
    FFormModel = std::make_unique<TFormModel>(*this);
    FListViewModel = std::make_unique<TListViewModel>(listView);
    FOpenCommands = std::make_unique<TOpenCommands>(*FProgramEntries, *FDocumentEntries, *FProgramSelection);
    FHelpCommands = std::make_unique<THelpCommands>();
    FSettingsHandlers = std::make_unique<TSettingsHandlers>();

    TSettingsHandlers& handlers = *FSettingsHandlers;
    handlers.Add("System", FSystemModel.get());
    handlers.Add("ProgramEntries", FProgramEntries.get());
    handlers.Add("ProgramEntriesSelection", FProgramSelection.get());
    handlers.Add("ProgramEntriesCommands", FProgramCommands.get());
    handlers.Add("DocumentEntries", FDocumentEntries.get());
    handlers.Add("DocumentEntriesSelection", FDocumentSelection.get());
    handlers.Add("DocumentEntriesCommands", FDocumentCommands.get());
    handlers.Add("MainForm", FFormModel.get());
    handlers.Add("MainForm.ListView1", FListViewModel.get());
    handlers.Add("OpenCommands", FOpenCommands.get());
    handlers.Add("HelpCommands", FHelpCommands.get());

    FFileDropWatcher = std::make_unique<TFileDropWatcher>(*this);
    FFileDropWatcher->OnDrop = [this](TFileDropWatcher&, TDroppedFiles& files, bool& handled) {
        FileDropWatcherDrop(files, handled);
    };
    FUpdateNotifier = std::make_unique<TUpdateNotifier>();
    FUpdateNotifier->OnUpdate = [this](TUpdateNotifier&) { NotifierUpdate(); };
    // Nothing else refreshes the actions when another program changes the
    // clipboard, and Paste must follow it.
    FDocumentCommands->OnClipboardChange = [this](TDocumentEntriesCommands&) { FUpdateNotifier->RequestUpdate(); };

    CreateActions();
    CreateMenus();
    ConnectControls();

    FSettingsHandlers->Load();
    FUpdateNotifier->UpdateNow();

    FSessionEndWatcher = std::make_unique<TSessionEndWatcher>();
    FSessionEndWatcher->OnEnd = [this](TSessionEndWatcher&, int) { SessionEnd(); };
    FSessionEndWatcher->OnSaveRequest = [this](TSessionEndWatcher&) {
        SaveSettingsAtSessionEnd();
        FJournal->Sync();
    };

    // Runs once the event loop is idle for the first time after the window
    // shows: lost lists come back before the command line's documents.
    RunWhenFormShown(*this, [this] {
        FProgramSelection->ResolveDeferredIcons();
        RecoverJournal();
        if (!FSessionEnding)
            ProcessCommandLine();
    });
}

TAppMainForm::~TAppMainForm()
{
    if (AppMainForm == this)
        AppMainForm = nullptr;
    // Reverse order of creation; the members would do the same, but the
    // drop watcher and the notifier must go before the widgets they serve.
    FDocumentCommands->OnClipboardChange = nullptr;
    FSessionEndWatcher.reset();
    FUpdateNotifier.reset();
    FFileDropWatcher.reset();
    FSettingsHandlers.reset();
    FHelpCommands.reset();
    FOpenCommands.reset();
    FListViewModel.reset();
    FFormModel.reset();
    FDocumentCommands.reset();
    FDocumentSelection.reset();
    FDocumentEntries.reset();
    FJournal.reset();
    FProgramCommands.reset();
    FProgramSelection.reset();
    FProgramEntries.reset();
    FSystemModel.reset();
    PendingDroppedFiles.clear();
}

int TAppMainForm::Scaled(int designed) const
{
    // Sizes were designed at 120 dots per inch.
    return qRound(designed * logicalDpiX() / 120.0);
}

TVirtualListView& TAppMainForm::ListView() const noexcept
{
    return *FUi->ListView1;
}

QAction* TAppMainForm::AddAction(const char* name, const char* category, const char* hint,
                                 TActionHandlers handlers)
{
    auto* action = new QAction(this);
    action->setObjectName(QLatin1String(name));
    action->setProperty(CategoryProperty, QLatin1String(category));
    action->setToolTip(QString::fromUtf8(hint));
    action->setStatusTip(QString::fromUtf8(hint));
    ActionList1.push_back(action);
    FHandlers.push_back(std::move(handlers));
    connect(action, &QAction::triggered, this, [this, action] { ActionList1Execute(action, false); });
    return action;
}

void TAppMainForm::CreateActions()
{
    TOpenCommands& open = *FOpenCommands;
    THelpCommands& help = *FHelpCommands;
    TProgramEntriesCommands& programs = *FProgramCommands;
    TDocumentEntriesCommands& documents = *FDocumentCommands;

    // TRANSLATORS: tooltip and status hint of the action that opens every document of the list, one after another, with the selected program
    AddAction("Action11", CategoryMain, Tr("Open"), {[this] { OpenDocuments(); }, [&] { return open.CanOpen(); }});
    // TRANSLATORS: tooltip and status hint of the action that opens this program's help
    AddAction("Action121", CategoryMain, Tr("Dorvane help"), {[&] { help.OpenHelp(); }, [&] { return help.CanOpenHelp(); }});
    // TRANSLATORS: tooltip and status hint of the action that shows the program's name, version and copyright
    AddAction("Action122", CategoryMain, Tr("About Dorvane"), {[&] { help.About(); }, [&] { return help.CanAbout(); }});

    // TRANSLATORS: tooltip and status hint of the action that adds a program entry
    AddAction("Action21", CategoryProgram, Tr("Add"), {[&] { programs.Add(); }, [&] { return programs.CanAdd(); }});
    // TRANSLATORS: tooltip and status hint of the action that deletes the selected program entry
    AddAction("Action22", CategoryProgram, Tr("Delete"), {[&] { programs.Delete(); }, [&] { return programs.CanDelete(); }});
    // TRANSLATORS: tooltip and status hint of the action that adds a copy of the selected program entry
    AddAction("Action23", CategoryProgram, Tr("Duplicate"), {[&] { programs.Duplicate(); }, [&] { return programs.CanDuplicate(); }});
    // TRANSLATORS: tooltip and status hint of the action that starts the selected program without a document
    AddAction("Action24", CategoryProgram, Tr("Start"), {[&] { programs.Start(); }, [&] { return programs.CanStart(); }});
    // TRANSLATORS: tooltip and status hint of the action that shows the selected program's file in the file manager
    AddAction("Action25", CategoryProgram, Tr("Explore"), {[&] { programs.Explore(); }, [&] { return programs.CanExplore(); }});
    // TRANSLATORS: tooltip and status hint of the action that edits the selected program entry
    AddAction("Action26", CategoryProgram, Tr("Properties"), {[&] { programs.Properties(); }, [&] { return programs.CanProperties(); }});

    // TRANSLATORS: tooltip and status hint of the action that empties the document list
    AddAction("Action31", CategoryDocuments, Tr("New"), {[&] { documents.New(); }, [&] { return documents.CanNew(); }});
    // TRANSLATORS: tooltip and status hint of the action that adds files to the document list through a file dialog
    AddAction("Action321", CategoryDocuments, Tr("Add regular files"), {[&] { documents.AddRegularFiles(); }, [&] { return documents.CanAddRegularFiles(); }});
    // TRANSLATORS: tooltip and status hint of the action that adds a directory to the document list
    AddAction("Action322", CategoryDocuments, Tr("Add directory"), {[&] { documents.AddDirectory(); }, [&] { return documents.CanAddDirectory(); }});
    // TRANSLATORS: tooltip and status hint of the action that adds files dropped on the window to the document list
    AddAction("Action323", CategoryDocuments, Tr("Add dropped files"),
              {[&] {
                   const TStringDynArray paths = std::move(PendingDroppedFiles);
                   PendingDroppedFiles.clear();
                   documents.AddDroppedFiles(paths);
               },
               [&] { return documents.CanAddDroppedFiles(); }});
    // TRANSLATORS: tooltip and status hint of the action that cuts the selected documents' paths to the clipboard
    AddAction("Action33", CategoryDocuments, Tr("Cut"), {[&] { documents.Cut(); }, [&] { return documents.CanCut(); }});
    // TRANSLATORS: tooltip and status hint of the action that copies the selected documents' paths to the clipboard
    AddAction("Action34", CategoryDocuments, Tr("Copy"), {[&] { documents.Copy(); }, [&] { return documents.CanCopy(); }});
    // The clipboard is first asked once the window shows (the journal's check
    // then asks for an update): asking it for its formats loads every image
    // format plugin, which would delay the window.
    // TRANSLATORS: tooltip and status hint of the action that adds the paths on the clipboard to the document list
    AddAction("Action35", CategoryDocuments, Tr("Paste"), {[&] { documents.Paste(); }, [&] { return FShown && documents.CanPaste(); }});
    // TRANSLATORS: tooltip and status hint of the action that removes the selected documents from the list (the files stay)
    AddAction("Action36", CategoryDocuments, Tr("Delete"), {[&] { documents.Delete(); }, [&] { return documents.CanDelete(); }});
    // TRANSLATORS: tooltip and status hint of the action that selects every document of the list
    AddAction("Action37", CategoryDocuments, Tr("Select all"), {[&] { documents.SelectAll(); }, [&] { return documents.CanSelectAll(); }});
    // TRANSLATORS: tooltip and status hint of the action that selects the unselected documents and unselects the selected ones
    AddAction("Action38", CategoryDocuments, Tr("Reverse selection"), {[&] { documents.ReverseSelection(); }, [&] { return documents.CanReverseSelection(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by full path
    AddAction("Action3911", CategoryDocuments, Tr("Sort by path"), {[&] { documents.SortByPath(); }, [&] { return documents.CanSortByPath(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by directory
    AddAction("Action3912", CategoryDocuments, Tr("Sort by directory"), {[&] { documents.SortByDirectory(); }, [&] { return documents.CanSortByDirectory(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by file name
    AddAction("Action3913", CategoryDocuments, Tr("Sort by name"), {[&] { documents.SortByName(); }, [&] { return documents.CanSortByName(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by size
    AddAction("Action3914", CategoryDocuments, Tr("Sort by size"), {[&] { documents.SortBySize(); }, [&] { return documents.CanSortBySize(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by file type
    AddAction("Action3915", CategoryDocuments, Tr("Sort by type"), {[&] { documents.SortByType(); }, [&] { return documents.CanSortByType(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by last write time
    AddAction("Action3916", CategoryDocuments, Tr("Sort by last write time"), {[&] { documents.SortByLastWriteTime(); }, [&] { return documents.CanSortByLastWriteTime(); }});
    // TRANSLATORS: tooltip and status hint of the action that sorts the document list by the result of opening
    AddAction("Action3917", CategoryDocuments, Tr("Sort by result"), {[&] { documents.SortByResult(); }, [&] { return documents.CanSortByResult(); }});
    // TRANSLATORS: tooltip and status hint of the action that reverses the order of the document list
    AddAction("Action392", CategoryDocuments, Tr("Reverse order"), {[&] { documents.ReverseOrder(); }, [&] { return documents.CanReverseOrder(); }});
    // TRANSLATORS: tooltip and status hint of the action that moves the selected documents up the list
    AddAction("Action393", CategoryDocuments, Tr("Move up"), {[&] { documents.MoveUp(); }, [&] { return documents.CanMoveUp(); }});
    // TRANSLATORS: tooltip and status hint of the action that moves the selected documents down the list
    AddAction("Action394", CategoryDocuments, Tr("Move down"), {[&] { documents.MoveDown(); }, [&] { return documents.CanMoveDown(); }});
    // TRANSLATORS: tooltip and status hint of the action that removes the documents opened with success from the list
    AddAction("Action3A", CategoryDocuments, Tr("Delete all in success"), {[&] { documents.DeleteAllInSuccess(); }, [&] { return documents.CanDeleteAllInSuccess(); }});
    // TRANSLATORS: tooltip and status hint of the action that sets the selected documents' result back to none
    AddAction("Action3B", CategoryDocuments, Tr("Reset result"), {[&] { documents.ResetResult(); }, [&] { return documents.CanResetResult(); }});
}

QAction* TAppMainForm::FindAction(const char* name) const
{
    for (QAction* action : ActionList1)
        if (action->objectName() == QLatin1String(name))
            return action;
    return nullptr;
}

void TAppMainForm::CreateMenus()
{
    // A menu entry is its action; the caption and shortcut live there. The
    // shortcuts of the program and document menus act only while their
    // control has the focus; F1 acts anywhere in the window.
    const auto item = [this](QMenu* menu, const char* name, const char* caption,
                             const QKeySequence& shortcut = QKeySequence()) {
        QAction* action = FindAction(name);
        action->setText(QString::fromUtf8(caption));
        action->setShortcut(shortcut);
        menu->addAction(action);
        return action;
    };
    const auto scope = [](QAction* action, QWidget* widget, Qt::ShortcutContext context) {
        action->setShortcutContext(context);
        widget->addAction(action);
    };

    // Translated captions keep the accelerators (&) of one menu apart.
    FPopupMenu1 = new QMenu(this);
    FPopupMenu1->setObjectName("PopupMenu1");
    // TRANSLATORS: the window's context menu: the submenu of the help items
    QMenu* help = FPopupMenu1->addMenu(QString::fromUtf8(Tr("&Help")));
    help->setObjectName("MenuItem11");
    // TRANSLATORS: menu item that opens this program's help
    scope(item(help, "Action121", Tr("Dorvane &Help..."), QKeySequence(Qt::Key_F1)), this, Qt::WindowShortcut);
    help->addSeparator();
    // TRANSLATORS: menu item that shows the program's name and version
    item(help, "Action122", Tr("&About Dorvane"));

    QWidget* combo = FUi->ComboBox1;
    FPopupMenu2 = new QMenu(this);
    FPopupMenu2->setObjectName("PopupMenu2");
    // TRANSLATORS: program menu: adds a program entry
    scope(item(FPopupMenu2, "Action21", Tr("&Add..."), QKeySequence(Qt::Key_Insert)), combo, Qt::WidgetShortcut);
    // TRANSLATORS: program menu: adds a copy of the selected program entry
    item(FPopupMenu2, "Action23", Tr("&Duplicate..."));
    // TRANSLATORS: program menu: deletes the selected program entry
    scope(item(FPopupMenu2, "Action22", Tr("D&elete..."), QKeySequence(Qt::Key_Delete)), combo, Qt::WidgetShortcut);
    FPopupMenu2->addSeparator();
    // TRANSLATORS: program menu: starts the selected program without a document
    item(FPopupMenu2, "Action24", Tr("&Start"));
    // TRANSLATORS: program menu: shows the program's file in the file manager
    item(FPopupMenu2, "Action25", Tr("&Explore"));
    FPopupMenu2->addSeparator();
    // TRANSLATORS: program menu: edits the selected program entry
    scope(item(FPopupMenu2, "Action26", Tr("&Properties"), QKeySequence(Qt::Key_F2)), combo, Qt::WidgetShortcut);

    QWidget* list = FUi->ListView1;
    FPopupMenu3 = new QMenu(this);
    FPopupMenu3->setObjectName("PopupMenu3");
    const auto listItem = [&](QMenu* menu, const char* name, const char* caption,
                              const QKeySequence& shortcut = QKeySequence()) {
        QAction* action = item(menu, name, caption, shortcut);
        if (!shortcut.isEmpty())
            scope(action, list, Qt::WidgetShortcut);
    };
    // TRANSLATORS: document list menu: empties the list
    listItem(FPopupMenu3, "Action31", Tr("&New"), QKeySequence(Qt::CTRL | Qt::Key_N));
    // TRANSLATORS: document list menu: the submenu of the ways to add documents
    QMenu* add = FPopupMenu3->addMenu(QString::fromUtf8(Tr("A&dd")));
    add->setObjectName("MenuItem32");
    // TRANSLATORS: document list menu, Add submenu: files chosen in a file dialog
    listItem(add, "Action321", Tr("&Regular Files..."), QKeySequence(Qt::Key_Insert));
    // TRANSLATORS: document list menu, Add submenu: a directory
    listItem(add, "Action322", Tr("&Directory..."));
    FPopupMenu3->addSeparator();
    // TRANSLATORS: document list menu: cuts the selected paths to the clipboard
    listItem(FPopupMenu3, "Action33", Tr("Cu&t"), QKeySequence(Qt::CTRL | Qt::Key_X));
    // TRANSLATORS: document list menu: copies the selected paths to the clipboard
    listItem(FPopupMenu3, "Action34", Tr("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C));
    // TRANSLATORS: document list menu: adds the paths on the clipboard
    listItem(FPopupMenu3, "Action35", Tr("&Paste"), QKeySequence(Qt::CTRL | Qt::Key_V));
    // TRANSLATORS: document list menu: removes the selected documents from the list
    listItem(FPopupMenu3, "Action36", Tr("D&elete"), QKeySequence(Qt::Key_Delete));
    FPopupMenu3->addSeparator();
    // TRANSLATORS: document list menu: selects every document
    listItem(FPopupMenu3, "Action37", Tr("Select &All"), QKeySequence(Qt::CTRL | Qt::Key_A));
    // TRANSLATORS: document list menu: inverts the selection
    listItem(FPopupMenu3, "Action38", Tr("Re&verse Selection"));
    FPopupMenu3->addSeparator();
    // TRANSLATORS: document list menu: the submenu that sorts and moves documents
    QMenu* order = FPopupMenu3->addMenu(QString::fromUtf8(Tr("&Order")));
    order->setObjectName("MenuItem3C");
    // TRANSLATORS: Order submenu: the submenu of the sort keys
    QMenu* sortBy = order->addMenu(QString::fromUtf8(Tr("&Sort By")));
    sortBy->setObjectName("MenuItem3C1");
    // TRANSLATORS: Sort By submenu: by full path
    listItem(sortBy, "Action3911", Tr("&Path"));
    // TRANSLATORS: Sort By submenu: by directory
    listItem(sortBy, "Action3912", Tr("&Directory"));
    // TRANSLATORS: Sort By submenu: by file name
    listItem(sortBy, "Action3913", Tr("&Name"));
    // TRANSLATORS: Sort By submenu: by size
    listItem(sortBy, "Action3914", Tr("&Size"));
    // TRANSLATORS: Sort By submenu: by file type
    listItem(sortBy, "Action3915", Tr("&Type"));
    // TRANSLATORS: Sort By submenu: by last write time
    listItem(sortBy, "Action3916", Tr("&Last Write Time"));
    // TRANSLATORS: Sort By submenu: by the result of opening
    listItem(sortBy, "Action3917", Tr("&Result"));
    // TRANSLATORS: Order submenu: reverses the list's order
    listItem(order, "Action392", Tr("&Reverse"));
    order->addSeparator();
    // TRANSLATORS: Order submenu: moves the selected documents up
    listItem(order, "Action393", Tr("Move &Up"));
    // TRANSLATORS: Order submenu: moves the selected documents down
    listItem(order, "Action394", Tr("Move &Down"));
    FPopupMenu3->addSeparator();
    // TRANSLATORS: document list menu: removes the documents opened with success
    listItem(FPopupMenu3, "Action3A", Tr("Delete All in &Success"));
    // TRANSLATORS: document list menu: sets the selected documents' result back to none
    listItem(FPopupMenu3, "Action3B", Tr("&Reset Result"));

    // Actions outside the menus still need a caption for the tool buttons' accessibility.
    // TRANSLATORS: the button and action that opens every document of the list with the selected program
    FindAction("Action11")->setText(QString::fromUtf8(Tr("Open")));
    // TRANSLATORS: the action that adds files dropped on the window to the document list
    FindAction("Action323")->setText(QString::fromUtf8(Tr("Add dropped files")));
}

void TAppMainForm::ConnectControls()
{
    // The seven tool buttons with their actions and pictures.
    const std::pair<const char*, const char*> buttons[] = {
        {"Action31", "new"}, {"Action321", "add"}, {"Action36", "delete"}, {"Action3A", "deletesuccess"},
        {"Action3B", "reset"}, {"Action393", "up"}, {"Action394", "down"}};
    QToolButton* const speedButtons[] = {FUi->SpeedButton1, FUi->SpeedButton2, FUi->SpeedButton3,
                                         FUi->SpeedButton4, FUi->SpeedButton5, FUi->SpeedButton6,
                                         FUi->SpeedButton7};
    const int buttonSize = std::max(26, Scaled(26));
    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        QAction* action = FindAction(buttons[i].first);
        action->setIcon(ResourceIcon(buttons[i].second));
        QToolButton* button = speedButtons[i];
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(buttonSize, buttonSize);
        button->setIconSize(QSize(16, 16));
        // The button takes its action's plain tooltip again on every change
        // of the action; the shortcut is put back after it.
        const auto showShortcut = [button, action] { button->setToolTip(ToolTipWithShortcut(*action)); };
        showShortcut();
        connect(action, &QAction::changed, button, showShortcut);
    }

    QAction* open = FindAction("Action11");
    connect(FUi->Button1, &QPushButton::clicked, this, [this, open] { ExecuteAction(open); });
    connect(open, &QAction::changed, FUi->Button1, [this, open] { FUi->Button1->setEnabled(open->isEnabled()); });
    // Enter opens from anywhere in the window, as a default button does in a dialog.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, open] { ExecuteAction(open); });
    }

    TProgramComboBox* combo = FUi->ComboBox1;
    connect(combo, &QComboBox::activated, this, [this](int) { FUpdateNotifier->RequestUpdate(); });
    connect(combo, &QWidget::customContextMenuRequested, this, [this, combo](const QPoint& pos) {
        combo->setFocus(Qt::OtherFocusReason);
        FPopupMenu2->exec(combo->mapToGlobal(pos));
    });

    TVirtualListView& list = *FUi->ListView1;
    list.OnData = [this](TVirtualListView&, int row, TListItem& item) { ListView1Data(row, item); };
    list.OnChange = [this](TCustomListView&, int, TItemChange change) {
        if (change == TItemChange::State)
            FUpdateNotifier->RequestUpdate();
    };
    list.OnColumnClick = [this](TCustomListView&, int column) { ListView1ColumnClick(column); };
    list.OnContextPopup = [this, &list](TCustomListView&, const QPoint& globalPos) {
        list.setFocus(Qt::OtherFocusReason);
        FPopupMenu3->exec(globalPos);
    };

    qApp->installEventFilter(new TModalCursorFilter(this));
    qApp->installEventFilter(new TContextMenuKeyFilter(this));
}

void TAppMainForm::ActionList1Execute(QAction* action, bool rethrow)
{
    const auto it = std::find(ActionList1.begin(), ActionList1.end(), action);
    if (it == ActionList1.end())
        return;
    const TActionHandlers& handlers = FHandlers[static_cast<std::size_t>(it - ActionList1.begin())];
    if (!handlers.Execute)
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString category = action->property(CategoryProperty).toString();
    if (category == QLatin1String(CategoryProgram))
        FUi->ComboBox1->setFocus(Qt::OtherFocusReason);
    else if (category == QLatin1String(CategoryDocuments))
        FUi->ListView1->setFocus(Qt::OtherFocusReason);
    try {
        handlers.Execute();
    } catch (...) {
        FUpdateNotifier->RequestUpdate();
        QApplication::restoreOverrideCursor();
        if (rethrow)
            throw;
        HandleCurrentException();
        return;
    }
    FUpdateNotifier->RequestUpdate();
    QApplication::restoreOverrideCursor();
}

void TAppMainForm::ExecuteAction(QAction* action)
{
    if (action && action->isEnabled())
        ActionList1Execute(action, false);
}

void TAppMainForm::NotifierUpdate()
{
    try {
        UpdateActions();
        UpdateStatusLabel();
    } catch (...) {
        HandleCurrentException();
    }
}

void TAppMainForm::UpdateActions()
{
    for (std::size_t i = 0; i < ActionList1.size(); ++i) {
        bool enabled = false;
        try {
            enabled = FHandlers[i].Update && FHandlers[i].Update();
        } catch (...) {
            enabled = false; // a query that cannot answer leaves its action off
        }
        ActionList1[i]->setEnabled(enabled);
        if (ActionList1[i]->objectName() == QLatin1String("Action323"))
            FFileDropWatcher->SetAccepting(enabled);
    }
}

void TAppMainForm::UpdateStatusLabel()
{
    const int selected = FDocumentSelection->GetSelectedCount();
    // The English has one form for every count.
    std::string text;
    if (selected > 0) {
        // TRANSLATORS: status line: %1 is the number of selected documents
        text = FormatText(TrN("%1 items are selected", "%1 items are selected", static_cast<unsigned long>(selected)),
                          {std::to_string(selected)});
    } else {
        const int count = FDocumentEntries->GetCount();
        // TRANSLATORS: status line: %1 is the number of documents in the list
        text = FormatText(TrN("%1 items", "%1 items", static_cast<unsigned long>(count)), {std::to_string(count)});
    }
    FUi->Label3->setText(QString::fromStdString(text));
}

void TAppMainForm::ListView1Data(int row, TListItem& item)
{
    if (row < 0 || row >= FDocumentEntries->GetCount())
        return;
    const TDocumentEntry& entry = *FDocumentEntries->GetItem(row);
    item.Caption = entry.GetNameText();
    item.SubItems = {entry.GetDirectoryText(), entry.GetSizeText(), entry.GetTypeText(),
                     entry.GetLastWriteTimeText(), entry.GetResultText()};
    item.ImageIndex = entry.GetImageIndex();
    item.StateIndex = entry.GetResultImageIndex();
    // A failure's reason is the Result cell's tooltip.
    if (const std::string& reason = entry.Reason(); !reason.empty()) {
        constexpr std::size_t ResultColumn = 5;
        item.Hints.resize(ResultColumn + 1);
        item.Hints[ResultColumn] = reason;
    }
}

void TAppMainForm::SyncTypeImages()
{
    const std::vector<QIcon>& typeImages = SharedFileTypeCache().Images();
    if (FTypeImageCount == typeImages.size())
        return;
    TImageList images{ResourceIcon("file"), ResourceIcon("folder")};
    images.insert(images.end(), typeImages.begin(), typeImages.end());
    FUi->ListView1->SetSmallImages(images);
    FTypeImageCount = typeImages.size();
}

void TAppMainForm::ListView1ColumnClick(int column)
{
    static constexpr const char* sorts[] = {"Action3913", "Action3912", "Action3914",
                                            "Action3915", "Action3916", "Action3917"};
    if (column >= 0 && column < static_cast<int>(std::size(sorts)))
        ExecuteAction(FindAction(sorts[column]));
}

void TAppMainForm::SubmitDroppedFiles(const TStringDynArray& paths)
{
    PendingDroppedFiles = paths;
    try {
        ExecuteAction(FindAction("Action323"));
    } catch (...) {
        PendingDroppedFiles.clear();
        throw;
    }
    PendingDroppedFiles.clear();
}

void TAppMainForm::FileDropWatcherDrop(TDroppedFiles& files, bool& handled)
{
    handled = true;
    activateWindow();
    raise();
    TStringDynArray paths;
    try {
        const int count = files.Count();
        paths.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            paths.push_back(files.Paths(i));
        files.Finish();
    } catch (...) {
        files.Finish();
        HandleCurrentException();
        return;
    }
    SubmitDroppedFiles(paths);
}

void TAppMainForm::SetCommandLine(TStringDynArray arguments)
{
    FCommandLine = std::move(arguments);
}

void TAppMainForm::ProcessCommandLine()
{
    if (FCommandLine.empty())
        return;
    try {
        TStringDynArray paths = std::move(FCommandLine);
        FCommandLine.clear();
        // A shell hands relative names over as typed; they mean the directory
        // Dorvane was started in, not the one the settings moved to.
        for (std::string& path : paths)
            if (!path.empty() && !IsAbsolutePath(path) && !FStartDirectory.empty())
                path = FStartDirectory + (FStartDirectory.back() == '/' ? "" : "/") + path;
        SubmitDroppedFiles(paths);
    } catch (...) {
        HandleCurrentException();
    }
}

bool TAppMainForm::FormCloseQuery()
{
    try {
        // A change still waiting for its update must not let the documents
        // go without the question.
        FUpdateNotifier->HandlePendingUpdate();
        QAction* newAction = FindAction("Action31");
        if (newAction->isEnabled())
            ActionList1Execute(newAction, true);
        FSettingsHandlers->Save();
        FJournal->Discard();
    } catch (...) {
        HandleCurrentException(); // silent for the user's No
        return false;
    }
    return true;
}

void TAppMainForm::OpenDocuments()
{
    FRunning = true;
    const auto ended = [this] {
        FRunning = false;
        FJournal->Sync();
        if (FSessionEnding)
            QCoreApplication::exit(0);
    };
    try {
        FOpenCommands->Open();
    } catch (...) {
        ended();
        throw;
    }
    ended();
}

void TAppMainForm::RecoverJournal()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        FJournal->Recover(*FDocumentEntries, [this] { return FSessionEnding; });
    } catch (...) {
        HandleCurrentException();
    }
    QApplication::restoreOverrideCursor();
    FUpdateNotifier->RequestUpdate();
}

void TAppMainForm::SaveSettingsAtSessionEnd()
{
    // Nobody may be there to answer a box now.
    try {
        FSettingsHandlers->Save();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", AppTitle, e.what());
    }
}

void TAppMainForm::SessionEnd()
{
    if (FSessionEnding)
        return;
    FSessionEnding = true;
    // The worker must be gone before the objects it uses: the run's own
    // end (Open returning) exits, not this.
    if (FRunning && AppProgressDialog)
        AppProgressDialog->FireOnCancelRequest();
    SaveSettingsAtSessionEnd();
    FJournal->Sync();
    if (!FRunning)
        QCoreApplication::exit(0);
}

void TAppMainForm::showEvent(QShowEvent* event)
{
    FShown = true;
    QWidget::showEvent(event);
}

void TAppMainForm::closeEvent(QCloseEvent* event)
{
    // A second request while the question is up must not ask again.
    if (FClosing) {
        event->ignore();
        return;
    }
    FClosing = true;
    const bool canClose = FormCloseQuery();
    FClosing = false;
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TAppMainForm::contextMenuEvent(QContextMenuEvent* event)
{
    FPopupMenu1->exec(event->globalPos());
}
