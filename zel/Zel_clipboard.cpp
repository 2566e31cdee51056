#include "Zel_clipboard.h"

#include "Zel_files.h"
#include "Zel_translations.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>
#include <QUrl>

namespace {

// The clipboard of this process's GUI, or null when there is none to use from here.
QClipboard* AvailableClipboard()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    return QGuiApplication::clipboard();
}

QClipboard& CheckClipboard()
{
    QClipboard* clipboard = AvailableClipboard();
    if (!clipboard)
        throw EClipboardError(Tr("The program cannot access the clipboard."));
    return *clipboard;
}

// Only real plain text counts: Qt would also offer a file manager's URL list
// as text, and those URLs are not paths.
bool HasPlainText(const QMimeData* data)
{
    return data && data->hasFormat(QStringLiteral("text/plain"));
}

} // namespace

TClipboardWatcher::TClipboardWatcher() = default;

TClipboardWatcher::~TClipboardWatcher()
{
    Deactivate();
}

void TClipboardWatcher::SetActive(bool value)
{
    if (value == Active())
        return;
    if (value)
        Activate();
    else
        Deactivate();
}

void TClipboardWatcher::Activate()
{
    if (Active())
        return;
    QClipboard* clipboard = AvailableClipboard();
    if (!clipboard)
        throw EClipboardError(Tr("The program could not add the window to the clipboard viewer chain."));
    // The listener is the connection's context: destroying it disconnects.
    auto listener = std::make_unique<QObject>();
    QObject::connect(clipboard, &QClipboard::dataChanged, listener.get(), [this] { HandleChange(); });
    FListener = std::move(listener);
    DoChange();
}

void TClipboardWatcher::Deactivate() noexcept
{
    FListener.reset();
}

void TClipboardWatcher::DoChange()
{
    if (OnChange)
        OnChange(*this);
}

void TClipboardWatcher::HandleChange() noexcept
{
    // Runs inside Qt's event loop, which no exception may cross; handlers are
    // expected not to raise and report their own errors.
    try {
        DoChange();
    } catch (...) {
    }
}

bool ClipboardHasText()
{
    return HasPlainText(CheckClipboard().mimeData());
}

std::string GetClipboardText()
{
    const QMimeData* data = CheckClipboard().mimeData();
    return HasPlainText(data) ? data->text().toStdString() : std::string();
}

void SetClipboardText(const std::string& text)
{
    CheckClipboard().setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

TStringDynArray GetClipboardFilePaths()
{
    TStringDynArray paths;
    const QMimeData* data = CheckClipboard().mimeData();
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    paths.reserve(static_cast<std::size_t>(urls.size()));
    for (const QUrl& url : urls) {
        const QByteArray encoded = url.toEncoded();
        if (auto path = FileUrlToPath(std::string_view(encoded.constData(), static_cast<std::size_t>(encoded.size()))))
            paths.push_back(std::move(*path));
    }
    return paths;
}
