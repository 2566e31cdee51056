#include "Zel_shellfiles.h"

#include "Zel_files.h"
#include "Zel_glib.h"

#include <string_view>

namespace {

// The description of a content type, or an error when there is none.
std::string DescribeContentType(const gchar* contentType)
{
    const TGCharPointer description(g_content_type_get_description(contentType));
    if (!description || *description.get() == '\0')
        throw EShellFileError("The program could not get the file type.");
    return std::string(description.get());
}

// The key of an extension: ASCII letters in upper case, other bytes kept,
// so that UTF-8 sequences stay whole.
void ToUpperAscii(std::string& text) noexcept
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
}

} // namespace

TFileTypeCache::TEntry::TEntry() : FTypeName(DescribeContentType("inode/directory")) {}

TFileTypeCache::TEntry::TEntry(const std::string& fileName)
{
    const TGCharPointer contentType(g_content_type_guess(fileName.c_str(), nullptr, 0, nullptr));
    if (!contentType)
        throw EShellFileError("The program could not get the file type.");
    FTypeName = DescribeContentType(contentType.get());
}

const std::string& TFileTypeCache::GetTypeName(const std::string& path)
{
    bool isDirectory;
    try {
        isDirectory = FindFile(path).Attributes() & FileAttributeDirectory;
    } catch (const EFileError&) {
        throw EShellFileError("The program cannot determine the file type.");
    }
    return GetTypeNameFor(path, isDirectory);
}

const std::string& TFileTypeCache::GetFileTypeName(const std::string& path)
{
    // Only the extension of the expanded path matters; most paths come
    // expanded already and need no copy.
    std::string key = IsExpandedPath(path) ? ExtractFileExt(path) : ExtractFileExt(ExpandFileName(path));
    ToUpperAscii(key);
    auto found = FFileTypes.find(key);
    if (found != FFileTypes.end())
        return found->second.TypeName();
    // Asked with a made-up name of the same extension in lower case, so the
    // answer depends on the key alone and not on which file came first
    // (Makefile and README share the empty extension).
    std::string name = "x" + key;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    TEntry entry(name);
    return FFileTypes.emplace(std::move(key), std::move(entry)).first->second.TypeName();
}

const std::string& TFileTypeCache::GetDirectoryTypeName()
{
    if (!FDirectoryEntry)
        FDirectoryEntry = std::make_unique<TEntry>();
    return FDirectoryEntry->TypeName();
}

void TFileTypeCache::Clear()
{
    FDirectoryEntry.reset();
    FFileTypes.clear();
}

const std::string& TFileTypeCache::GetTypeNameFor(const std::string& path, bool isDirectory)
{
    return isDirectory ? GetDirectoryTypeName() : GetFileTypeName(path);
}

TFileTypeCache& SharedFileTypeCache()
{
    static TFileTypeCache cache;
    return cache;
}
