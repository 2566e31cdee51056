#include "App_processes.h"

#include "Zel_desktopbus.h"
#include "Zel_shellexecute.h"
#include "Zel_translations.h"

#include <chrono>
#include <map>
#include <string_view>
#include <vector>

EProcessCreateError::EProcessCreateError() : EProcessError(Tr("The program could not create the process.")) {}

EProcessCreateError::EProcessCreateError(std::string reason) : EProcessCreateError()
{
    FReason = std::move(reason);
}

EProcessAbandon::EProcessAbandon() : EProcessError(Tr("The program abandoned the process.")) {}

EProcessUnavailable::EProcessUnavailable() : EProcessError(Tr("The program could not get the handle of the process."))
{
}

EProcessUnavailable::EProcessUnavailable(std::string message) : EProcessError(std::move(message)) {}

EProcessHandOff::EProcessHandOff()
    : EProcessUnavailable(Tr("The program handed the document to an application that was already running."))
{
}

EProcessWaitFail::EProcessWaitFail()
    : EProcessError(Tr("The program cannot determine whether the process has terminated."))
{
}

// --- THandOffWatch ---

// For one run: which names on the session bus a start answers to, and the
// bus to ask who owns them. The bus is reached once, a program file's
// desktop entries are read once, and the owners are asked about again only
// when the bus has announced a change.
class THandOffWatch {
public:
    // The names among the application ids that an application can own.
    static TStringDynArray Names(const TStringDynArray& applicationIds)
    {
        TStringDynArray names;
        for (const std::string& id : applicationIds)
            if (TDesktopBus::IsWellKnownName(id))
                names.push_back(id);
        return names;
    }

    // The desktop entries that run the program file: whether there is one,
    // and the names they could own.
    struct TProgram {
        bool Application = false;
        TStringDynArray Names;
    };
    const TProgram& Program(const std::string& file)
    {
        auto found = FPrograms.find(file);
        if (found == FPrograms.end()) {
            const TStringDynArray ids = ProgramApplicationIds(file);
            found = FPrograms.emplace(file, TProgram{!ids.empty(), Names(ids)}).first;
        }
        return found->second;
    }

    // Just before a desktop application starts: the user's processes as
    // they run now, read again when the last look is a second old.
    void BeforeStart()
    {
        if (TProcessSnapshot::TClock::now() - FProcesses.Taken() > std::chrono::seconds(1))
            FProcesses = TProcessSnapshot::Take();
    }

    // The process ended soon and well, and another copy of its program
    // that ran before it goes on: the copy took the document.
    bool HandedToEarlierCopy(const TProcess::TEnd& end) const
    {
        return end.Info.Pid == end.Pid && ExitedWithSuccess(end.Status)
            && ProcessAgeMs(end.Info) < TProcessCreator::HandOffSeconds * 1000
            && FProcesses.EarlierCopy(end.Info) != 0;
    }

    // True when one of the names is owned by a process other than except
    // (0: by any process). An owner the bus cannot name is not another one.
    bool OwnedElsewhere(const TStringDynArray& names, pid_t except)
    {
        TDesktopBus* bus = names.empty() ? nullptr : Bus();
        if (!bus)
            return false;
        for (const TBusNameOwner& owner : Owners(*bus, names))
            if (owner.Owned && (except == 0 || (owner.Pid != 0 && owner.Pid != except)))
                return true;
        return false;
    }

private:
    struct TKnownOwners {
        std::vector<TBusNameOwner> Owners;
        unsigned Changes = 0;
        bool Current = false; // kept only while the bus announces changes
    };

    // The names' owners, asked the first time and again only once the bus
    // has announced a change of owner of a watched name. An application
    // already running is so asked about once, however many documents go to it.
    const std::vector<TBusNameOwner>& Owners(TDesktopBus& bus, const TStringDynArray& names)
    {
        TKnownOwners& known = FOwners[names];
        if (known.Current && known.Changes == bus.OwnerChanges())
            return known.Owners;
        bool watched = true;
        for (const std::string& name : names)
            watched = bus.WatchName(name) && watched;
        known.Changes = bus.OwnerChanges();
        known.Owners.clear();
        for (const std::string& name : names)
            known.Owners.push_back(bus.NameOwner(name));
        known.Current = watched;
        return known.Owners;
    }

    TDesktopBus* Bus()
    {
        if (!FConnected) {
            FConnected = true;
            FBus = TDesktopBus::ConnectSession();
        }
        return FBus.get();
    }

    std::map<std::string, TProgram> FPrograms;
    std::map<TStringDynArray, TKnownOwners> FOwners;
    TProcessSnapshot FProcesses;
    TAutoPointer<TDesktopBus> FBus;
    bool FConnected = false;
};

// --- TProcess ---

TProcess::TProcess(TAutoPointer<TProcessHandle> handle, THandOffCheck handOffCheck)
    : FHandle(std::move(handle)), FHandOffCheck(std::move(handOffCheck))
{
    if (!FHandle)
        throw EInvalidOperation(Tr("The program has no process to wait for."));
    // Its name and start are read from the zombie: once reaped, they are gone.
    if (FHandOffCheck)
        FHandle->BeforeReap = [this](pid_t pid) {
            try {
                if (!ReadProcessInfo(pid, FZombie))
                    FZombie = TProcessInfo();
            } catch (...) {
                FZombie = TProcessInfo(); // out of memory: no hand-off seen
            }
        };
}

// The handle passes a process that is still running to the background reaper.
TProcess::~TProcess() = default;

bool TProcess::WaitFor(int timeout)
{
    bool ended = false;
    try {
        ended = FHandle->Wait(timeout < 0 ? -1 : timeout);
    } catch (const EProcessWaitError&) {
        throw EProcessWaitFail();
    }
    if (ended && FHandOffCheck) {
        // Asked the moment the end is seen: a process that handed its
        // document off ends while the instance that took it owns the name.
        const THandOffCheck check = std::move(FHandOffCheck);
        FHandOffCheck = nullptr;
        FHandedOff = check({FHandle->Pid(), FZombie, FHandle->ExitStatus()});
    }
    return ended;
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
    if (!FHandOff)
        FHandOff = std::make_shared<THandOffWatch>();
    // Only a start that is waited for can slip away by handing its document
    // off; the names are looked at just before it.
    TStringDynArray names;
    bool application = false;
    bool runningBefore = false;
    const auto watch = [&](TStringDynArray candidates) {
        names = std::move(candidates);
        runningBefore = FHandOff->OwnedElsewhere(names, 0);
        application = true;
        FHandOff->BeforeStart();
    };
    TShellStart started;
    try {
        if (ByAssociation) {
            TApplicationNotify beforeLaunch;
            if (keepHandle)
                beforeLaunch = [&](const std::string& id) { watch(THandOffWatch::Names({id})); };
            started = OpenDocument(File, Directory, ShowCommand, keepHandle, beforeLaunch);
        } else {
            if (keepHandle) {
                const auto& program = FHandOff->Program(File);
                if (program.Application)
                    watch(program.Names);
            }
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
    // Started all the same: the running instance shows the document.
    if (runningBefore)
        throw EProcessHandOff();
    if (!started.Process)
        throw EProcessUnavailable();
    TProcess::THandOffCheck handedOff;
    if (application)
        handedOff = [watch = FHandOff, names](const TProcess::TEnd& end) {
            return watch->OwnedElsewhere(names, end.Pid) || watch->HandedToEarlierCopy(end);
        };
    return std::make_unique<TProcess>(std::move(started.Process), std::move(handedOff));
}
