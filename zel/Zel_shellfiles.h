#pragma once
// Type names of files and directories as the desktop shows them, asked of
// the desktop's content-type database once per extension and once for
// directories.

#include "Zel_autopointers.h"
#include "Zel_base.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>

class EShellFileError : public Exception {
public:
    using Exception::Exception;
};

// Main thread only. Every returned reference stays valid, and the same
// object, until Clear or destruction.
class TFileTypeCache {
public:
    class TEntry {
    public:
        // The type name of directories.
        TEntry();
        // The type name of an ordinary file with this name; only the name is
        // looked at, the file need not exist.
        explicit TEntry(const std::string& fileName);

        const std::string& TypeName() const noexcept { return FTypeName; }

    private:
        std::string FTypeName;
    };

    TFileTypeCache() = default;
    TFileTypeCache(const TFileTypeCache&) = delete;
    TFileTypeCache& operator=(const TFileTypeCache&) = delete;
    virtual ~TFileTypeCache() = default;

    // The type name of an existing file or directory. Raises EShellFileError
    // "The program cannot determine the file type." when path leads nowhere.
    virtual const std::string& GetTypeName(const std::string& path);
    // The type name by the extension of path, upper and lower case alike; the
    // file need not exist. Raises EShellFileError "The program could not get
    // the file type." when the desktop has no answer, and caches nothing then.
    virtual const std::string& GetFileTypeName(const std::string& path);
    virtual const std::string& GetDirectoryTypeName();
    virtual void Clear();

    // GetTypeName for a caller that has already looked at the disk.
    const std::string& GetTypeNameFor(const std::string& path, bool isDirectory);

    // How many extensions have been asked about since the last Clear.
    std::size_t FileTypeCount() const noexcept { return FFileTypes.size(); }

private:
    // Keyed by the upper-case extension; a node-based map keeps every name
    // where it is while others are added.
    std::map<std::string, TEntry, std::less<>> FFileTypes;
    TAutoPointer<TEntry> FDirectoryEntry;
};

// The cache the whole program shares, made on first use and kept until the
// program ends.
TFileTypeCache& SharedFileTypeCache();
