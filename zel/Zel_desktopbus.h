#pragma once
// The desktop's session bus (D-Bus) through GDBus.
//
// A connection of our own, never GIO's shared one: a bus that goes away then
// only fails our calls and never ends the program, and a bus that is not
// there is never started for us. Every call has a timeout, and a failure
// reads as "nothing there", since the bus only ever adds to what the program
// does without it. Used by one thread at a time.

#include "Zel_autopointers.h"

#include <sys/types.h>

#include <memory>
#include <string>

// Who owns a well-known name on the bus.
struct TBusNameOwner {
    bool Owned = false;
    // The owner's process; 0 when it is not owned or the bus cannot tell.
    pid_t Pid = 0;
};

// A notice for the desktop's notification service (org.freedesktop.Notifications).
struct TDesktopNotification {
    std::string AppName;
    // An icon name of the theme or a file:// URI; empty for none.
    std::string AppIcon;
    std::string Summary;
    // Plain text; a service that takes markup reads <, > and & as such.
    std::string Body;
    // The desktop entry's id without ".desktop": the desktop then shows the
    // notice under the application's own name and icon.
    std::string DesktopEntry;
};

class TDesktopBus {
public:
    // The user's session bus: DBUS_SESSION_BUS_ADDRESS, else the socket
    // $XDG_RUNTIME_DIR/bus. nullptr when neither leads to a bus.
    static TAutoPointer<TDesktopBus> ConnectSession();
    // The message bus at a D-Bus address; nullptr when it cannot be reached.
    static TAutoPointer<TDesktopBus> Connect(const std::string& address);

    TDesktopBus(const TDesktopBus&) = delete;
    TDesktopBus& operator=(const TDesktopBus&) = delete;
    ~TDesktopBus();

    // A name an application can own ("org.example.App"); unique names
    // (":1.42") and malformed ones are not.
    static bool IsWellKnownName(const std::string& name);

    // The name's owner now. Not owned when the name is not a well-known name,
    // nobody owns it, or the bus does not answer.
    TBusNameOwner NameOwner(const std::string& name);

    // From now on counts the changes of owner the bus announces for the name,
    // so that an answer of NameOwner can be kept until one is announced.
    // One round trip the first time for a name, none after. False when the
    // bus will not announce them: then only asking again tells.
    bool WatchName(const std::string& name);
    // How many changes of owner of the watched names the bus has announced.
    // Read it before asking NameOwner: a change while asking then shows too.
    unsigned OwnerChanges() const noexcept;

    // Hands the notice to the notification service and returns: no answer is
    // waited for, so no service, or a slow one, costs nothing. False when the
    // connection has closed; whether a service shows it is never known.
    bool Notify(const TDesktopNotification& notification);

    // The progress bar on the launcher entry (a dock's or taskbar's icon) of
    // a desktop file ("org.example.App.desktop"), as KDE Plasma and Ubuntu's
    // dock read it: com.canonical.Unity.LauncherEntry's Update signal.
    // progress runs from 0 to 1; visible false takes the bar away. Only sent,
    // never waited for; false when the connection has closed.
    bool SetLauncherProgress(const std::string& desktopFile, double progress, bool visible);

    // The bus has gone away; nothing sent now reaches anyone.
    bool IsClosed() const noexcept;

private:
    // The GDBus connection and the calls made on it. GIO's headers stay out
    // of this one: they clash with Qt's keywords wherever both are included.
    struct TConnection;
    // The watched names and the count of their changes, which GDBus's own
    // thread keeps up to date.
    struct TOwnerChanges;

    explicit TDesktopBus(std::unique_ptr<TConnection> connection) noexcept;

    std::unique_ptr<TConnection> FConnection;
};
