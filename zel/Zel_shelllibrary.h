#pragma once
// Files dropped onto a window from a file manager.

#include "Zel_autopointers.h"
#include "Zel_base.h"
#include "Zel_dynamicarrays.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

class QDropEvent;
class QEvent;
class QMimeData;

class EShellLibraryError : public Exception {
public:
    using Exception::Exception;
};

class EFileDropError : public EShellLibraryError {
public:
    using EShellLibraryError::EShellLibraryError;
};

// The local paths of one drop. Readable until Finish; then Count and Paths
// raise "The file drop operation is already finished.".
class TDroppedFiles {
public:
    explicit TDroppedFiles(TStringDynArray paths);
    virtual ~TDroppedFiles() = default;
    TDroppedFiles(const TDroppedFiles&) = delete;
    TDroppedFiles& operator=(const TDroppedFiles&) = delete;

    virtual void Finish() noexcept;
    virtual bool IsFinished() const noexcept;

    int Count() const;
    // The path at index, 0 <= index < Count(), else "The program cannot get the
    // path of a dropped file.".
    std::string Paths(int index) const;

private:
    TStringDynArray FPaths;
    bool FFinished = false;
};

// Turns drops of local files onto one widget into OnDrop events. It filters the
// widget's events for as long as both exist; drops of anything else, drops
// while not accepting and drops the handler leaves unhandled reach the widget
// itself. A drop is always taken as a copy, so the source never deletes the files.
class TFileDropWatcher {
public:
    explicit TFileDropWatcher(QWidget& control);
    virtual ~TFileDropWatcher();
    TFileDropWatcher(const TFileDropWatcher&) = delete;
    TFileDropWatcher& operator=(const TFileDropWatcher&) = delete;

    // Whether the widget accepts drops; EFileDropError "The program could not
    // get the property." once the widget is gone.
    bool Accepting() const;
    void SetAccepting(bool value);

    // handled starts false; a handler that takes the files sets it. An error
    // from the handler finishes the drop and is swallowed there (Qt's event loop
    // must not see it), so a handler reports its own errors.
    std::function<void(TFileDropWatcher& sender, TDroppedFiles& files, bool& handled)> OnDrop;

protected:
    // Fires OnDrop and returns its handled (false when unset).
    virtual bool DoDrop(TDroppedFiles& files);

private:
    class TEventFilter;

    bool FilterEvent(QEvent& event) noexcept;
    bool CanTake(const QMimeData* data) const;
    bool HandleDrop(QDropEvent& event);

    QPointer<QWidget> FControl;
    TAutoPointer<TEventFilter> FFilter;
};
