#pragma once
// The desktop's side of the session bus, as far as a run shows itself there:
// a notification service that records each Notify call it gets, and a
// listener that records each launcher entry's Update signal. It runs on a
// thread of its own with its own connection to a (private) bus, so the
// messages it records really went through the bus daemon.

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TRecordedNotice {
    std::string AppName;
    std::string AppIcon;
    std::string Summary;
    std::string Body;
    std::string DesktopEntry; // the "desktop-entry" hint
};

struct TRecordedLauncherUpdate {
    std::string Path;
    std::string AppUri;
    std::optional<double> Progress;
    std::optional<bool> Visible;
};

class TDesktopRecorder {
public:
    // Connects to the bus at address; with ownNotifications it also owns
    // org.freedesktop.Notifications. Throws std::runtime_error when it cannot.
    explicit TDesktopRecorder(const std::string& address, bool ownNotifications = true);
    TDesktopRecorder(const TDesktopRecorder&) = delete;
    TDesktopRecorder& operator=(const TDesktopRecorder&) = delete;
    ~TDesktopRecorder();

    std::vector<TRecordedNotice> Notices() const;
    std::vector<TRecordedLauncherUpdate> LauncherUpdates() const;

private:
    struct TState;
    std::shared_ptr<TState> FState;
};
