#pragma once
// What tests of open runs share: a progress dialog that notes what it shows
// at each event of the run, a watchdog for runs a test failed to end, and
// the program list, its selection, the document list and the open commands
// wired as the main form wires them.

#include "App_ProgressDialog.h"
#include "App_documents.h"
#include "App_open.h"
#include "App_programs.h"
#include "TempDirectory.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

// The dialog's child of that name; the test fails at once when it is missing.
QLabel& Label(QWidget& dialog, const char* name);
QPushButton& Button(QWidget& dialog, const char* name);

// What the user sees of a run in one comparable line: the glyph (1 activity,
// 2 warning, 3 error), the status, the program, the document, the bar and
// Pause, Resume, Cancel; then a failure's reason while one shows.
std::string ShownState(QWidget& dialog);

// Runs action from the event loop, as a user's click comes.
void Later(std::function<void()> action);

bool StartsWith(const std::string& text, const std::string& start);

// The progress dialog, noting "event: display" each time the run changes
// what it shows, and letting the test act at those moments.
class TRecordingProgressDialog : public TAppProgressDialog {
public:
    TLines Log;
    std::function<void(const std::string& line)> OnNote;

    void FinishHandler(TTask& sender) override;
    void NamesHandler(TTask& sender, const std::string& program, const std::string& document) override;
    void PausedHandler(TTask& sender) override;
    void ResumedHandler(TTask& sender) override;
    void StatusHandler(TTask& sender, const std::string& text) override;
    void NoticeHandler(TTask& sender, const std::string& text) override;
    void FailureHandler(TTask& sender, const std::string& text) override;
    void FailureReasonHandler(TTask& sender, const std::string& reason) override;
    void ProgressHandler(TTask& sender, int position, int maximum) override;

    // The log lines from the first one that begins with what.
    TLines From(const std::string& what) const;
    // The lines that are more than plain progress: neither "shown", "names",
    // "status" nor "progress".
    TLines Remarkable() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Note(const std::string& what);
};

// Cancels a run that a test failed to end, so the test fails instead of hanging.
class TRunWatchdog {
public:
    explicit TRunWatchdog(int timeoutMs = 30000);

private:
    QTimer FTimer;
};

// The units the main form wires for an open run, wired the same way, with a
// recording progress dialog as AppProgressDialog.
class TOpenRig {
public:
    TOpenRig();
    TOpenRig(const TOpenRig&) = delete;
    TOpenRig& operator=(const TOpenRig&) = delete;
    // Removes the dialog and checks that no child is left unreaped.
    ~TOpenRig();

    // Adds "Viewer" starting file with the document between prefix and
    // suffix, and selects it.
    TProgramEntry& AddViewer(const std::string& file, const std::string& prefix, const std::string& suffix,
                             bool autoPause = false);
    // The documents' results, blank-separated.
    std::string Results() const;

    TTempDirectory Scratch;
    TProgramEntriesModel Programs;
    QComboBox Combo;
    TProgramEntriesSelection Selection;
    TDocumentEntriesModel Documents;
    TOpenCommands Commands;
    TRecordingProgressDialog* Dialog = nullptr;
};
