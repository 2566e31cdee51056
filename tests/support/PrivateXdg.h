#pragma once
// A private desktop for association launches: XDG_DATA_HOME, XDG_CONFIG_HOME,
// XDG_DATA_DIRS and XDG_CONFIG_DIRS point into a scratch directory whose
// mimeapps.list and .desktop files send made-up document types and
// directories to the test helpers, so launches are deterministic and never
// reach a real desktop application or session bus.
//
// GIO reads these variables once per process, on its first use, and keeps
// them: make the private desktop before the first GIO call and keep it for
// the whole test program. A global test environment does exactly that:
//   static auto* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);
// The constructor throws when GIO already settled on other directories.

#include "ProcessTestSupport.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class TPrivateXdg {
public:
    // Documents named *.dorvanetest open with the recorder.
    static constexpr const char* RecordedExtension = ".dorvanetest";
    static constexpr const char* RecordedType = "application/x-dorvane-test";
    // Documents named *.dorvanesingle open with the single-instance helper,
    // whose desktop id is its application id.
    static constexpr const char* SingleExtension = ".dorvanesingle";
    static constexpr const char* SingleAppId = "org.dorvane.SingleTest";
    // Documents named *.dorvanesocket open with the helper that keeps one
    // copy per user over a socket, under a desktop id that is no bus name.
    static constexpr const char* SocketExtension = ".dorvanesocket";
    // Documents named *.dorvanebroken go to an entry whose program is a
    // script with a missing interpreter: it exists and is executable, yet
    // cannot run.
    static constexpr const char* BrokenExtension = ".dorvanebroken";
    // Documents named *.dorvanewindow open with the helper that maps a window.
    static constexpr const char* WindowExtension = ".dorvanewindow";

    TPrivateXdg();
    TPrivateXdg(const TPrivateXdg&) = delete;
    TPrivateXdg& operator=(const TPrivateXdg&) = delete;
    // Restores the variables; GIO keeps what it read.
    ~TPrivateXdg();

    const std::string& Root() const noexcept { return FRoot.Path(); }

private:
    TTempDirectory FRoot;
    std::vector<std::unique_ptr<TScopedEnvironment>> FVariables;
};

class TPrivateXdgEnvironment : public testing::Environment {
public:
    void SetUp() override { FXdg = std::make_unique<TPrivateXdg>(); }
    void TearDown() override { FXdg.reset(); }

private:
    std::unique_ptr<TPrivateXdg> FXdg;
};
