#pragma once
// Type names of files and directories as the desktop shows them, asked of
// the desktop's content-type database once per extension and once for
// directories, with each type's picture from the desktop's icon theme.

#include "Zel_autopointers.h"
#include "Zel_base.h"

#include <QIcon>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

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
        // The names the icon theme may know the type's picture by, the most
        // specific first.
        const std::vector<std::string>& IconNames() const noexcept { return FIconNames; }
        // The type's picture among the cache's Images(), or -1 when the icon
        // theme has none for it.
        int ImageIndex() const noexcept { return FImageIndex; }

    private:
        friend class TFileTypeCache;
        std::string FTypeName;
        std::vector<std::string> FIconNames;
        int FImageIndex = -1;
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
    // The same with the type's picture.
    const TEntry& GetEntryFor(const std::string& path, bool isDirectory);

    // The types' pictures from the icon theme, by TEntry::ImageIndex: read once
    // per picture when a type is first asked about (types that share a picture
    // share its index), so that drawing them never reads the theme's files.
    // Empty without a GUI application. Grows until Clear.
    const std::vector<QIcon>& Images() const noexcept { return FImages; }

    // How many extensions have been asked about since the last Clear.
    std::size_t FileTypeCount() const noexcept { return FFileTypes.size(); }

private:
    const TEntry& FileEntry(const std::string& path);
    const TEntry& DirectoryEntry();
    void AssignImage(TEntry& entry);

    // Keyed by the upper-case extension; a node-based map keeps every name
    // where it is while others are added.
    std::map<std::string, TEntry, std::less<>> FFileTypes;
    TAutoPointer<TEntry> FDirectoryEntry;
    std::vector<QIcon> FImages;
    std::map<std::string, int, std::less<>> FImageIndexes; // by icon name; -1 where the theme has none
};

// The cache the whole program shares, made on first use and kept until the
// program ends.
TFileTypeCache& SharedFileTypeCache();
