#include "Zel_files.h"

#include "Zel_strings.h"
#include "Zel_translations.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const LongPathError = TrNoop("The program could not get the long path of the file.");
const char* const FindFileError = TrNoop("The program could not find the file.");

constexpr unsigned StatMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_ATIME
    | STATX_MTIME | STATX_SIZE | STATX_BTIME;

// Closes a descriptor of ours when it goes out of scope.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd = -1) noexcept : FHandle(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() { Reset(); }
    void Reset(int fd = -1) noexcept
    {
        if (FHandle >= 0)
            ::close(FHandle);
        FHandle = fd;
    }

private:
    int FHandle;
};

// A path of PATH_MAX bytes or more is refused by the kernel as a whole, so
// it is opened in pieces, each shorter than PATH_MAX and relative to the
// directory before it. Only runs after the single statx failed.
bool StatLongPath(std::string_view path, struct statx& st)
{
    TFileDescriptor dir;
    int dirFd = AT_FDCWD;
    std::string piece;
    while (path.size() >= PATH_MAX) {
        const std::size_t cut = path.rfind('/', PATH_MAX - 1);
        if (cut == std::string_view::npos || cut == 0) {
            errno = ENAMETOOLONG; // one component alone is too long
            return false;
        }
        piece.assign(path.substr(0, cut));
        const int fd = ::openat(dirFd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        dir.Reset(fd);
        dirFd = fd;
        path.remove_prefix(cut + 1);
        while (!path.empty() && path.front() == '/')
            path.remove_prefix(1);
    }
    piece.assign(path);
    // An empty rest (the path ended in "/") is the directory just opened.
    const int flags = AT_NO_AUTOMOUNT | (piece.empty() ? AT_EMPTY_PATH : 0);
    return ::statx(dirFd, piece.c_str(), flags, StatMask, &st) == 0;
}

// One look at the disk, following links as stat() does.
bool StatPath(const std::string& path, struct statx& st)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false; // no file has such a name
    if (::statx(AT_FDCWD, path.c_str(), AT_NO_AUTOMOUNT, StatMask, &st) == 0)
        return true;
    return errno == ENAMETOOLONG && StatLongPath(path, st);
}

// The process's identity never changes after start-up, so it is read once
// instead of once a file.
struct TCredentials {
    uid_t Uid;
    gid_t Gid;
    std::vector<gid_t> Groups;
};

const TCredentials& Credentials()
{
    static const TCredentials credentials = [] {
        TCredentials c{::geteuid(), ::getegid(), {}};
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            c.Groups.resize(static_cast<std::size_t>(count));
            const int got = ::getgroups(count, c.Groups.data());
            c.Groups.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        return c;
    }();
    return credentials;
}

// What access(W_OK) would answer for the usual permission bits, without a
// second system call. Root may write anything that is not immutable.
bool IsWritableByUser(const struct statx& st)
{
    if ((st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) && (st.stx_attributes & STATX_ATTR_IMMUTABLE))
        return false;
    const TCredentials& c = Credentials();
    if (c.Uid == 0)
        return true;
    if (st.stx_uid == c.Uid)
        return st.stx_mode & S_IWUSR;
    bool inGroup = st.stx_gid == c.Gid;
    for (gid_t g : c.Groups)
        inGroup = inGroup || g == st.stx_gid;
    return st.stx_mode & (inGroup ? S_IWGRP : S_IWOTH);
}

std::uint64_t ToFileTime(const struct statx_timestamp& t) noexcept
{
    constexpr std::int64_t EpochDelta = 11644473600; // seconds from 1601 to 1970
    constexpr std::int64_t TicksPerSecond = 10000000;
    constexpr std::int64_t MaxSeconds = static_cast<std::int64_t>(UINT64_MAX / TicksPerSecond) - EpochDelta - 1;
    if (t.tv_sec < -EpochDelta)
        return 0; // before 1601: unknown
    if (t.tv_sec > MaxSeconds)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(t.tv_sec + EpochDelta) * TicksPerSecond + t.tv_nsec / 100;
}

// The last component, trailing "/" ignored; the root is "/".
std::string_view LastComponent(std::string_view path) noexcept
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1)
        return path;
    return path.substr(slash + 1);
}

TFileRecord MakeRecord(const struct statx& st, std::string_view path)
{
    TFileRecord record;
    const bool directory = S_ISDIR(st.stx_mode);
    std::uint32_t attributes = 0;
    if (directory)
        attributes |= FileAttributeDirectory;
    if (!IsWritableByUser(st))
        attributes |= FileAttributeReadOnly;
    const std::string_view name = LastComponent(path);
    if (!name.empty() && name.front() == '.')
        attributes |= FileAttributeHidden;
    record.FileAttributes = attributes != 0 ? attributes : FileAttributeNormal;
    if (st.stx_mask & STATX_BTIME)
        record.FileCreationTime = ToFileTime(st.stx_btime);
    record.FileLastAccessTime = ToFileTime(st.stx_atime);
    record.FileLastWriteTime = ToFileTime(st.stx_mtime);
    if (!directory) {
        record.FileSizeHigh = static_cast<std::uint32_t>(st.stx_size >> 32);
        record.FileSizeLow = static_cast<std::uint32_t>(st.stx_size);
    }
    record.FileName.assign(name);
    return record;
}

// Appends path to result, which is empty or an expanded absolute path,
// resolving "." and ".." and dropping empty components.
void AppendNormalised(std::string& result, std::string_view path)
{
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            const std::size_t slash = result.rfind('/');
            result.resize(slash == 0 || slash == std::string::npos ? 1 : slash);
            continue;
        }
        if (result.back() != '/')
            result += '/';
        result += component;
    }
}

// The expanded form of an existing path, with its status.
std::string ExpandExisting(std::string_view path, struct statx& st)
{
    if (HasWildcards(path))
        throw EFileError(Tr(LongPathError));
    std::string expanded = ExpandFileName(path);
    if (!StatPath(expanded, st))
        throw EFileError(Tr(LongPathError));
    return expanded;
}

} // namespace

bool IsAbsolutePath(std::string_view path) noexcept
{
    return !path.empty() && path.front() == '/';
}

void CheckAbsolutePath(std::string_view path)
{
    if (!IsAbsolutePath(path))
        throw EPathError(Tr("The path is not in absolute form."));
}

bool HasWildcards(std::string_view path) noexcept
{
    for (char c : path) {
        if (c == '\0')
            return false;
        if (c == '*' || c == '?')
            return true;
    }
    return false;
}

std::string ExpandFileName(std::string_view path)
{
    if (path.empty())
        return {};
    std::string result;
    if (IsAbsolutePath(path)) {
        result.reserve(path.size());
        result = '/';
    } else {
        result = GetCurrentDir();
        if (result.empty())
            return std::string(path); // nothing to expand it against
        result.reserve(result.size() + 1 + path.size());
    }
    AppendNormalised(result, path);
    return result;
}

bool IsExpandedPath(std::string_view path) noexcept
{
    if (!IsAbsolutePath(path))
        return false;
    if (path.size() == 1)
        return true;
    std::size_t pos = 1;
    while (true) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(pos, end - pos);
        if (component.empty() || component == "." || component == "..")
            return false;
        if (end == path.size())
            return true;
        pos = end + 1;
    }
}

std::string GetLongPath(std::string_view path)
{
    struct statx st;
    return ExpandExisting(path, st);
}

TFileRecord FindFile(const std::string& path)
{
    struct statx st;
    if (!StatPath(path, st))
        throw EFileError(Tr(FindFileError));
    return MakeRecord(st, path);
}

TFileRecord GetLongPathRecord(std::string_view path, std::string& longPath)
{
    struct statx st;
    std::string expanded = ExpandExisting(path, st);
    TFileRecord record = MakeRecord(st, expanded);
    longPath = std::move(expanded);
    return record;
}

std::string ExtractFileDir(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string ExtractFileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

namespace {

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lower) noexcept
{
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> FileUrlToPath(std::string_view url)
{
    constexpr std::string_view scheme = "file:";
    if (url.size() < scheme.size() || !EqualsIgnoringAsciiCase(url.substr(0, scheme.size()), scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        // Host names ignore case; any host but this machine's is not a local file.
        if (!host.empty() && !EqualsIgnoringAsciiCase(host, "localhost"))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/') || rest.find_first_of("?#") != std::string_view::npos)
        return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? HexDigitValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(rest[i + 2]) : -1;
        if (low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

std::string GetCurrentDir()
{
    const std::unique_ptr<char, decltype(&std::free)> dir(::getcwd(nullptr, 0), &std::free);
    return dir ? std::string(dir.get()) : std::string();
}

bool SetCurrentDir(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return false;
    return ::chdir(path.c_str()) == 0;
}
