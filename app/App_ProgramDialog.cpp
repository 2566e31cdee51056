#include "App_ProgramDialog.h"

#include "App_programs.h"
#include "ui_App_ProgramDialog.h"
#include "Zel_dialogs.h"
#include "Zel_files.h"
#include "Zel_translations.h"

#include <QApplication>
#include <QFile>
#include <QFocusEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <initializer_list>

namespace {

const char* const MsgDisplayName = TrNoop("Type a unique display name.");
const char* const MsgAbsolutePath = TrNoop("Type an absolute path.");
const char* const MsgSelectItem = TrNoop("Select an item.");
const char* const MsgOpenInterval = TrNoop("Type an integer equal to or greater than 0.");
const char* const MsgWindowState = TrNoop("The program does not support the window state.");

// The kinds of programs this platform starts, executables first. Translators
// get the names only, never the patterns.
std::string ProgramFileFilter()
{
    return FormatText("%1 (*)|*|%2 (*.sh)|*.sh|%3 (*.py)|*.py|%4 (*)|*",
                      {Tr("Executable files"), Tr("Shell scripts"), Tr("Python scripts"),
                       // TRANSLATORS: the file dialog's filter that shows every file.
                       Tr("All")});
}
const int ProgramFileFilterIndex = 1;

// The window states in the order of ComboBox21's items.
const int ShowCommands[] = {ShowCommandNormal, ShowCommandMinimized, ShowCommandMaximized};

// The form was designed at 120 pixels per inch.
const int DesignedDpi = 120;
const int DesignedWidth = 686;
const int DesignedHeight = 416;
const int DesignedLabelWidth = 161;
const int DesignedButtonWidth = 121;
const int DesignedBrowseButtonWidth = 26;

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString DecodeName(const std::string& name)
{
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

std::string EncodeName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

TAutoPointer<TAppProgramDialog>& ProgramDialogHolder()
{
    static TAutoPointer<TAppProgramDialog> holder;
    return holder;
}

// Widgets must go while the application object still exists.
void DestroyAppProgramDialog()
{
    AppProgramDialog = nullptr;
    ProgramDialogHolder().reset();
}

} // namespace

TAppProgramDialog* AppProgramDialog = nullptr;

TAppProgramDialog& GetAppProgramDialog()
{
    if (!AppProgramDialog) {
        ProgramDialogHolder() = std::make_unique<TAppProgramDialog>();
        AppProgramDialog = ProgramDialogHolder().get();
        qAddPostRoutine(DestroyAppProgramDialog);
    }
    return *AppProgramDialog;
}

// ---------------------------------------------------------------------------
// TAppProgramDialog::EInvalidInput

TAppProgramDialog::EInvalidInput::EInvalidInput(std::string message, QWidget& control)
    : EAppError(std::move(message)), FControl(&control)
{
    control.setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------
// TAppProgramDialog

TAppProgramDialog::TAppProgramDialog(QWidget* parent)
    : QDialog(parent), FUi(std::make_unique<Ui::TAppProgramDialog>()), FEntry(std::make_unique<TProgramEntry>())
{
    FUi->setupUi(this);
    ArrangeControls();

    for (QWidget* control : {static_cast<QWidget*>(FUi->Edit11), static_cast<QWidget*>(FUi->Edit21),
                             static_cast<QWidget*>(FUi->Edit24), static_cast<QWidget*>(FUi->ComboBox21),
                             static_cast<QWidget*>(FUi->Edit31)})
        control->installEventFilter(this);
    connect(FUi->Edit21, &QLineEdit::textChanged, this, [this] { UpdateEnabledStates(); });
    connect(FUi->Button21, &QPushButton::clicked, this, [this] { Button21Click(); });
    connect(FUi->Button22, &QPushButton::clicked, this, [this] { Button22Click(); });
    connect(FUi->Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->Button2, &QPushButton::clicked, this, &QDialog::reject);
    UpdateEnabledStates();
}

TAppProgramDialog::~TAppProgramDialog() = default;

bool TAppProgramDialog::ValidateDisplayName(const std::string& name)
{
    bool valid = true;
    if (OnValidateDisplayName)
        OnValidateDisplayName(*this, name, valid);
    return valid;
}

bool TAppProgramDialog::Execute()
{
    FLeftControls.clear();
    LoadFields();
    FUi->Edit11->setFocus(Qt::OtherFocusReason);
    PlaceOverOwner();
    return exec() == QDialog::Accepted;
}

void TAppProgramDialog::Reset()
{
    TAutoPointer<TProgramEntry> defaults = std::make_unique<TProgramEntry>();
    // TRANSLATORS: the name a new program entry starts with.
    defaults->SetDisplayName(Tr("Untitled"));
    // A new program gets the document in double quotes on its command line.
    defaults->SetDocumentPrefix("\"");
    defaults->SetDocumentSuffix("\"");
    defaults->SetShowCommand(ShowCommandNormal);
    defaults->SetOpenInterval(0);
    defaults->SetAutoPause(false);
    FEntry->Assign(*defaults);
}

std::string TAppProgramDialog::DisplayName()
{
    std::string name = ToUtf8(FUi->Edit11->text());
    if (name.empty() || !ValidateDisplayName(name))
        throw EInvalidInput(Tr(MsgDisplayName), *FUi->Edit11);
    return name;
}

void TAppProgramDialog::SetDisplayName(const std::string& value)
{
    FUi->Edit11->setText(FromUtf8(value));
}

std::string TAppProgramDialog::File()
{
    std::string file = EncodeName(FUi->Edit21->text());
    if (!file.empty() && !IsAbsolutePath(file))
        throw EInvalidInput(Tr(MsgAbsolutePath), *FUi->Edit21);
    return file;
}

void TAppProgramDialog::SetFile(const std::string& value)
{
    FUi->Edit21->setText(DecodeName(value));
}

std::string TAppProgramDialog::DocumentPrefix() const
{
    return ToUtf8(FUi->Edit22->text());
}

void TAppProgramDialog::SetDocumentPrefix(const std::string& value)
{
    FUi->Edit22->setText(FromUtf8(value));
}

std::string TAppProgramDialog::DocumentSuffix() const
{
    return ToUtf8(FUi->Edit23->text());
}

void TAppProgramDialog::SetDocumentSuffix(const std::string& value)
{
    FUi->Edit23->setText(FromUtf8(value));
}

std::string TAppProgramDialog::WorkingDirectory()
{
    std::string directory = EncodeName(FUi->Edit24->text());
    if (!directory.empty() && !IsAbsolutePath(directory))
        throw EInvalidInput(Tr(MsgAbsolutePath), *FUi->Edit24);
    return directory;
}

void TAppProgramDialog::SetWorkingDirectory(const std::string& value)
{
    FUi->Edit24->setText(DecodeName(value));
}

int TAppProgramDialog::ShowCommand()
{
    const int index = FUi->ComboBox21->currentIndex();
    if (index < 0 || index >= static_cast<int>(std::size(ShowCommands)))
        throw EInvalidInput(Tr(MsgSelectItem), *FUi->ComboBox21);
    return ShowCommands[index];
}

void TAppProgramDialog::SetShowCommand(int value)
{
    const auto found = std::find(std::begin(ShowCommands), std::end(ShowCommands), value);
    if (found == std::end(ShowCommands))
        throw EInvalidValue(Tr(MsgWindowState));
    FUi->ComboBox21->setCurrentIndex(static_cast<int>(found - std::begin(ShowCommands)));
}

int TAppProgramDialog::OpenInterval()
{
    bool converted = false;
    const int value = FUi->Edit31->text().toInt(&converted, 10);
    if (!converted || value < 0)
        throw EInvalidInput(Tr(MsgOpenInterval), *FUi->Edit31);
    return value;
}

void TAppProgramDialog::SetOpenInterval(int value)
{
    FUi->Edit31->setText(QString::number(value));
}

bool TAppProgramDialog::AutoPause() const
{
    return FUi->CheckBox31->isChecked();
}

void TAppProgramDialog::SetAutoPause(bool value)
{
    FUi->CheckBox31->setChecked(value);
}

void TAppProgramDialog::done(int result)
{
    // OK checks every field anyway, and any other close checks nothing.
    FLeftControls.clear();
    if (result == QDialog::Accepted) {
        try {
            StoreFields();
        } catch (...) {
            HandleCurrentException();
            return;
        }
    }
    QDialog::done(result);
}

bool TAppProgramDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut)
        ControlExit(*static_cast<QWidget*>(watched), static_cast<QFocusEvent*>(event)->reason());
    return QDialog::eventFilter(watched, event);
}

void TAppProgramDialog::LoadFields()
{
    try {
        SetDisplayName(FEntry->DisplayName());
        SetFile(FEntry->File());
        SetDocumentPrefix(FEntry->DocumentPrefix());
        SetDocumentSuffix(FEntry->DocumentSuffix());
        SetWorkingDirectory(FEntry->WorkingDirectory());
        SetShowCommand(FEntry->ShowCommand());
        SetOpenInterval(FEntry->OpenInterval());
        SetAutoPause(FEntry->AutoPause());
    } catch (...) {
        UpdateEnabledStates();
        throw;
    }
    UpdateEnabledStates();
}

void TAppProgramDialog::StoreFields()
{
    TAutoPointer<TProgramEntry> entry = std::make_unique<TProgramEntry>();
    entry->SetDisplayName(DisplayName());
    const std::string file = File();
    try {
        entry->SetFile(file);
    } catch (const EProgramEntryError& e) {
        // The entry's own message names the path; the focus belongs in the file box.
        throw EInvalidInput(e.Message(), *FUi->Edit21);
    }
    entry->SetDocumentPrefix(DocumentPrefix());
    entry->SetDocumentSuffix(DocumentSuffix());
    entry->SetWorkingDirectory(WorkingDirectory());
    entry->SetShowCommand(ShowCommand());
    entry->SetOpenInterval(OpenInterval());
    entry->SetAutoPause(AutoPause());
    FEntry->Assign(*entry);
}

void TAppProgramDialog::UpdateEnabledStates()
{
    // Without a program file the document opens by its association and takes no parameters.
    const bool hasFile = !FUi->Edit21->text().isEmpty();
    for (QWidget* control : {static_cast<QWidget*>(FUi->Label23), static_cast<QWidget*>(FUi->Edit22),
                             static_cast<QWidget*>(FUi->Label24), static_cast<QWidget*>(FUi->Edit23)})
        control->setEnabled(hasFile);
}

// Starts from the designed proportions, scaled to the screen, and grows where
// the font needs more room. The labels of all three groups share one width so
// that the fields line up.
void TAppProgramDialog::ArrangeControls()
{
    const double scale = static_cast<double>(logicalDpiY()) / DesignedDpi;
    const auto scaled = [scale](int designed) { return static_cast<int>(designed * scale + 0.5); };

    int labelWidth = scaled(DesignedLabelWidth);
    const std::initializer_list<QLabel*> labels = {FUi->Label11, FUi->Label21, FUi->Label23,
                                                   FUi->Label25, FUi->Label27, FUi->Label31};
    for (const QLabel* label : labels)
        labelWidth = std::max(labelWidth, label->sizeHint().width());
    for (QLabel* label : labels)
        label->setMinimumWidth(labelWidth);

    const int fieldHeight = FUi->Edit21->sizeHint().height();
    for (QPushButton* button : {FUi->Button21, FUi->Button22})
        button->setFixedSize(std::max(scaled(DesignedBrowseButtonWidth), fieldHeight), fieldHeight);
    for (QPushButton* button : {FUi->Button1, FUi->Button2})
        button->setMinimumWidth(std::max(scaled(DesignedButtonWidth), button->sizeHint().width()));

    setFixedSize(QSize(scaled(DesignedWidth), scaled(DesignedHeight)).expandedTo(sizeHint()));
}

// Leaving a checked field checks it, but only when the user moves on: the
// window losing activation (an error box, a file dialog), the combo box
// opening its list and the program's own focus moves do not count, and going
// to Cancel is leaving the dialog, not the field. The check runs once the
// focus change is complete, so its error box never interrupts one, or
// earlier, when the click that moved the focus reaches a browse button.
void TAppProgramDialog::ControlExit(QWidget& control, Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason:
        break;
    default:
        return;
    }
    if (QApplication::focusWidget() == FUi->Button2)
        return;
    FLeftControls.emplace_back(&control);
    if (FLeftControls.size() == 1)
        QMetaObject::invokeMethod(this, [this] { RunLeaveChecks(); }, Qt::QueuedConnection);
}

bool TAppProgramDialog::RunLeaveChecks()
{
    const std::vector<QPointer<QWidget>> controls = std::move(FLeftControls);
    FLeftControls.clear();
    if (!isVisible())
        return true;
    try {
        for (const QPointer<QWidget>& control : controls)
            if (control)
                CheckField(*control);
    } catch (...) {
        // The focus is back on the failed field; the fields left after it are not reported.
        HandleCurrentException();
        return false;
    }
    return true;
}

void TAppProgramDialog::CheckField(const QWidget& control)
{
    if (&control == FUi->Edit11)
        DisplayName();
    else if (&control == FUi->Edit21)
        File();
    else if (&control == FUi->Edit24)
        WorkingDirectory();
    else if (&control == FUi->ComboBox21)
        ShowCommand();
    else if (&control == FUi->Edit31)
        OpenInterval();
}

// A dialog without a parent widget would open in the middle of the screen and
// could fall behind the window the user works in. Over a window near the
// screen's edge it stays whole on that screen.
void TAppProgramDialog::PlaceOverOwner()
{
    QWidget* owner = QApplication::activeWindow();
    if (parentWidget() || !owner || owner == this)
        return;
    winId();
    if (QWindow* window = windowHandle())
        window->setTransientParent(owner->windowHandle());
    // Not shown yet, the dialog knows no frame of its own; the owner's is
    // the one the window manager will give it.
    const QSize frame = size() + owner->frameGeometry().size() - owner->size();
    QPoint at = owner->frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2);
    if (const QScreen* screen = owner->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.left() + area.width() - frame.width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.top() + area.height() - frame.height())));
    }
    move(at);
}

void TAppProgramDialog::Button21Click()
{
    // A field left on the way to this button is checked before the button acts.
    if (!RunLeaveChecks())
        return;
    try {
        TOpenDialogRequest request;
        // TRANSLATORS: the title of the file dialog that chooses the program file.
        request.Title = Tr("File");
        request.Filter = ProgramFileFilter();
        request.FilterIndex = ProgramFileFilterIndex;
        request.FileName = File();
        request.FileMustExist = true;
        const TOpenDialogResult result = Dialogs().OpenFiles(request);
        if (!result.Accepted || result.Files.empty())
            throw EAbort();
        SetFile(result.Files.front());
    } catch (...) {
        HandleCurrentException();
    }
}

void TAppProgramDialog::Button22Click()
{
    // A field left on the way to this button is checked before the button acts.
    if (!RunLeaveChecks())
        return;
    try {
        TBrowseFolderRequest request;
        request.Caption = Tr("Choose the working directory.");
        request.InitialDir = WorkingDirectory();
        const std::optional<std::string> folder = Dialogs().BrowseForFolder(request);
        if (!folder)
            throw EAbort();
        // The next folder or file dialog starts here; a folder that vanished
        // meanwhile leaves the current directory where it was.
        SetCurrentDir(*folder);
        SetWorkingDirectory(*folder);
    } catch (...) {
        HandleCurrentException();
    }
}
