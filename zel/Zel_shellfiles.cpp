#include "Zel_shellfiles.h"

#include "Zel_files.h"
#include "Zel_glib.h"
#include "Zel_translations.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QThread>

#include <string_view>

namespace {

// The description of a content type, or an error when there is none.
std::string DescribeContentType(const gchar* contentType)
{
    const TGCharPointer description(g_content_type_get_description(contentType));
    if (!description || *description.get() == '\0')
        throw EShellFileError(Tr("The program could not get the file type."));
    return std::string(description.get());
}

// The icon names of a content type, as file managers look them up. Symbolic
// variants are left out: they are one-colour glyphs for toolbars, not the
// type's picture.
std::vector<std::string> DescribeContentTypeIcon(const gchar* contentType)
{
    std::vector<std::string> names;
    const TGObjectPointer<GIcon> icon(g_content_type_get_icon(contentType));
    if (!icon || !G_IS_THEMED_ICON(icon.get()))
        return names;
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon.get())); name && *name; ++name)
        if (!g_str_has_suffix(*name, "-symbolic"))
            names.emplace_back(*name);
    return names;
}

// Theme icons need the GUI application's thread.
bool CanLoadThemeIcons()
{
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

// The theme's icon of that name drawn now at the list's sizes, or a null icon
// when the theme does not have it.
QIcon ThemeIcon(const std::string& name)
{
    const QString themeName = QString::fromStdString(name);
    if (!QIcon::hasThemeIcon(themeName))
        return QIcon();
    const QIcon themed = QIcon::fromTheme(themeName);
    QIcon icon;
    for (const int size : {16, 32}) {
        const QPixmap pixmap = themed.pixmap(QSize(size, size));
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
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

TFileTypeCache::TEntry::TEntry()
    : FTypeName(DescribeContentType("inode/directory")), FIconNames(DescribeContentTypeIcon("inode/directory"))
{
}

TFileTypeCache::TEntry::TEntry(const std::string& fileName)
{
    const TGCharPointer contentType(g_content_type_guess(fileName.c_str(), nullptr, 0, nullptr));
    if (!contentType)
        throw EShellFileError(Tr("The program could not get the file type."));
    FTypeName = DescribeContentType(contentType.get());
    FIconNames = DescribeContentTypeIcon(contentType.get());
}

const std::string& TFileTypeCache::GetTypeName(const std::string& path)
{
    bool isDirectory;
    try {
        isDirectory = FindFile(path).Attributes() & FileAttributeDirectory;
    } catch (const EFileError&) {
        throw EShellFileError(Tr("The program cannot determine the file type."));
    }
    return GetTypeNameFor(path, isDirectory);
}

const std::string& TFileTypeCache::GetFileTypeName(const std::string& path)
{
    return FileEntry(path).TypeName();
}

const TFileTypeCache::TEntry& TFileTypeCache::FileEntry(const std::string& path)
{
    // Only the extension of the expanded path matters; most paths come
    // expanded already and need no copy.
    std::string key = IsExpandedPath(path) ? ExtractFileExt(path) : ExtractFileExt(ExpandFileName(path));
    ToUpperAscii(key);
    auto found = FFileTypes.find(key);
    if (found != FFileTypes.end())
        return found->second;
    // Asked with a made-up name of the same extension in lower case, so the
    // answer depends on the key alone and not on which file came first
    // (Makefile and README share the empty extension).
    std::string name = "x" + key;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    TEntry entry(name);
    AssignImage(entry);
    return FFileTypes.emplace(std::move(key), std::move(entry)).first->second;
}

const std::string& TFileTypeCache::GetDirectoryTypeName()
{
    return DirectoryEntry().TypeName();
}

const TFileTypeCache::TEntry& TFileTypeCache::DirectoryEntry()
{
    if (!FDirectoryEntry) {
        auto entry = std::make_unique<TEntry>();
        AssignImage(*entry);
        FDirectoryEntry = std::move(entry);
    }
    return *FDirectoryEntry;
}

void TFileTypeCache::AssignImage(TEntry& entry)
{
    if (!CanLoadThemeIcons())
        return;
    // The most specific name the theme has wins; types that it draws alike
    // (text formats as one generic page) share one picture. Each name is
    // looked up once, found or not.
    for (const std::string& name : entry.FIconNames) {
        auto known = FImageIndexes.find(name);
        if (known == FImageIndexes.end()) {
            QIcon icon = ThemeIcon(name);
            int index = -1;
            if (!icon.isNull()) {
                index = static_cast<int>(FImages.size());
                FImages.push_back(std::move(icon));
            }
            known = FImageIndexes.emplace(name, index).first;
        }
        if (known->second >= 0) {
            entry.FImageIndex = known->second;
            return;
        }
    }
}

void TFileTypeCache::Clear()
{
    FDirectoryEntry.reset();
    FFileTypes.clear();
    FImages.clear();
    FImageIndexes.clear();
}

const std::string& TFileTypeCache::GetTypeNameFor(const std::string& path, bool isDirectory)
{
    return GetEntryFor(path, isDirectory).TypeName();
}

const TFileTypeCache::TEntry& TFileTypeCache::GetEntryFor(const std::string& path, bool isDirectory)
{
    return isDirectory ? DirectoryEntry() : FileEntry(path);
}

TFileTypeCache& SharedFileTypeCache()
{
    static TFileTypeCache cache;
    return cache;
}
