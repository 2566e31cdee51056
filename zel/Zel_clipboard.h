#pragma once
// Clipboard change notification and plain clipboard access.

#include "Zel_autopointers.h"
#include "Zel_base.h"
#include "Zel_dynamicarrays.h"

#include <functional>
#include <string>

class QObject;

class EClipboardError : public Exception {
public:
    using Exception::Exception;
};

// Tells its owner every time the clipboard's contents change: once per change,
// on the GUI thread, through OnChange.
class TClipboardWatcher {
public:
    TClipboardWatcher();
    virtual ~TClipboardWatcher();
    TClipboardWatcher(const TClipboardWatcher&) = delete;
    TClipboardWatcher& operator=(const TClipboardWatcher&) = delete;

    bool Active() const noexcept { return FListener != nullptr; }
    void SetActive(bool value);
    // Starts watching and notifies once at once, as the clipboard's first state
    // is news to the owner. EClipboardError "The program could not add the
    // window to the clipboard viewer chain." when there is no clipboard (no
    // QGuiApplication, or not on its thread); the watcher then stays inactive.
    // An error from that first OnChange reaches the caller; the watcher stays active.
    void Activate();
    void Deactivate() noexcept;

    std::function<void(TClipboardWatcher& sender)> OnChange;

protected:
    virtual void DoChange();

private:
    void HandleChange() noexcept;

    TAutoPointer<QObject> FListener; // present exactly while active
};

// Plain clipboard access on the GUI thread. Each raises EClipboardError "The
// program cannot access the clipboard." when there is no clipboard.
// Whether the clipboard offers plain text; a file manager's URL list alone does not count.
bool ClipboardHasText();
// The clipboard's plain text in UTF-8; empty when it offers none.
std::string GetClipboardText();
void SetClipboardText(const std::string& text);
// The local files a file manager put on the clipboard (text/uri-list of file://
// URLs of this machine), as their paths' bytes, in their order; other URLs are left out.
TStringDynArray GetClipboardFilePaths();
