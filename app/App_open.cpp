#include "App_open.h"

#include "App_ProgressDialog.h"
#include "App_documents.h"
#include "App_processes.h"
#include "App_programs.h"
#include "Zel_desktopbus.h"
#include "Zel_dynamicarrays.h"
#include "Zel_files.h"
#include "Zel_translations.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Both waits look at the flags this often.
constexpr std::chrono::milliseconds PollInterval(100);

} // namespace

EOpenSkip::EOpenSkip() : EAbort("The program skips the document.") {}

TOpenTask::TOpenTask(TProgramEntry& programEntry, TDocumentEntriesModel& documents)
    : FProgramEntry(programEntry),
      FDocuments(documents),
      FCreator(std::make_unique<TProcessCreator>()),
      FInterval(programEntry.OpenInterval()),
      FCount(documents.GetCount())
{
}

TOpenTask::~TOpenTask() = default;

void TOpenTask::Execute()
{
    Synchronize([this] { ResetResults(); });
    while (!Cancelled && FIndex < FCount) {
        OpenDocument();
        WaitWhilePaused();
    }
}

void TOpenTask::DoDocument(const std::string& programName, const std::string& documentName)
{
    if (OnDocument)
        Synchronize([&] { OnDocument(*this, programName, documentName); });
}

void TOpenTask::DoPaused()
{
    if (OnPaused)
        Synchronize([this] { OnPaused(*this); });
}

void TOpenTask::DoResumed()
{
    if (OnResumed)
        Synchronize([this] { OnResumed(*this); });
}

void TOpenTask::DoStatus(const std::string& text)
{
    if (OnStatus)
        Synchronize([&] { OnStatus(*this, text); });
}

void TOpenTask::DoNotice(const std::string& text)
{
    if (OnNotice)
        Synchronize([&] { OnNotice(*this, text); });
}

void TOpenTask::DoFailure(const std::string& text)
{
    if (OnFailure)
        Synchronize([&] { OnFailure(*this, text); });
}

void TOpenTask::DoFailureReason(const std::string& reason)
{
    if (OnFailureReason)
        Synchronize([&] { OnFailureReason(*this, reason); });
}

void TOpenTask::Pause()
{
    // exchange: a button and the worker pausing at once still fire once.
    if (Paused.exchange(true))
        return;
    DoPaused();
}

void TOpenTask::Resume()
{
    if (!Paused.exchange(false))
        return;
    DoResumed();
}

void TOpenTask::PauseHandler(QObject&)
{
    Pause();
}

void TOpenTask::ResumeHandler(QObject&)
{
    Resume();
}

void TOpenTask::CancelHandler(QObject&)
{
    Cancel();
}

// Failures become None and are tried again; successes stay and are skipped,
// so an interrupted run goes on where it stopped.
void TOpenTask::ResetResults()
{
    DoStatus(Tr("Resetting the results..."));
    TDynamicArrayBuilder<int> indexes;
    indexes.SetCapacity(FDocuments.GetCount() - FDocuments.CountOfResult(TDocumentEntryResult::Success));
    for (int i = 0, count = FDocuments.GetCount(); i < count; ++i) {
        TDocumentEntry* document = FDocuments.GetItem(i);
        if (document->Result() != TDocumentEntryResult::Success) {
            document->SetResult(TDocumentEntryResult::None);
            indexes.Add(i);
        }
    }
    FDocuments.NotifyChanged(indexes.Extract());
}

// Fills the creator for the current document; false when it is to be skipped.
bool TOpenTask::PrepareDocument()
{
    const TDocumentEntry* document = FDocuments.GetItem(FIndex);
    const std::string& path = document->Path();
    DoDocument(FProgramEntry.DisplayName(), ExtractFileName(path));
    FSkipped = document->Result() == TDocumentEntryResult::Success;
    if (FSkipped)
        return false;
    TProcessCreator& creator = *FCreator;
    if (FProgramEntry.IsFileBlank()) {
        creator.File = path;
        creator.ByAssociation = true;
        creator.SetParameters(std::string());
    } else {
        creator.File = FProgramEntry.File();
        creator.ByAssociation = false;
        creator.SetDocumentParameters(FProgramEntry.DocumentPrefix(), path, FProgramEntry.DocumentSuffix());
    }
    creator.Directory =
        FProgramEntry.WorkingDirectory().empty() ? ExtractFileDir(path) : FProgramEntry.WorkingDirectory();
    creator.ShowCommand = FProgramEntry.ShowCommand();
    creator.AbandonProcess = FProgramEntry.AutoPause();
    return true;
}

void TOpenTask::SetResult(TDocumentEntryResult result, const std::string& reason)
{
    Synchronize([this, result, &reason] {
        FDocuments.GetItem(FIndex)->SetResult(result, reason);
        FDocuments.NotifyChanged(TIntegerDynArray{FIndex});
    });
}

void TOpenTask::DocumentDone()
{
    Synchronize([this] {
        // TRANSLATORS: the progress dialog's status once a document has been dealt with.
        DoStatus(Tr("Done"));
        if (!FSkipped) {
            const TDocumentEntryResult result = FDocuments.GetItem(FIndex)->Result();
            FOpened += result == TDocumentEntryResult::Success;
            FFailed += result == TDocumentEntryResult::Failure;
        }
        FSkipped = false;
        ++FIndex;
        DoProgress(FIndex, FCount);
    });
}

void TOpenTask::OpenDocument()
{
    try {
        bool open = false;
        Synchronize([this, &open] { open = PrepareDocument(); });
        if (!open)
            throw EOpenSkip();
        DoStatus(Tr("Opening a document..."));
        // Owned here, so the process object goes on every path; the process
        // itself is never stopped.
        const TAutoPointer<TProcess> process = FCreator->Start();
        SetResult(TDocumentEntryResult::Success);
        DoStatus(Tr("Waiting for the termination of the process..."));
        // Pause is not looked at here: it takes effect after this document.
        while (!Cancelled && !process->WaitFor(static_cast<int>(PollInterval.count()))) {
        }
        // It gave the document to an instance that was already running:
        // that one is the user's to close, and no longer ours to wait for.
        if (process->HandedOff())
            throw EProcessHandOff();
        // Slept also after a cancel, so the last program started gets its
        // interval too.
        if (FInterval > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(FInterval));
    } catch (const EOpenSkip&) {
    } catch (const EProcessCreateError& e) {
        DoFailure(Tr("Could not open the document"));
        if (!e.Reason().empty())
            DoFailureReason(e.Reason());
        SetResult(TDocumentEntryResult::Failure, e.Reason());
        Pause();
        WaitWhilePaused();
    } catch (const EProcessAbandon&) {
        DoNotice(Tr("Paused - resume to open the next document"));
        SetResult(TDocumentEntryResult::Success);
        Pause();
        WaitWhilePaused();
    } catch (const EProcessUnavailable&) {
        DoNotice(Tr("Cannot wait for the termination of the process"));
        SetResult(TDocumentEntryResult::Success);
        Pause();
        WaitWhilePaused();
    } catch (const EProcessWaitFail&) {
        DoFailure(Tr("Could not wait for termination of the process"));
        Pause();
        WaitWhilePaused();
    }
    DocumentDone();
}

void TOpenTask::WaitWhilePaused()
{
    while (Paused && !Cancelled)
        std::this_thread::sleep_for(PollInterval);
}

// --- TOpenRunDesktop ---

TOpenRunNotice OpenRunNotice(TOpenRunEnd end, int opened, int failed)
{
    TOpenRunNotice notice;
    switch (end) {
    case TOpenRunEnd::Completed:
        // TRANSLATORS: the end-of-run notice's title when every document was dealt with.
        notice.Summary = Tr("Open finished");
        break;
    case TOpenRunEnd::Cancelled:
        // TRANSLATORS: the end-of-run notice's title when the user cancelled the run.
        notice.Summary = Tr("Open cancelled");
        break;
    case TOpenRunEnd::Stopped:
        // TRANSLATORS: the end-of-run notice's title when an error ended the run.
        notice.Summary = Tr("Open stopped");
        break;
    }
    const auto opens = static_cast<unsigned long>(opened);
    const auto failures = static_cast<unsigned long>(failed);
    // TRANSLATORS: the documents opened in a run, as in "12 documents opened, 1 failed.".
    const std::string openedPart = FormatText(TrN("%1 document opened", "%1 documents opened", opens),
                                              {std::to_string(opened)});
    // TRANSLATORS: the documents that failed to open in a run, as in "12 documents opened, 1 failed.".
    const std::string failedPart = FormatText(TrN("%1 failed", "%1 failed", failures), {std::to_string(failed)});
    // TRANSLATORS: the end-of-run notice's text: %1 is "12 documents opened", %2 is "1 failed".
    notice.Body = FormatText(Tr("%1, %2."), {openedPart, failedPart});
    return notice;
}

int LauncherProgressStep(int position, int maximum) noexcept
{
    if (maximum <= 0 || position <= 0)
        return 0;
    if (position >= maximum)
        return 100;
    return static_cast<int>(static_cast<long long>(position) * 100 / maximum);
}

namespace {

std::string LauncherDesktopFile()
{
    return std::string(AppId) + ".desktop";
}

} // namespace

TOpenRunDesktop::TOpenRunDesktop(std::shared_ptr<TDesktopBus> bus, std::function<bool()> isActive)
    : FBus(std::move(bus)), FIsActive(std::move(isActive))
{
}

TOpenRunDesktop::~TOpenRunDesktop()
{
    ClearProgress();
}

void TOpenRunDesktop::Started() noexcept
{
    Show(0);
}

void TOpenRunDesktop::Progress(int position, int maximum) noexcept
{
    const int step = LauncherProgressStep(position, maximum);
    if (step != FStep)
        Show(step);
}

void TOpenRunDesktop::Show(int step) noexcept
{
    FStep = step;
    if (!FBus)
        return;
    try {
        FShown = FBus->SetLauncherProgress(LauncherDesktopFile(), step / 100.0, true) || FShown;
    } catch (...) {
        // Only an addition: a bar that does not move must not end the run.
    }
}

void TOpenRunDesktop::Finished(TOpenRunEnd end, int count, int opened, int failed) noexcept
{
    // Sent before the progress goes, so whoever sees the progress go has
    // had the notice too. A run that found nothing left to open has nothing
    // to tell.
    try {
        if (FBus && count >= 2 && opened + failed > 0 && !(FIsActive && FIsActive())) {
            const TOpenRunNotice notice = OpenRunNotice(end, opened, failed);
            FBus->Notify({AppTitle, "dorvane", notice.Summary, notice.Body, AppId});
        }
    } catch (...) {
        // Only an addition: the run's own end must not be kept from the dialog.
    }
    ClearProgress();
}

void TOpenRunDesktop::ClearProgress() noexcept
{
    if (!FShown)
        return;
    FShown = false;
    try {
        FBus->SetLauncherProgress(LauncherDesktopFile(), std::max(FStep, 0) / 100.0, false);
    } catch (...) {
        // The bar stays until the dock looks again; nothing to tell the user.
    }
}

// --- TOpenCommands ---

TOpenCommands::TOpenCommands(TProgramEntriesModel& programEntries, TDocumentEntriesModel& documentEntries,
                             TProgramEntriesSelection& programEntriesSelection)
    : IsApplicationActive([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }),
      FProgramEntries(programEntries),
      FProgramEntriesSelection(programEntriesSelection),
      FDocumentEntries(documentEntries)
{
}

std::shared_ptr<TDesktopBus> TOpenCommands::DesktopBus()
{
    if (!FDesktopBus || FDesktopBus->IsClosed())
        FDesktopBus = TDesktopBus::ConnectSession();
    return FDesktopBus;
}

void TOpenCommands::Open()
{
    if (!CanOpen())
        RaiseUnavailable();
    TProgramEntry& programEntry = *FProgramEntries.Items(FProgramEntriesSelection.SelectedIndex());
    // Owned here until it is started; from then on it frees itself when it finishes.
    TAutoPointer<TOpenTask> owner = std::make_unique<TOpenTask>(programEntry, FDocumentEntries);
    TOpenTask& task = *owner;
    TAppProgressDialog& dialog = NeedAppProgressDialog();

    // Between runs the dialog must not reach a task that has freed itself.
    struct TUnbind {
        TAppProgressDialog& Dialog;
        ~TUnbind()
        {
            Dialog.OnPause = nullptr;
            Dialog.OnResume = nullptr;
            Dialog.OnCancelRequest = nullptr;
        }
    } unbind{dialog};
    dialog.OnPause = [&task](TAppProgressDialog& sender) { task.PauseHandler(sender); };
    dialog.OnResume = [&task](TAppProgressDialog& sender) { task.ResumeHandler(sender); };
    dialog.OnCancelRequest = [&task](TAppProgressDialog& sender) { task.CancelHandler(sender); };

    // Shared: the task's events hold it as long as the task may fire them.
    auto desktop = std::make_shared<TOpenRunDesktop>(DesktopBus(), IsApplicationActive);
    // A failure that ends the run would otherwise only close the dialog, and
    // the user would take the run for complete. It is kept and raised once
    // the dialog has closed. Shared, because the task may outlive this call.
    auto failure = std::make_shared<std::optional<std::string>>();

    task.FreeOnFinish = true;
    task.OnFinish = [&dialog, &task, desktop, failure](TTask& sender) {
        const TOpenRunEnd end = *failure ? TOpenRunEnd::Stopped
            : task.Cancelled && task.Index() < task.Count() ? TOpenRunEnd::Cancelled
                                                            : TOpenRunEnd::Completed;
        desktop->Finished(end, task.Count(), task.Opened(), task.Failed());
        dialog.FinishHandler(sender);
    };
    task.OnDocument = [&dialog](TOpenTask& sender, const std::string& program, const std::string& document) {
        dialog.NamesHandler(sender, program, document);
    };
    task.OnPaused = [&dialog](TOpenTask& sender) { dialog.PausedHandler(sender); };
    task.OnResumed = [&dialog](TOpenTask& sender) { dialog.ResumedHandler(sender); };
    task.OnStatus = [&dialog](TOpenTask& sender, const std::string& text) { dialog.StatusHandler(sender, text); };
    task.OnNotice = [&dialog](TOpenTask& sender, const std::string& text) { dialog.NoticeHandler(sender, text); };
    task.OnFailure = [&dialog](TOpenTask& sender, const std::string& text) { dialog.FailureHandler(sender, text); };
    task.OnFailureReason = [&dialog](TOpenTask& sender, const std::string& reason) {
        dialog.FailureReasonHandler(sender, reason);
    };
    task.OnProgress = [&dialog, desktop](TTask& sender, int position, int maximum) {
        dialog.ProgressHandler(sender, position, maximum);
        desktop->Progress(position, maximum);
    };
    task.OnException = [failure](TTask&, const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        *failure = own ? own->Message() : std::string(e.what());
    };

    desktop->Started();
    task.Start();
    (void)owner.release();
    dialog.Execute();
    if (*failure)
        throw EAppError(**failure);
}

bool TOpenCommands::CanOpen()
{
    return FProgramEntriesSelection.SelectedIndex() >= 0 && FDocumentEntries.GetCount() > 0;
}
