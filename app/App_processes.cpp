#include "App_processes.h"

#include "Zel_shellexecute.h"

#include <string_view>

EProcessCreateError::EProcessCreateError() : EProcessError("The program could not create the process.") {}

EProcessCreateError::EProcessCreateError(std::string reason) : EProcessCreateError()
{
    FReason = std::move(reason);
}

EProcessAbandon::EProcessAbandon() : EProcessError("The program abandoned the process.") {}

EProcessUnavailable::EProcessUnavailable() : EProcessError("The program could not get the handle of the process.")
{
}

EProcessWaitFail::EProcessWaitFail()
    : EProcessError("The program cannot determine whether the process has terminated.")
{
}

// --- TProcess ---

TProcess::TProcess(TAutoPointer<TProcessHandle> handle) : FHandle(std::move(handle))
{
    if (!FHandle)
        throw EInvalidOperation("The program has no process to wait for.");
}

// The handle passes a process that is still running to the background reaper.
TProcess::~TProcess() = default;

bool TProcess::WaitFor(int timeout)
{
    try {
        return FHandle->Wait(timeout < 0 ? -1 : timeout);
    } catch (const EProcessWaitError&) {
        throw EProcessWaitFail();
    }
}

// --- TProcessCreator ---

void TProcessCreator::SetParameters(std::string parameters)
{
    FParameters = std::move(parameters);
    FDocumentOffset = std::string::npos;
    FDocumentLength = 0;
}

void TProcessCreator::SetDocumentParameters(const std::string& prefix, const std::string& document,
                                            const std::string& suffix)
{
    std::string parameters;
    parameters.reserve(prefix.size() + document.size() + suffix.size());
    parameters.append(prefix).append(document).append(suffix);
    FParameters = std::move(parameters);
    FDocumentOffset = prefix.size();
    FDocumentLength = document.size();
}

TAutoPointer<TProcess> TProcessCreator::Start()
{
    const bool keepHandle = !AbandonProcess;
    TShellStart started;
    try {
        if (ByAssociation) {
            started = OpenDocument(File, Directory, ShowCommand, keepHandle);
        } else {
            TStringDynArray arguments;
            if (FDocumentOffset == std::string::npos) {
                arguments = SplitArguments(FParameters);
            } else {
                const std::string_view all(FParameters);
                arguments = SplitCommandLine(std::string(all.substr(0, FDocumentOffset)),
                                             std::string(all.substr(FDocumentOffset, FDocumentLength)),
                                             std::string(all.substr(FDocumentOffset + FDocumentLength)));
            }
            started = StartProgram(File, arguments, Directory, ShowCommand, keepHandle);
        }
    } catch (const EShellExecuteError& e) {
        throw EProcessCreateError(e.Reason().empty() ? e.Message() : e.Reason());
    }
    if (AbandonProcess)
        throw EProcessAbandon();
    if (!started.Process)
        throw EProcessUnavailable();
    return std::make_unique<TProcess>(std::move(started.Process));
}
