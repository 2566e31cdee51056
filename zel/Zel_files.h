#pragma once
// Paths and directory records on Linux.
//
// Paths are byte strings: any byte but NUL may occur in a name (newlines,
// invalid UTF-8). Absolute paths begin with "/". Expansion is lexical, so
// symbolic links are never resolved; a path's record is that of the file it
// leads to, through links.

#include "Zel_base.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class EFileError : public Exception {
public:
    using Exception::Exception;
};

class EPathError : public EFileError {
public:
    using EFileError::EFileError;
};

// Attribute bits of a TFileRecord.
constexpr std::uint32_t FileAttributeReadOnly = 0x01;  // the user may not write it
constexpr std::uint32_t FileAttributeHidden = 0x02;    // its name begins with "."
constexpr std::uint32_t FileAttributeDirectory = 0x10;
constexpr std::uint32_t FileAttributeNormal = 0x80;    // no other bit is set

// The directory record of one file. Times are 100-ns units since
// 1601-01-01 UTC, 0 when unknown (a creation time the file system does not
// keep, or a time before 1601).
struct TFileRecord {
    std::uint32_t FileAttributes = 0;
    std::uint64_t FileCreationTime = 0;
    std::uint64_t FileLastAccessTime = 0;
    std::uint64_t FileLastWriteTime = 0;
    std::uint32_t FileSizeHigh = 0; // a directory's size is 0
    std::uint32_t FileSizeLow = 0;
    std::string FileName;           // the last component of the path, "/" for the root

    std::uint64_t Size() const noexcept
    {
        return (static_cast<std::uint64_t>(FileSizeHigh) << 32) | FileSizeLow;
    }
    std::uint64_t LastWriteTime() const noexcept { return FileLastWriteTime; }
    std::uint32_t Attributes() const noexcept { return FileAttributes; }
};

// True when the path begins with "/"; the empty path is relative.
bool IsAbsolutePath(std::string_view path) noexcept;

// Raises EPathError "The path is not in absolute form." unless IsAbsolutePath.
void CheckAbsolutePath(std::string_view path);

// True when "*" or "?" occurs before the end or the first NUL.
bool HasWildcards(std::string_view path) noexcept;

// The absolute, lexically normalised form of path: relative to the current
// directory when not absolute, "." and empty components dropped, ".." takes
// away the component before it (at the root it stays at the root), no
// trailing "/" except for the root itself. The empty path stays empty.
std::string ExpandFileName(std::string_view path);

// True when path is absolute and already in the form ExpandFileName gives.
bool IsExpandedPath(std::string_view path) noexcept;

// The expanded path of an existing file or directory. Raises EFileError "The
// program could not get the long path of the file." when the path has
// wildcards (before touching the disk) or does not lead to anything,
// a dangling link included.
std::string GetLongPath(std::string_view path);

// The record of the file the path leads to (a relative path is taken from
// the current directory). Raises EFileError "The program could not find the
// file." when there is none.
TFileRecord FindFile(const std::string& path);

// GetLongPath followed by FindFile of its result, with a single look at the
// disk. Sets longPath and returns the record; raises as GetLongPath does.
TFileRecord GetLongPathRecord(std::string_view path, std::string& longPath);

// Everything before the last "/"; the root keeps its "/" ("/a.txt" gives
// "/"), and a path without "/" gives "".
std::string ExtractFileDir(std::string_view path);

// Everything after the last "/".
std::string ExtractFileName(std::string_view path);

// The name's text from its last "." on, "" when the name has no ".".
std::string ExtractFileExt(std::string_view path);

// The local path a file URL names (RFC 8089): "file:///p", "file://localhost/p"
// and "file:/p" all give /p, percent-escapes decoded to bytes. Nothing for
// another host, a query or fragment, a malformed escape or an escaped NUL.
std::optional<std::string> FileUrlToPath(std::string_view url);

// The process's current directory, "" when it cannot be read (for instance
// when it was removed).
std::string GetCurrentDir();

// Makes path the current directory; false when that fails.
bool SetCurrentDir(const std::string& path);
