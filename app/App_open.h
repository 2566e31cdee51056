#pragma once
// Opening the documents: the background run that starts one process per
// document with one program entry, waits for it, and records the result.

#include "App_common.h"
#include "Zel_autopointers.h"
#include "Zel_base.h"
#include "Zel_tasks.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QObject;
class TDocumentEntriesModel;
class TProcessCreator;
class TProgramEntry;
enum class TDocumentEntryResult : std::uint8_t;

// "The program skips the document." Marks a document that already succeeded;
// never shown.
class EOpenSkip : public EAbort {
public:
    EOpenSkip();
};

// Opens every document of the list that has not yet succeeded, in list order,
// with one program entry. The body runs on the worker; every look at the
// documents, the program entry or the creator's fields and every event runs on
// the GUI thread through Synchronize. Paused and Cancelled are the only values
// the two threads share outside such a step.
class TOpenTask : public TTask {
public:
    using TDocumentEvent =
        std::function<void(TOpenTask& sender, const std::string& programName, const std::string& documentName)>;
    using TNotifyEvent = std::function<void(TOpenTask& sender)>;
    using TTextEvent = std::function<void(TOpenTask& sender, const std::string& text)>;

    // Both must outlive the task. The interval and the number of documents
    // are taken now; the list is not asked for its size again.
    TOpenTask(TProgramEntry& programEntry, TDocumentEntriesModel& documents);
    ~TOpenTask() override;

    // Set by Pause, cleared by Resume; either thread.
    std::atomic<bool> Paused{false};

    TDocumentEvent OnDocument;
    TNotifyEvent OnPaused;
    TNotifyEvent OnResumed;
    // Ordinary progress text.
    TTextEvent OnStatus;
    // Text that asks for the user's attention.
    TTextEvent OnNotice;
    // Text of a failed step.
    TTextEvent OnFailure;
    // Why the step failed, in the system's or GIO's words; right after
    // OnFailure, when it is known.
    TTextEvent OnFailureReason;

    void Execute() override;

    // Each fires its event through Synchronize, when it is set.
    virtual void DoDocument(const std::string& programName, const std::string& documentName);
    virtual void DoPaused();
    virtual void DoResumed();
    virtual void DoStatus(const std::string& text);
    virtual void DoNotice(const std::string& text);
    virtual void DoFailure(const std::string& text);
    virtual void DoFailureReason(const std::string& reason);
    // Either thread. A pause takes effect between documents.
    virtual void Pause();
    virtual void Resume();
    // For the progress dialog's buttons.
    virtual void PauseHandler(QObject& sender);
    virtual void ResumeHandler(QObject& sender);
    virtual void CancelHandler(QObject& sender);

    // The document being opened, which is also the number of documents done.
    int Index() const noexcept { return FIndex; }
    int Count() const noexcept { return FCount; }
    // Documents this run has opened (skipped ones not counted) and failed to
    // open so far; GUI thread.
    int Opened() const noexcept { return FOpened; }
    int Failed() const noexcept { return FFailed; }

private:
    // GUI-thread steps.
    void ResetResults();
    bool PrepareDocument();
    void SetResult(TDocumentEntryResult result, const std::string& reason = std::string());
    void DocumentDone();
    // Worker.
    void OpenDocument();
    void WaitWhilePaused();

    TProgramEntry& FProgramEntry;
    TDocumentEntriesModel& FDocuments;
    TAutoPointer<TProcessCreator> FCreator;
    int FInterval;
    int FIndex = 0;
    int FCount;
    bool FSkipped = false; // the current document had succeeded before
    int FOpened = 0;
    int FFailed = 0;
};

class TDesktopBus;
class TProgramEntriesModel;
class TProgramEntriesSelection;

// How an open run ended.
enum class TOpenRunEnd { Completed, Cancelled, Stopped };

// The notice at the end of a run: its summary ("Open finished", "Open
// cancelled", "Open stopped") and how many documents the run opened and
// failed ("12 documents opened, 1 failed.").
struct TOpenRunNotice {
    std::string Summary;
    std::string Body;
};
TOpenRunNotice OpenRunNotice(TOpenRunEnd end, int opened, int failed);

// The launcher shows a run's progress in steps of a hundredth: the step of
// position out of maximum (0 to 100). A run of any length so passes on at
// most 101 of them.
int LauncherProgressStep(int position, int maximum) noexcept;

// What the desktop shows of one open run, on the session bus: the progress on
// Dorvane's launcher entry (the dock's or taskbar's icon) while it lasts, a
// step only when it changes, and a notice when a run over two or more
// documents that opened or failed any ends while Dorvane is not the active
// application. Without a bus nothing happens. GUI thread.
class TOpenRunDesktop {
public:
    // bus may be null; isActive tells whether Dorvane is the active application.
    TOpenRunDesktop(std::shared_ptr<TDesktopBus> bus, std::function<bool()> isActive);
    TOpenRunDesktop(const TOpenRunDesktop&) = delete;
    TOpenRunDesktop& operator=(const TOpenRunDesktop&) = delete;
    // A run that never reached Finished takes its progress away too.
    ~TOpenRunDesktop();

    // Neither fails: the desktop only adds to what the run shows.
    void Started() noexcept;
    void Progress(int position, int maximum) noexcept;
    // The notice when it is due, then the launcher's progress goes.
    void Finished(TOpenRunEnd end, int count, int opened, int failed) noexcept;

private:
    void Show(int step) noexcept;
    void ClearProgress() noexcept;

    std::shared_ptr<TDesktopBus> FBus;
    std::function<bool()> FIsActive;
    int FStep = -1; // the step the launcher shows; -1 before the first
    bool FShown = false;
};

// The Open command: one open run with the selected program entry over the
// whole document list, shown in the progress dialog until it has ended. The
// models and the selection are not owned and must outlive the commands.
class TOpenCommands : public TCommands {
public:
    TOpenCommands(TProgramEntriesModel& programEntries, TDocumentEntriesModel& documentEntries,
                  TProgramEntriesSelection& programEntriesSelection);

    // Returns when the run has ended. A failure that ended the run early is
    // raised here, once the dialog has closed, as EAppError with its message.
    virtual void Open();
    // A program entry is selected and the list holds a document.
    virtual bool CanOpen();

    // Whether Dorvane is the application the user works in, asked as a run
    // ends; Qt's application state unless replaced.
    std::function<bool()> IsApplicationActive;

private:
    // The session bus, reached again when it has gone; null without one.
    std::shared_ptr<TDesktopBus> DesktopBus();

    TProgramEntriesModel& FProgramEntries;
    TProgramEntriesSelection& FProgramEntriesSelection;
    TDocumentEntriesModel& FDocumentEntries;
    std::shared_ptr<TDesktopBus> FDesktopBus;
};
