#include "Zel_dialogs.h"

#include "Zel_base.h"
#include "Zel_translations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QApplication* WidgetApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

void CheckGuiThread(const QApplication& app)
{
    if (QThread::currentThread() != app.thread())
        throw EInvalidOperation(Tr("The program cannot show a dialog outside the main thread."));
}

bool IsShownWindow(const QWidget* widget)
{
    if (!widget || !widget->isVisible() || widget->isMinimized())
        return false;
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

// Boxes and dialogs belong to whatever window the user is working in. Right
// after a box closes the window system may not have handed the activation
// back yet, and a box without a parent would come up in the middle of the
// screen: it then goes over the modal dialog that is up, the window the
// previous box went over, or the program's one window.
QWidget* DialogParent()
{
    static QPointer<QWidget> previous;
    QWidget* parent = QApplication::activeWindow();
    if (!parent)
        parent = QApplication::activeModalWidget();
    if (!parent && IsShownWindow(previous))
        parent = previous;
    if (!parent) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto shown = std::find_if(windows.begin(), windows.end(), IsShownWindow);
        parent = shown != windows.end() ? *shown : nullptr;
    }
    previous = parent;
    return parent;
}

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A message may name whatever the user pasted. Laying out megabytes of text
// takes minutes, and a box taller than the screen hides its own button, so a
// text longer than this keeps its beginning and its end.
constexpr qsizetype MaxMessageLength = 5000;

// Messages may carry Windows line ends; a label would show the CR.
QString MessageText(const std::string& text)
{
    QString result = FromUtf8(text);
    if (result.size() > MaxMessageLength) {
        qsizetype head = MaxMessageLength / 2;
        qsizetype tail = result.size() - MaxMessageLength / 2;
        if (result.at(head - 1).isHighSurrogate())
            --head;
        if (result.at(tail).isLowSurrogate())
            ++tail;
        result = result.left(head) + QChar(0x2026) + result.mid(tail);
    }
    result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

QString DecodeName(const std::string& name)
{
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

std::string EncodeName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

QMessageBox::Icon BoxIcon(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::Warning:
        return QMessageBox::Warning;
    case TMsgDlgType::Error:
        return QMessageBox::Critical;
    case TMsgDlgType::Information:
        return QMessageBox::Information;
    case TMsgDlgType::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton BoxButton(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes:
        return QMessageBox::Yes;
    case mbNo:
        return QMessageBox::No;
    case mbOK:
        return QMessageBox::Ok;
    case mbCancel:
        return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
}

TModalResult ModalResult(int button)
{
    switch (button) {
    case QMessageBox::Yes:
        return TModalResult::Yes;
    case QMessageBox::No:
        return TModalResult::No;
    case QMessageBox::Ok:
        return TModalResult::Ok;
    case QMessageBox::Cancel:
        return TModalResult::Cancel;
    default:
        return TModalResult::None;
    }
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

struct TNameFilters {
    QStringList Filters; // as Qt takes them
    QStringList Names;   // as the user sees them
};

// "Name|p1;p2|Name|p3" becomes Qt's "Name (p1 p2)", "Name (p3)". The name is
// shown as written (HideNameFilterDetails strips only the appended group), and
// "*.*", which means every file where it comes from, becomes "*". A name
// without its pattern list is ignored.
TNameFilters NameFilters(const std::string& filter)
{
    TNameFilters result;
    if (filter.empty())
        return result;
    const std::vector<std::string> parts = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (std::string pattern : Split(parts[i + 1], ';')) {
            pattern = Trimmed(pattern);
            if (pattern == "*.*")
                pattern = "*";
            if (!pattern.empty() && !patterns.contains(FromUtf8(pattern)))
                patterns.append(FromUtf8(pattern));
        }
        if (patterns.isEmpty())
            patterns.append(QStringLiteral("*"));
        const QString name = FromUtf8(parts[i]);
        result.Filters.append(name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
        result.Names.append(name.simplified());
    }
    return result;
}

// 1-based; 0 when the dialog reports a filter that is not ours. Depending on
// HideNameFilterDetails Qt reports either the full filter or the shown name.
int FilterIndexOf(const TNameFilters& filters, const QString& selected)
{
    auto index = filters.Filters.indexOf(selected);
    if (index < 0)
        index = filters.Names.indexOf(selected.simplified());
    return static_cast<int>(index) + 1;
}

class TQtDialogProvider : public TDialogProvider {
public:
    TModalResult MessageBox(const TMessageBoxRequest& request) override;
    TOpenDialogResult OpenFiles(const TOpenDialogRequest& request) override;
    std::optional<std::string> BrowseForFolder(const TBrowseFolderRequest& request) override;
};

TModalResult TQtDialogProvider::MessageBox(const TMessageBoxRequest& request)
{
    const TMsgDlgButtons buttons = request.Buttons & (mbYes | mbNo | mbOK | mbCancel) ? request.Buttons : mbOK;
    QApplication* app = WidgetApplication();
    if (!app) {
        std::fprintf(stderr, "%s: %s\n", request.Caption.c_str(), request.Text.c_str());
        return SafeAnswer(buttons);
    }
    CheckGuiThread(*app);

    QMessageBox::StandardButtons boxButtons;
    for (TMsgDlgBtn button : {mbYes, mbNo, mbOK, mbCancel})
        if (buttons & button)
            boxButtons |= BoxButton(button);
    QMessageBox box(BoxIcon(request.Type), FromUtf8(request.Caption), MessageText(request.Text), boxButtons,
                    DialogParent());
    // Paths and messages are never markup.
    box.setTextFormat(Qt::PlainText);
    if (buttons & request.DefaultButton)
        box.setDefaultButton(BoxButton(request.DefaultButton));
    // Once the box is up, bring it in front of every other window.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    return ModalResult(box.exec());
}

TOpenDialogResult TQtDialogProvider::OpenFiles(const TOpenDialogRequest& request)
{
    TOpenDialogResult result;
    result.FilterIndex = request.FilterIndex;
    QApplication* app = WidgetApplication();
    if (!app)
        return result;
    CheckGuiThread(*app);

    QFileDialog dialog(DialogParent(), FromUtf8(request.Title));
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (request.MultiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else
        dialog.setFileMode(request.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const TNameFilters filters = NameFilters(request.Filter);
    if (!filters.Filters.isEmpty()) {
        dialog.setNameFilters(filters.Filters);
        const int count = static_cast<int>(filters.Filters.size());
        const int index = request.FilterIndex >= 1 && request.FilterIndex <= count ? request.FilterIndex : 1;
        dialog.selectNameFilter(filters.Filters.at(index - 1));
    }
    dialog.setDirectory(request.InitialDir.empty() ? QDir::currentPath() : DecodeName(request.InitialDir));
    if (!request.FileName.empty())
        dialog.selectFile(DecodeName(request.FileName));

    if (dialog.exec() != QDialog::Accepted)
        return result;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return result;
    result.Accepted = true;
    result.Files.reserve(static_cast<std::size_t>(files.size()));
    for (const QString& file : files)
        result.Files.push_back(EncodeName(file));
    if (const int chosen = FilterIndexOf(filters, dialog.selectedNameFilter()))
        result.FilterIndex = chosen;
    if (!request.KeepCurrentDir)
        QDir::setCurrent(QFileInfo(files.first()).absolutePath());
    return result;
}

std::optional<std::string> TQtDialogProvider::BrowseForFolder(const TBrowseFolderRequest& request)
{
    QApplication* app = WidgetApplication();
    if (!app)
        return std::nullopt;
    CheckGuiThread(*app);

    QFileDialog dialog(DialogParent(), FromUtf8(request.Caption));
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString initial = DecodeName(request.InitialDir);
    dialog.setDirectory(!initial.isEmpty() && QFileInfo(initial).isDir() ? initial : QDir::homePath());

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList folders = dialog.selectedFiles();
    if (folders.isEmpty() || folders.first().isEmpty())
        return std::nullopt;
    return EncodeName(QDir::cleanPath(folders.first()));
}

TQtDialogProvider& QtDialogs()
{
    static TQtDialogProvider provider;
    return provider;
}

TDialogProvider* InstalledProvider = nullptr;

} // namespace

TModalResult SafeAnswer(TMsgDlgButtons buttons)
{
    if (buttons & mbCancel)
        return TModalResult::Cancel;
    if (buttons & mbNo)
        return TModalResult::No;
    return TModalResult::Ok;
}

TDialogProvider& Dialogs()
{
    return InstalledProvider ? *InstalledProvider : QtDialogs();
}

void SetDialogProvider(TDialogProvider* provider)
{
    InstalledProvider = provider;
}

TModalResult ShowMessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                            TMsgDlgButtons buttons, TMsgDlgBtn defaultButton)
{
    TMessageBoxRequest request;
    request.Text = text;
    request.Caption = caption;
    request.Type = type;
    request.Buttons = buttons;
    request.DefaultButton = defaultButton;
    return Dialogs().MessageBox(request);
}

void ShowErrorBox(const std::string& text, const std::string& caption)
{
    ShowMessageBox(text, caption, TMsgDlgType::Error, mbOK, mbOK);
}

void ShowInformationBox(const std::string& text, const std::string& caption)
{
    ShowMessageBox(text, caption, TMsgDlgType::Information, mbOK, mbOK);
}

bool ConfirmBox(const std::string& text, const std::string& caption)
{
    return ShowMessageBox(text, caption, TMsgDlgType::Warning, mbYes | mbNo, mbYes) == TModalResult::Yes;
}
