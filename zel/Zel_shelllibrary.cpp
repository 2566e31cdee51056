#include "Zel_shelllibrary.h"

#include "Zel_files.h"
#include "Zel_translations.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <utility>

namespace {

// Local file paths of a drag, or none when it carries anything that is not a local file.
TStringDynArray LocalFilePaths(const QMimeData* data)
{
    TStringDynArray paths;
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    paths.reserve(static_cast<std::size_t>(urls.size()));
    for (const QUrl& url : urls) {
        const QByteArray encoded = url.toEncoded();
        auto path = FileUrlToPath(std::string_view(encoded.constData(), static_cast<std::size_t>(encoded.size())));
        if (!path)
            return TStringDynArray();
        paths.push_back(std::move(*path));
    }
    return paths;
}

// A drop of files is a copy; accepting a proposed move would let the source
// delete the files it thinks it moved.
bool AcceptAsCopy(QDropEvent& event)
{
    if (!(event.possibleActions() & Qt::CopyAction))
        return false;
    event.setDropAction(Qt::CopyAction);
    event.accept();
    return true;
}

} // namespace

TDroppedFiles::TDroppedFiles(TStringDynArray paths) : FPaths(std::move(paths)) {}

void TDroppedFiles::Finish() noexcept
{
    if (FFinished)
        return;
    FFinished = true;
    TStringDynArray().swap(FPaths);
}

bool TDroppedFiles::IsFinished() const noexcept
{
    return FFinished;
}

int TDroppedFiles::Count() const
{
    if (IsFinished())
        throw EFileDropError(Tr("The file drop operation is already finished."));
    return static_cast<int>(FPaths.size());
}

std::string TDroppedFiles::Paths(int index) const
{
    // Count comes first: a finished drop says so whatever the index.
    const int count = Count();
    if (index < 0 || index >= count)
        throw EFileDropError(Tr("The program cannot get the path of a dropped file."));
    return FPaths[static_cast<std::size_t>(index)];
}

class TFileDropWatcher::TEventFilter : public QObject {
public:
    explicit TEventFilter(TFileDropWatcher& watcher) : FWatcher(watcher) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return watched == FWatcher.FControl && event && FWatcher.FilterEvent(*event);
    }

private:
    TFileDropWatcher& FWatcher;
};

TFileDropWatcher::TFileDropWatcher(QWidget& control)
    : FControl(&control), FFilter(std::make_unique<TEventFilter>(*this))
{
    control.installEventFilter(FFilter.get());
}

TFileDropWatcher::~TFileDropWatcher()
{
    if (FControl)
        FControl->removeEventFilter(FFilter.get());
}

bool TFileDropWatcher::Accepting() const
{
    if (!FControl)
        throw EFileDropError(Tr("The program could not get the property."));
    return FControl->acceptDrops();
}

void TFileDropWatcher::SetAccepting(bool value)
{
    if (value != Accepting())
        FControl->setAcceptDrops(value);
}

bool TFileDropWatcher::DoDrop(TDroppedFiles& files)
{
    bool handled = false;
    if (OnDrop)
        OnDrop(*this, files, handled);
    return handled;
}

bool TFileDropWatcher::CanTake(const QMimeData* data) const
{
    return FControl && FControl->acceptDrops() && !LocalFilePaths(data).empty();
}

bool TFileDropWatcher::FilterEvent(QEvent& event) noexcept
{
    try {
        switch (event.type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto& drag = static_cast<QDragMoveEvent&>(event);
            return CanTake(drag.mimeData()) && AcceptAsCopy(drag);
        }
        case QEvent::Drop:
            return HandleDrop(static_cast<QDropEvent&>(event));
        default:
            return false;
        }
    } catch (...) {
        // Only allocation can fail here; the event then stays with the widget.
        return false;
    }
}

bool TFileDropWatcher::HandleDrop(QDropEvent& event)
{
    if (!FControl || !FControl->acceptDrops() || !(event.possibleActions() & Qt::CopyAction))
        return false;
    TStringDynArray paths = LocalFilePaths(event.mimeData());
    if (paths.empty())
        return false;
    TDroppedFiles files(std::move(paths));
    bool handled = false;
    try {
        handled = DoDrop(files);
    } catch (...) {
        // The handler reports its own errors; the drop ends here either way.
        files.Finish();
        event.ignore();
        return true;
    }
    if (!handled)
        return false;
    files.Finish();
    return AcceptAsCopy(event);
}
