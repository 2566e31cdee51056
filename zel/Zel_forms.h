#pragma once
// A top-level window's placement (its normal, restored rectangle), how
// assistive technologies see a form, the update notifier that coalesces
// refresh requests into one posted event, and what gets a first window on
// the screen sooner.

#include "Zel_autopointers.h"
#include "Zel_base.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class QIcon;
class QObject;
class QString;
class QWidget;

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TRect&) const = default;
};

// ShowCmd values of a placement record.
constexpr unsigned swShowNormal = 1;
constexpr unsigned swShowMinimized = 2;
constexpr unsigned swShowMaximized = 3;

constexpr unsigned WindowPlacementLength = 44;

// The window placement record. Only NormalPosition is used by this program:
// the client-area rectangle the window has, or returns to, in the normal
// state, in screen coordinates. A round trip restores it exactly, also for a
// window that is maximized or minimized.
struct TWindowPlacement {
    unsigned Length = WindowPlacementLength;
    unsigned Flags = 0;
    unsigned ShowCmd = swShowNormal;
    TPoint MinPosition{-1, -1};
    TPoint MaxPosition{-1, -1};
    TRect NormalPosition;
};

// Throws EInvalidOperation "The program could not get the placement of the
// form." unless form is a top-level window.
TWindowPlacement GetFormPlacement(QWidget& form);
// Applies the normal rectangle and the show state (normal, minimized,
// maximized); never shows or hides the window. Throws EInvalidOperation "The
// program could not set the placement of the form." for a child widget or a
// record whose Length is not WindowPlacementLength.
void SetFormPlacement(QWidget& form, const TWindowPlacement& placement);
TRect GetFormNormalBounds(QWidget& form);
void SetFormNormalBounds(QWidget& form, const TRect& bounds);

// Assistive technologies (screen readers) see form as a frame, a main window
// named by its title, rather than an anonymous panel; and its combo boxes that
// have an accessible name by that name, with the current item as their value
// (Qt on Linux would name them by their current item). Call it before the
// form's controls are made: Qt keeps the first interface it hands out.
void SetFormAccessibility(QWidget& form);

// Runs action once, at the first idle moment after form's window is on the
// screen (exposed), so a box it raises is placed over the window where the
// window manager put it; until then Qt may not know where that is. A form
// that is not shown, or not exposed within a second, runs it at the first
// idle moment all the same. Nothing happens when form goes first.
void RunWhenFormShown(QWidget& form, std::function<void()> action);

// Gets the fonts of the first window ready on a thread of its own: the
// system's font configuration is read while the application object starts,
// and once Start says the object exists, the toolkit's font database and the
// fallback fonts of the application's font are filled in; the first window's
// texts would otherwise wait for all of it. Start returns once the
// configuration is read; after that the toolkit serializes the users of its
// font database, so the main thread only waits at its first text when that
// comes sooner. Made before the application object; Finish waits for the
// thread and must come before the application object goes (going finishes too).
class TFontPreloader {
public:
    TFontPreloader() noexcept;
    ~TFontPreloader();
    TFontPreloader(const TFontPreloader&) = delete;
    TFontPreloader& operator=(const TFontPreloader&) = delete;

    void Start() noexcept;
    // Without a Start before it, the thread leaves the toolkit alone.
    void Finish() noexcept;

private:
    enum class TStage { Waiting, Started, Finishing };

    void Run() noexcept;

    std::mutex FMutex;
    std::condition_variable FStageChanged;
    TStage FStage = TStage::Waiting;
    bool FConfigured = false;
    std::thread FThread;
};

// An icon of square PNG pictures, given as their size and path, that reads
// each picture the first time a picture of that size is asked for, not when
// the icon is made, so a window is not held up by pictures it does not show
// yet. It chooses among the pictures, and derives the disabled and other
// looks, as an icon the pictures were added to would.
QIcon LazyPngIcon(std::vector<std::pair<int, QString>> pictures);

// Any number of RequestUpdate calls before the event loop next runs lead to
// one OnUpdate.
class TUpdateNotifier {
public:
    TUpdateNotifier();
    virtual ~TUpdateNotifier();
    TUpdateNotifier(const TUpdateNotifier&) = delete;
    TUpdateNotifier& operator=(const TUpdateNotifier&) = delete;

    std::function<void(TUpdateNotifier& Sender)> OnUpdate;

    virtual void DoUpdate();
    // Posts one wake-up event unless one is pending already; does not wait.
    virtual void RequestUpdate();
    // Runs the pending update, if any; the pending flag is cleared first, so
    // an OnUpdate that requests again schedules exactly one more.
    virtual void HandlePendingUpdate();
    // The update runs at once; the event already posted then finds nothing to do.
    virtual void UpdateNow();

    bool Pending() const noexcept { return FPending; }

private:
    TAutoPointer<QObject> FReceiver; // gets the posted event; its queue dies with it
    bool FPending = false;
};
