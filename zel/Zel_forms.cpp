#include "Zel_forms.h"

#include "Zel_translations.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <system_error>

#include <dlfcn.h>
#include <png.h>

namespace {

const char* const GetPlacementErrorMessage = TrNoop("The program could not get the placement of the form.");
const char* const SetPlacementErrorMessage = TrNoop("The program could not set the placement of the form.");
const char* const TrackerName = "ZelPlacementTracker";

constexpr Qt::WindowStates SpecialStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

// Qt's own normalGeometry() is not reliable once the window system has had a
// say: when the resize to the maximized size arrives before the state change,
// and after the transient states a window manager reports, it returns the
// maximized rectangle. So the form's recent geometries in the normal state are
// kept here, and the newest whose size differs from the maximized one is the
// normal rectangle.
class TPlacementTracker final : public QObject {
public:
    explicit TPlacementTracker(QWidget& form) : QObject(&form), FForm(form)
    {
        setObjectName(QString::fromLatin1(TrackerName));
        Record();
        form.installEventFilter(this);
    }

    static TPlacementTracker& Of(QWidget& form)
    {
        if (auto* tracker = form.findChild<TPlacementTracker*>(QString::fromLatin1(TrackerName), Qt::FindDirectChildrenOnly))
            return *tracker;
        return *new TPlacementTracker(form); // owned by the form as Qt parent
    }

    QRect NormalGeometry() const
    {
        QRect normal = SizedGeometry();
        if (PositionsHidden())
            normal.moveTopLeft(FAppliedPosition ? *FAppliedPosition : Centred(normal.size()));
        return normal;
    }

    // Wayland never tells a client where its window is (Qt reports 0,0), nor
    // lets it choose. The position last applied is kept as the window's, so a
    // position saved under X11 survives a Wayland session.
    void NoteApplied(const QPoint& position) { FAppliedPosition = position; }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &FForm && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
            Record();
        return false;
    }

    // Notes the present geometry while the window is in the normal state.
    void Record()
    {
        if (FForm.windowState() & SpecialStates)
            return;
        const QRect geometry = FForm.geometry();
        if (FCount > 0 && FHistory[(FNext + FHistory.size() - 1) % FHistory.size()] == geometry)
            return;
        FHistory[FNext] = geometry;
        FNext = (FNext + 1) % FHistory.size();
        FCount = std::min(FCount + 1, FHistory.size());
    }

private:
    static bool PositionsHidden()
    {
        return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    }

    // Where a window with no position of its own would sit well on X11 too.
    static QPoint Centred(const QSize& size)
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QPoint(0, 0);
        const QRect area = screen->availableGeometry();
        return QPoint(area.left() + std::max(0, (area.width() - size.width()) / 2),
                      area.top() + std::max(0, (area.height() - size.height()) / 2));
    }

    QRect SizedGeometry() const
    {
        if (!(FForm.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            return FForm.geometry();
        const QSize current = FForm.geometry().size();
        for (std::size_t i = 0; i < FCount; ++i) {
            const QRect& candidate = FHistory[(FNext + FHistory.size() - 1 - i) % FHistory.size()];
            if (candidate.size() != current)
                return candidate;
        }
        return FForm.normalGeometry();
    }

    QWidget& FForm;
    std::optional<QPoint> FAppliedPosition;
    std::array<QRect, 4> FHistory;
    std::size_t FNext = 0;
    std::size_t FCount = 0;
};

int ClampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

TRect ToRect(const QRect& rect)
{
    return TRect{rect.x(), rect.y(), ClampToInt(std::int64_t(rect.x()) + rect.width()),
        ClampToInt(std::int64_t(rect.y()) + rect.height())};
}

QRect ToQRect(const TRect& rect)
{
    // At least one pixel: Qt hides a window of size zero instead of showing it
    // small. Corners beyond Qt's widget range cannot be on any screen; held
    // inside it, the far corner never overflows.
    const auto extent = [](int from, int to) {
        return static_cast<int>(std::clamp<std::int64_t>(std::int64_t(to) - from, 1, QWIDGETSIZE_MAX));
    };
    const auto corner = [](int at) { return std::clamp(at, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX); };
    return QRect(corner(rect.Left), corner(rect.Top), extent(rect.Left, rect.Right), extent(rect.Top, rect.Bottom));
}

std::int64_t DistanceSquared(const QRect& a, const QRect& b)
{
    const auto gap = [](std::int64_t from1, std::int64_t to1, std::int64_t from2, std::int64_t to2) {
        return std::max<std::int64_t>({0, from2 - to1, from1 - to2});
    };
    const std::int64_t dx = gap(a.left(), a.right(), b.left(), b.right());
    const std::int64_t dy = gap(a.top(), a.bottom(), b.top(), b.bottom());
    return dx * dx + dy * dy;
}

// As the window system's own placement does, a rectangle wholly off every
// screen (one that has been unplugged, a hand-edited file) comes onto the
// nearest screen's work area, at most as large as that; one that shows at
// least in part is applied as it is. The form's layout may make it larger
// than asked, which counts where it is put.
QRect OnSomeScreen(const QWidget& form, const QRect& rect)
{
    const QRect* nearest = nullptr;
    std::int64_t nearestDistance = 0;
    const QList<QScreen*> screens = QGuiApplication::screens();
    QList<QRect> areas;
    areas.reserve(screens.size());
    for (const QScreen* screen : screens)
        areas.append(screen->availableGeometry());
    for (const QRect& area : areas) {
        if (area.isEmpty())
            continue;
        if (area.intersects(rect))
            return rect;
        const std::int64_t distance = DistanceSquared(area, rect);
        if (!nearest || distance < nearestDistance) {
            nearest = &area;
            nearestDistance = distance;
        }
    }
    if (!nearest)
        return rect;
    const QRect& area = *nearest;
    const QSize size = rect.size().expandedTo(form.minimumSize()).expandedTo(form.minimumSizeHint());
    QRect moved(QPoint(0, 0), size.boundedTo(area.size()));
    moved.moveLeft(std::clamp(rect.left(), area.left(), area.left() + area.width() - moved.width()));
    moved.moveTop(std::clamp(rect.top(), area.top(), area.top() + area.height() - moved.height()));
    return moved;
}

// Delivers the notifier's posted event; destroying it discards one still queued.
class TUpdateReceiver final : public QObject {
public:
    explicit TUpdateReceiver(TUpdateNotifier& owner) : FOwner(owner) {}

    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    bool event(QEvent* event) override
    {
        if (event->type() != EventType())
            return QObject::event(event);
        try {
            FOwner.HandlePendingUpdate();
        } catch (...) {
            // The update handler reports its own errors; nothing may cross the event loop.
        }
        return true;
    }

private:
    TUpdateNotifier& FOwner;
};

// Waits for the form's window to be exposed, then runs its action once at
// the next idle moment; owned by the form, gone once it has run.
class TShownWaiter final : public QObject {
public:
    TShownWaiter(QWidget& form, std::function<void()> action) : QObject(&form), FForm(form), FAction(std::move(action))
    {
        // The window is made when the form is shown, after this.
        QTimer::singleShot(0, this, [this] { Start(); });
    }

    void Start()
    {
        QWindow* window = FForm.windowHandle();
        if (!FForm.isVisible() || !window || window->isExposed()) {
            Run();
            return;
        }
        window->installEventFilter(this);
        QTimer::singleShot(1000, this, [this] { Run(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched == FForm.windowHandle() && FForm.windowHandle()->isExposed())
            QTimer::singleShot(0, this, [this] { Run(); });
        return false;
    }

    void Run()
    {
        if (FRan)
            return;
        FRan = true;
        deleteLater();
        FAction();
    }

private:
    QWidget& FForm;
    std::function<void()> FAction;
    bool FRan = false;
};

} // namespace

void RunWhenFormShown(QWidget& form, std::function<void()> action)
{
    new TShownWaiter(form, std::move(action)); // owned by the form as Qt parent
}

TWindowPlacement GetFormPlacement(QWidget& form)
{
    if (!form.isWindow())
        throw EInvalidOperation(Tr(GetPlacementErrorMessage));
    const TPlacementTracker& tracker = TPlacementTracker::Of(form);
    TWindowPlacement placement;
    const Qt::WindowStates state = form.windowState();
    if (state & Qt::WindowMinimized)
        placement.ShowCmd = swShowMinimized;
    else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        placement.ShowCmd = swShowMaximized;
    else
        placement.ShowCmd = swShowNormal;
    placement.NormalPosition = ToRect(tracker.NormalGeometry());
    return placement;
}

void SetFormPlacement(QWidget& form, const TWindowPlacement& placement)
{
    if (!form.isWindow() || placement.Length != WindowPlacementLength)
        throw EInvalidOperation(Tr(SetPlacementErrorMessage));
    TPlacementTracker& tracker = TPlacementTracker::Of(form);
    const Qt::WindowStates current = form.windowState();
    Qt::WindowStates target = current & ~SpecialStates;
    if (placement.ShowCmd == swShowMaximized)
        target |= (current & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? current & (Qt::WindowMaximized | Qt::WindowFullScreen)
                                                                           : Qt::WindowStates(Qt::WindowMaximized);
    else if (placement.ShowCmd == swShowMinimized)
        target |= Qt::WindowMinimized | (current & Qt::WindowMaximized);

    // The normal rectangle can only be set in the normal state; leaving it
    // for a moment also makes Qt remember the rectangle for the way back.
    const QRect requested = ToQRect(placement.NormalPosition);
    tracker.NoteApplied(requested.topLeft());
    const QRect normal = OnSomeScreen(form, requested);
    if (current & SpecialStates)
        form.setWindowState(current & ~SpecialStates);
    form.setGeometry(normal);
    // A hidden window gets its move and resize events only when shown, and
    // one shown maximized never reports the normal rectangle itself.
    tracker.Record();
    // A hidden window's platform side keeps its own rectangle for the way
    // back from maximized; it learns the new one only through its QWindow.
    if ((current & SpecialStates) && !form.isVisible())
        if (QWindow* window = form.windowHandle())
            window->setGeometry(normal);
    if (form.windowState() != target)
        form.setWindowState(target);
}

TRect GetFormNormalBounds(QWidget& form)
{
    return GetFormPlacement(form).NormalPosition;
}

void SetFormNormalBounds(QWidget& form, const TRect& bounds)
{
    TWindowPlacement placement = GetFormPlacement(form);
    placement.NormalPosition = bounds;
    SetFormPlacement(form, placement);
}

// TFontPreloader -------------------------------------------------------------

TFontPreloader::TFontPreloader() noexcept
{
    try {
        FThread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: the first window reads the fonts itself, as ever.
        FConfigured = true;
    }
}

TFontPreloader::~TFontPreloader()
{
    Finish();
}

void TFontPreloader::Start() noexcept
{
    std::unique_lock lock(FMutex);
    if (FStage == TStage::Waiting)
        FStage = TStage::Started;
    FStageChanged.notify_all();
    // A text measured before the configuration is in would make the toolkit
    // read it a second time, alongside.
    FStageChanged.wait(lock, [this] { return FConfigured; });
}

void TFontPreloader::Finish() noexcept
{
    {
        const std::lock_guard lock(FMutex);
        if (FStage == TStage::Waiting)
            FStage = TStage::Finishing;
        FStageChanged.notify_all();
    }
    if (FThread.joinable())
        FThread.join();
}

void TFontPreloader::Run() noexcept
{
    // Fontconfig, when the toolkit reads fonts with it, is in the process
    // already; the configuration it loads is the one process-wide default
    // the toolkit then finds. Asked for by name, so a toolkit without it
    // needs nothing more.
    using TFcInit = int (*)();
    if (const auto fcInit = reinterpret_cast<TFcInit>(dlsym(RTLD_DEFAULT, "FcInit")))
        fcInit();
    {
        std::unique_lock lock(FMutex);
        FConfigured = true;
        FStageChanged.notify_all();
        FStageChanged.wait(lock, [this] { return FStage != TStage::Waiting; });
        if (FStage != TStage::Started)
            return;
    }
    try {
        // The database and the fallback lists are shared by every thread;
        // font engines are not, so one font is asked for, no text measured.
        (void)QFontDatabase::families();
        (void)QFontMetrics(QGuiApplication::font()).height();
    } catch (...) {
        // Out of memory at worst: the main thread will meet it too.
    }
}

// LazyPngIcon ----------------------------------------------------------------

namespace {

class TLazyPngIconEngine final : public QIconEngine {
public:
    struct TPicture {
        QSize Size;
        QString Path;
        QIcon Read; // this picture alone, once read
    };

    explicit TLazyPngIconEngine(std::vector<TPicture> pictures) : FPictures(std::move(pictures)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const QPaintDevice* device = painter->device();
        const qreal scale = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, scaledPixmap(rect.size() * scale, mode, state, scale));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        if (FPictures.empty())
            return QSize();
        QSize actual = Best(size).Size;
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        if (FPictures.empty())
            return QPixmap();
        const QIcon& picture = Read(Best(size));
        return scale > 1.0 ? picture.pixmap(size / scale, scale, mode, state) : picture.pixmap(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off)
            for (const TPicture& picture : FPictures)
                sizes.push_back(picture.Size);
        return sizes;
    }

    bool isNull() override { return FPictures.empty(); }
    QString key() const override { return QStringLiteral("TLazyPngIconEngine"); }
    QIconEngine* clone() const override { return new TLazyPngIconEngine(FPictures); }

private:
    // The choice QIcon makes among added pictures: the smaller of two when
    // both cover the size, else the larger.
    TPicture& Best(const QSize& size)
    {
        const auto area = [](const QSize& s) { return s.width() * s.height(); };
        const int wanted = area(size);
        TPicture* best = &FPictures.front();
        for (std::size_t i = 1; i < FPictures.size(); ++i) {
            const int a = area(FPictures[i].Size);
            const int b = area(best->Size);
            const int chosen = std::min(a, b) >= wanted ? std::min(a, b) : std::max(a, b);
            if (chosen == a)
                best = &FPictures[i];
        }
        return *best;
    }

    static const QIcon& Read(TPicture& picture)
    {
        if (picture.Read.isNull())
            picture.Read.addPixmap(QPixmap::fromImage(ReadPng(picture.Path)));
        return picture.Read;
    }

    // libpng reads the file straight into the image; Qt's reader would first
    // list and open every image format plugin to ask whether one of them
    // reads PNG, before the first window. A null image when it cannot.
    static QImage ReadPng(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QImage();
        const QByteArray data = file.readAll();
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&png, data.constData(), static_cast<std::size_t>(data.size())))
            return QImage();
        // Qt's ARGB32 is one native 32-bit word per pixel.
        png.format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
        QImage image;
        if (png.width <= MaxPictureSide && png.height <= MaxPictureSide)
            image = QImage(static_cast<int>(png.width), static_cast<int>(png.height), QImage::Format_ARGB32);
        if (image.isNull() || !png_image_finish_read(&png, nullptr, image.bits(), image.bytesPerLine(), nullptr)) {
            png_image_free(&png);
            return QImage();
        }
        return image;
    }

    static constexpr png_uint_32 MaxPictureSide = 4096;

    std::vector<TPicture> FPictures;
};

} // namespace

QIcon LazyPngIcon(std::vector<std::pair<int, QString>> pictures)
{
    std::vector<TLazyPngIconEngine::TPicture> entries;
    entries.reserve(pictures.size());
    for (auto& [size, path] : pictures)
        entries.push_back({QSize(size, size), std::move(path), QIcon()});
    return QIcon(new TLazyPngIconEngine(std::move(entries)));
}

// TUpdateNotifier ------------------------------------------------------------

TUpdateNotifier::TUpdateNotifier() : FReceiver(std::make_unique<TUpdateReceiver>(*this)) {}

TUpdateNotifier::~TUpdateNotifier() = default;

void TUpdateNotifier::DoUpdate()
{
    if (OnUpdate)
        OnUpdate(*this);
}

void TUpdateNotifier::RequestUpdate()
{
    if (FPending)
        return;
    QCoreApplication::postEvent(FReceiver.get(), new QEvent(TUpdateReceiver::EventType()));
    FPending = true;
}

void TUpdateNotifier::HandlePendingUpdate()
{
    if (!FPending)
        return;
    FPending = false;
    DoUpdate();
}

void TUpdateNotifier::UpdateNow()
{
    RequestUpdate();
    HandlePendingUpdate();
}

// Form accessibility -------------------------------------------------------

namespace {

const char* const AccessibleFrameProperty = "ZelAccessibleFrame";

bool IsAccessibleFrame(const QWidget* widget)
{
    return widget && widget->isWindow() && widget->property(AccessibleFrameProperty).toBool();
}

// A drop-down list named by its accessible name (by its current item while it
// has none, as Qt does): the popup list is its one child, where the current
// item is selected, and its value is the current item's text.
class TNamedComboBoxAccessible final : public QAccessibleWidget {
public:
    explicit TNamedComboBoxAccessible(QComboBox& box) : QAccessibleWidget(&box, QAccessible::ComboBox) {}

    QComboBox& Box() const { return *static_cast<QComboBox*>(widget()); }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value || (type == QAccessible::Name && Box().accessibleName().isEmpty()))
            return Box().currentText();
        return QAccessibleWidget::text(type);
    }

    int childCount() const override { return Box().view() ? 1 : 0; }

    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && Box().view() ? QAccessible::queryAccessibleInterface(Box().view()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && Box().view() && child->object() == Box().view() ? 0 : -1;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = Box().view() && Box().view()->isVisible();
        return state;
    }

    QStringList actionNames() const override { return QStringList{showMenuAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString& name) override
    {
        if (name == showMenuAction())
            Box().showPopup();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* FormAccessibleFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType() || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // Qt's accessibility cache owns what is made here.
    if (IsAccessibleFrame(widget))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (auto* box = qobject_cast<QComboBox*>(widget); box && IsAccessibleFrame(box->window()))
        return new TNamedComboBoxAccessible(*box);
    return nullptr;
}

} // namespace

void SetFormAccessibility(QWidget& form)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(FormAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    form.setProperty(AccessibleFrameProperty, true);
}
