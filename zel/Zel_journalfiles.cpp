#include "Zel_journalfiles.h"

#include "Zel_strings.h"
#include "Zel_translations.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// The disk is asked to keep the data at most this often.
constexpr std::chrono::seconds SyncInterval(1);

const char HexDigits[] = "0123456789ABCDEF";

bool NeedsEscape(unsigned char c)
{
    return c <= 0x20 || c == 0x7F || c == '%';
}

enum class TFileStep { Read, Write, Create, Lock, Delete, Sync, Replace };

// Whole sentences, one a step, so that a language can put the verb where it goes.
const char* FailureFormat(TFileStep step) noexcept
{
    switch (step) {
    case TFileStep::Read:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason ("No such file or directory").
        return Tr("The program could not read the file \"%1\": %2.");
    case TFileStep::Write:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason.
        return Tr("The program could not write the file \"%1\": %2.");
    case TFileStep::Create:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason.
        return Tr("The program could not create the file \"%1\": %2.");
    case TFileStep::Lock:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason.
        return Tr("The program could not lock the file \"%1\": %2.");
    case TFileStep::Delete:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason.
        return Tr("The program could not delete the file \"%1\": %2.");
    case TFileStep::Sync:
        // TRANSLATORS: "sync": write the file's data through to the disk. %1 is
        // the file's path, %2 the system's reason.
        return Tr("The program could not sync the file \"%1\": %2.");
    case TFileStep::Replace:
        // TRANSLATORS: %1 is the file's path, %2 the system's reason.
        return Tr("The program could not replace the file \"%1\": %2.");
    }
    return "";
}

[[noreturn]] void Fail(TFileStep step, const std::string& path, int error)
{
    throw ERecordFileError(FormatText(FailureFormat(step), {path, SystemErrorText(error)}));
}

bool SameFile(int fd, const std::string& path)
{
    struct stat opened{};
    struct stat named{};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

void CloseFile(int& fd) noexcept
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Writes all bytes, going on after a short write or an interruption.
void WriteAll(int fd, std::string_view bytes, const std::string& path)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(TFileStep::Write, path, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string ReadWhole(int fd, const std::string& path)
{
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        Fail(TFileStep::Read, path, errno);
    std::string text;
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Fail(TFileStep::Read, path, errno);
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return text;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens name for writing from scratch, locked. Someone who cleans up a dead
// writer's files may take the name for an orphan between the open and the
// lock, hold it a moment and delete it; the lock then waits for them and sits
// on a file without a name, and the next try makes a new one. Names are this
// instance's own, so nobody else holds one for longer.
int CreateLocked(const std::string& name)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            Fail(TFileStep::Create, name, errno);
        int locked;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int error = errno;
            ::close(fd);
            Fail(TFileStep::Lock, name, error);
        }
        if (SameFile(fd, name))
            return fd;
        ::close(fd);
    }
    Fail(TFileStep::Create, name, EAGAIN);
}

} // namespace

// --- Fields and lines ---

void AppendRecordField(std::string& line, std::string_view bytes)
{
    line += ' ';
    if (bytes.empty()) {
        line += '-';
        return;
    }
    if (bytes == "-") {
        line += "%2D";
        return;
    }
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            line += '%';
            line += HexDigits[byte >> 4];
            line += HexDigits[byte & 0x0F];
        } else {
            line += c;
        }
    }
}

void AppendRecordNumber(std::string& line, std::uint64_t number)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    line += ' ';
    line.append(p, static_cast<std::size_t>(end - p));
}

bool DecodeRecordField(std::string_view field, std::string& bytes)
{
    bytes.clear();
    if (field.empty())
        return false;
    if (field == "-")
        return true;
    bytes.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '%') {
            if (i + 2 >= field.size())
                return false;
            const int high = HexDigitValue(field[i + 1]);
            const int low = HexDigitValue(field[i + 2]);
            if (high < 0 || low < 0)
                return false;
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (NeedsEscape(static_cast<unsigned char>(c))) {
            return false;
        } else {
            bytes += c;
        }
    }
    return true;
}

bool DecodeRecordNumber(std::string_view field, std::uint64_t& number)
{
    if (field.empty() || field.size() > 18)
        return false;
    number = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

void SplitRecord(std::string_view line, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t blank = line.find(' ', start);
        if (blank == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return;
        }
        fields.push_back(line.substr(start, blank - start));
        start = blank + 1;
    }
}

std::vector<std::string_view> SplitRecordLines(std::string_view text, bool& truncated)
{
    std::vector<std::string_view> lines;
    truncated = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            truncated = true;
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// --- Finding and claiming ---

namespace {

struct TFoundFile {
    std::string Path;
    std::int64_t Seconds;
    long Nanoseconds;
};

bool Matches(std::string_view name, std::string_view prefix, std::string_view suffix)
{
    return name.size() > prefix.size() + suffix.size() && name.substr(0, prefix.size()) == prefix &&
           name.substr(name.size() - suffix.size()) == suffix;
}

template <typename TVisit>
void ForEachName(const std::string& dir, TVisit visit)
{
    DIR* handle = ::opendir(dir.c_str());
    if (!handle)
        return;
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(handle, ::closedir);
    while (const dirent* entry = ::readdir(handle))
        visit(std::string_view(entry->d_name));
}

} // namespace

std::vector<std::string> FindRecordFiles(const std::string& dir, std::string_view prefix, std::string_view suffix)
{
    std::vector<TFoundFile> found;
    const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    ForEachName(dir, [&](std::string_view name) {
        if (!Matches(name, prefix, suffix))
            return;
        TFoundFile file{base + std::string(name), 0, 0};
        struct stat info{};
        if (::stat(file.Path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return;
        file.Seconds = info.st_mtim.tv_sec;
        file.Nanoseconds = info.st_mtim.tv_nsec;
        found.push_back(std::move(file));
    });
    std::sort(found.begin(), found.end(), [](const TFoundFile& a, const TFoundFile& b) {
        if (a.Seconds != b.Seconds)
            return a.Seconds > b.Seconds;
        if (a.Nanoseconds != b.Nanoseconds)
            return a.Nanoseconds > b.Nanoseconds;
        return a.Path < b.Path;
    });
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (TFoundFile& file : found)
        paths.push_back(std::move(file.Path));
    return paths;
}

void RemoveOrphanRecordFiles(const std::string& dir, std::string_view prefix, std::string_view suffix)
{
    const std::string temporary = std::string(suffix) + ".new";
    const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    std::vector<std::string> orphans;
    ForEachName(dir, [&](std::string_view name) {
        if (!Matches(name, prefix, temporary))
            return;
        const std::string path = base + std::string(name);
        const std::string main = path.substr(0, path.size() - 4);
        struct stat info{};
        if (::stat(main.c_str(), &info) != 0 && errno == ENOENT)
            orphans.push_back(path);
    });
    for (const std::string& path : orphans) {
        if (std::optional<TRecordFileClaim> claim = TRecordFileClaim::Take(path)) {
            try {
                claim->Remove();
            } catch (const ERecordFileError&) {
                // Left for a later start; it harms nobody.
            }
        }
    }
}

std::optional<TRecordFileClaim> TRecordFileClaim::Take(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    struct stat info{};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !SameFile(fd, path)) {
        ::close(fd);
        return std::nullopt;
    }
    // A dead writer's half-made replacement is of no use to anyone.
    ::unlink((path + ".new").c_str());
    return TRecordFileClaim(path, fd);
}

TRecordFileClaim::TRecordFileClaim(TRecordFileClaim&& other) noexcept
    : FPath(std::move(other.FPath)), FFd(other.FFd)
{
    other.FFd = -1;
}

TRecordFileClaim& TRecordFileClaim::operator=(TRecordFileClaim&& other) noexcept
{
    if (this != &other) {
        CloseFile(FFd);
        FPath = std::move(other.FPath);
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

TRecordFileClaim::~TRecordFileClaim()
{
    CloseFile(FFd);
}

std::string TRecordFileClaim::ReadAll() const
{
    if (FFd < 0)
        Fail(TFileStep::Read, FPath, EBADF);
    return ReadWhole(FFd, FPath);
}

void TRecordFileClaim::Remove()
{
    if (FFd < 0)
        return;
    // Unlinked while still locked, so nobody takes the name's old file meanwhile.
    if (::unlink(FPath.c_str()) != 0 && errno != ENOENT)
        Fail(TFileStep::Delete, FPath, errno);
    CloseFile(FFd);
}

int TRecordFileClaim::Release() noexcept
{
    const int fd = FFd;
    FFd = -1;
    return fd;
}

// --- The writer ---

class TRecordFile::TWriter final : public TRecordFileWriter {
public:
    TWriter(std::string path, std::string header) : FPath(std::move(path)), FHeader(std::move(header)) {}
    ~TWriter() { CloseFile(FFd); }

    void Append(std::string_view line) override
    {
        if (FFd < 0 || FStale)
            FReplacePending = true;
        FBuffer.append(line);
        FBuffer += '\n';
    }

    void Replace(std::string text) override
    {
        FBuffer = std::move(text);
        FReplacePending = true;
    }

    std::string ReadBack() override
    {
        Flush();
        return FFd < 0 ? std::string() : ReadWhole(FFd, FPath);
    }

    void Remove() override
    {
        FBuffer.clear();
        FReplacePending = false;
        FStale = false;
        if (FFd < 0)
            return;
        if (::unlink(FPath.c_str()) != 0 && errno != ENOENT)
            Fail(TFileStep::Delete, FPath, errno);
        CloseFile(FFd);
        FSize = FBaseSize = 0;
        FDirty = false;
    }

    std::uint64_t Size() const override { return FSize + (FReplacePending ? 0 : FBuffer.size()); }
    std::uint64_t BaseSize() const override { return FBaseSize; }

    void Adopt(std::string path, int fd)
    {
        FBuffer.clear();
        FReplacePending = false;
        CloseFile(FFd);
        FPath = std::move(path);
        FFd = fd;
        FStale = true;
        struct stat info{};
        FSize = FBaseSize = ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }

    // Writes what the jobs of a batch produced.
    void Flush()
    {
        if (FReplacePending) {
            WriteReplacement();
        } else if (!FBuffer.empty() && FFd >= 0) {
            WriteAll(FFd, FBuffer, FPath);
            FSize += FBuffer.size();
            FDirty = true;
        }
        FBuffer.clear();
    }

    // Syncs when it is due; returns when the next one would be.
    std::optional<TClock::time_point> SyncIfDue(bool force)
    {
        if (!FDirty || FFd < 0)
            return std::nullopt;
        const TClock::time_point now = TClock::now();
        if (!force && now - FLastSync < SyncInterval)
            return FLastSync + SyncInterval;
        if (::fdatasync(FFd) != 0)
            Fail(TFileStep::Write, FPath, errno);
        if (FDirectoryDirty) {
            const int dir = ::open(DirectoryOf(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
            FDirectoryDirty = false;
        }
        FLastSync = now;
        FDirty = false;
        return std::nullopt;
    }

    void Close() { CloseFile(FFd); }

private:
    void WriteReplacement()
    {
        const std::string temporary = FPath + ".new";
        int fd = CreateLocked(temporary);
        try {
            std::string head = FHeader;
            head += '\n';
            WriteAll(fd, head, temporary);
            WriteAll(fd, FBuffer, temporary);
            // On disk before it takes the name: after a power cut the name
            // must hold the old content or the new, never an empty file.
            if (::fdatasync(fd) != 0)
                Fail(TFileStep::Sync, temporary, errno);
            if (::rename(temporary.c_str(), FPath.c_str()) != 0)
                Fail(TFileStep::Replace, FPath, errno);
        } catch (...) {
            ::unlink(temporary.c_str());
            CloseFile(fd);
            throw;
        }
        // The old file's lock goes with it; the name now holds the new one,
        // which was locked before it took the name.
        CloseFile(FFd);
        FFd = fd;
        FSize = FBaseSize = FHeader.size() + 1 + FBuffer.size();
        FReplacePending = false;
        FStale = false;
        FDirty = true;
        FDirectoryDirty = true;
    }

    std::string FPath;
    const std::string FHeader;
    std::string FBuffer;
    int FFd = -1;
    bool FReplacePending = false;
    bool FStale = false;
    bool FDirty = false;
    bool FDirectoryDirty = false;
    std::uint64_t FSize = 0;
    std::uint64_t FBaseSize = 0;
    TClock::time_point FLastSync{};
};

TRecordFile::TRecordFile(std::string path, std::string header)
    : FPath(path),
      FWriter(std::make_unique<TWriter>(std::move(path), std::move(header))),
      FContext(std::make_unique<QObject>())
{
    FThread = std::thread([this] { Run(); });
}

TRecordFile::~TRecordFile()
{
    {
        const std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    FThread.join();
}

std::uint64_t TRecordFile::Post(TJob job)
{
    return Queue(std::move(job), false);
}

std::uint64_t TRecordFile::Queue(TJob job, bool evenAfterFailure)
{
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(FMutex);
        ticket = ++FPosted;
        FQueue.push_back({ticket, std::move(job), evenAfterFailure});
    }
    FWake.notify_one();
    return ticket;
}

bool TRecordFile::IsDone(std::uint64_t ticket) const
{
    const std::lock_guard lock(FMutex);
    return FDone >= ticket;
}

void TRecordFile::WaitDone(std::uint64_t ticket)
{
    {
        std::unique_lock lock(FMutex);
        if (FDoneChanged.wait_for(lock, std::chrono::milliseconds(12), [&] { return FDone >= ticket; }))
            return;
    }
    if (!QCoreApplication::instance()) {
        std::unique_lock lock(FMutex);
        FDoneChanged.wait(lock, [&] { return FDone >= ticket; });
        return;
    }
    // A long queue ahead: the window keeps painting meanwhile.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (IsDone(ticket))
            loop.quit();
    });
    poll.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

std::uint64_t TRecordFile::Adopt(TRecordFileClaim claim)
{
    FPath = claim.Path();
    std::string path = claim.Path();
    const int fd = claim.Release();
    return Queue([this, path = std::move(path), fd](TRecordFileWriter&) mutable { FWriter->Adopt(std::move(path), fd); },
                 true);
}

std::uint64_t TRecordFile::Sync()
{
    return Post([this](TRecordFileWriter&) {
        FWriter->Flush();
        FWriter->SyncIfDue(true);
    });
}

std::uint64_t TRecordFile::Remove()
{
    return Queue([](TRecordFileWriter& writer) { writer.Remove(); }, true);
}

void TRecordFile::ReportError(const std::string& message)
{
    QMetaObject::invokeMethod(
        FContext.get(),
        [this, message] {
            if (OnError)
                OnError(*this, message);
        },
        Qt::QueuedConnection);
}

void TRecordFile::Run() noexcept
{
    bool failed = false;
    std::unique_lock lock(FMutex);
    while (true) {
        if (FQueue.empty()) {
            if (FStop)
                break;
            std::optional<TClock::time_point> due;
            if (!failed) {
                lock.unlock();
                try {
                    due = FWriter->SyncIfDue(false);
                } catch (const ERecordFileError& e) {
                    failed = true;
                    ReportError(e.Message());
                }
                lock.lock();
            }
            if (!FQueue.empty() || FStop)
                continue;
            if (due)
                FWake.wait_until(lock, *due);
            else
                FWake.wait(lock);
            continue;
        }
        std::deque<TQueued> batch;
        batch.swap(FQueue);
        const std::uint64_t last = batch.back().Ticket;
        lock.unlock();
        for (TQueued& queued : batch) {
            if (failed && !queued.EvenAfterFailure)
                continue;
            try {
                queued.Job(*FWriter);
            } catch (const std::exception& e) {
                if (!failed) {
                    failed = true;
                    const auto* own = dynamic_cast<const Exception*>(&e);
                    ReportError(own ? own->Message() : std::string(e.what()));
                }
            }
        }
        if (!failed) {
            try {
                FWriter->Flush();
            } catch (const std::exception& e) {
                failed = true;
                const auto* own = dynamic_cast<const Exception*>(&e);
                ReportError(own ? own->Message() : std::string(e.what()));
            }
        }
        batch.clear();
        lock.lock();
        FDone = last;
        FDoneChanged.notify_all();
    }
    lock.unlock();
    if (!failed) {
        try {
            FWriter->Flush();
            FWriter->SyncIfDue(true);
        } catch (const ERecordFileError&) {
            // Going away: there is nobody left to tell.
        }
    }
    FWriter->Close();
}
