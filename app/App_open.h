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

class TProgramEntriesModel;
class TProgramEntriesSelection;

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

private:
    TProgramEntriesModel& FProgramEntries;
    TProgramEntriesSelection& FProgramEntriesSelection;
    TDocumentEntriesModel& FDocumentEntries;
};
