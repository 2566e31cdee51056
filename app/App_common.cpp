#include "App_common.h"

#include "Zel_dialogs.h"
#include "Zel_files.h"
#include "Zel_inifiles.h"
#include "Zel_locations.h"
#include "Zel_translations.h"

const char* const AppTitle = "Dorvane";
const char* const AppId = "org.dorvane.Dorvane";
const char* const TextDomain = "dorvane";

namespace {

// With its trailing "/"; empty when the system cannot tell where we run from.
const std::string& ExecutableDirectory()
{
    static const std::string dir = [] {
        const std::string exe = ExecutableFileName();
        const std::size_t slash = exe.rfind('/');
        return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
    }();
    return dir;
}

std::string& SettingsPathOverride()
{
    static std::string path;
    return path;
}

// <prefix>/ of an installed copy's <prefix>/bin/; empty when there is none.
std::string InstalledPrefix(const std::string& exeDir)
{
    std::string prefix = exeDir;
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.pop_back();
    const std::size_t slash = prefix.rfind('/');
    return slash == std::string::npos ? std::string() : prefix.substr(0, slash + 1);
}

} // namespace

std::string AboutText()
{
    // TRANSLATORS: the about box; %1 is the program's name, %2 its version number.
    return FormatText(Tr("%1\nVersion %2\n\nOpens many documents one after another with one program."),
                      {AppTitle, DORVANE_VERSION});
}

std::string HelpPathFor(const std::string& exeDir)
{
    const std::string beside = exeDir + "Help/index.html";
    if (IsExistingFile(beside))
        return beside;
    if (const std::string prefix = InstalledPrefix(exeDir); !prefix.empty()) {
        const std::string installed = prefix + "share/dorvane/Help/index.html";
        if (IsExistingFile(installed))
            return installed;
    }
    return beside;
}

std::string LocaleDirectoryFor(const std::string& exeDir)
{
    const std::string beside = exeDir + "locale";
    if (IsExistingDirectory(beside))
        return beside;
    const std::string prefix = InstalledPrefix(exeDir);
    return prefix.empty() ? beside : prefix + "share/locale";
}

std::string LocaleDirectory()
{
    return LocaleDirectoryFor(ExecutableDirectory());
}

std::string SettingsPathFor(const std::string& exeDir)
{
    if (!exeDir.empty() && IsWritableDirectory(exeDir))
        return exeDir + "Settings.ini";
    const std::string config = ConfigHomeDirectory();
    if (config.empty())
        return exeDir + "Settings.ini"; // nowhere better: a save will report the failure
    return config + "/dorvane/Settings.ini";
}

std::string HelpPath()
{
    static const std::string path = HelpPathFor(ExecutableDirectory());
    return path;
}

std::string SettingsPath()
{
    if (!SettingsPathOverride().empty())
        return SettingsPathOverride();
    static const std::string path = SettingsPathFor(ExecutableDirectory());
    return path;
}

void SetSettingsPathForTesting(const std::string& path)
{
    SettingsPathOverride() = path;
}

void TSettingsHandler::LoadSettings(TMemIniFile&, const std::string&) {}

void TSettingsHandler::SaveSettings(TMemIniFile&, const std::string&) {}

void TCommands::RaiseUnavailable()
{
    throw EAppError(Tr("The feature is unavailable."));
}

void TSettingsHandlers::Add(const std::string& name, TSettingsHandler* handler)
{
    bool taken = handler == nullptr;
    for (const auto& item : FItems)
        taken = taken || SameIniName(item.first, name);
    if (taken)
        throw EAppError(Tr("The program cannot add the setting handler."));
    FItems.emplace_back(name, handler);
}

void TSettingsHandlers::Remove(TSettingsHandler* handler)
{
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
        if (it->second == handler) {
            FItems.erase(it);
            return;
        }
    CheckListIndex(-1, static_cast<long long>(FItems.size()));
}

void TSettingsHandlers::Clear()
{
    FItems.clear();
}

void TSettingsHandlers::Load()
{
    TMemIniFile ini(SettingsPath());
    // By index, and with copies, in case a handler changes the registry.
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        const auto [name, handler] = FItems[i];
        handler->LoadSettings(ini, name);
    }
}

void TSettingsHandlers::Save()
{
    const std::string path = SettingsPath();
    TMemIniFile ini(path);
    // Sections that no handler writes any more disappear from the file.
    ini.Clear();
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        const auto [name, handler] = FItems[i];
        handler->SaveSettings(ini, name);
    }
    // The configuration directory may not exist yet; a failure here surfaces
    // as the write error below.
    if (const std::string dir = ExtractFileDir(path); !dir.empty())
        ForceDirectories(dir);
    ini.UpdateFile();
}

void ShowException(const std::exception& e)
{
    if (IsAbort(e))
        return;
    const auto* own = dynamic_cast<const Exception*>(&e);
    std::string text = own ? own->Message() : std::string(e.what());
    // Every message of ours ends in "."; an empty one stays empty, and one
    // translated into Chinese or Japanese ends in that script's own stop.
    const bool ownStop = text.ends_with("\u3002") || text.ends_with("\uFF01") || text.ends_with("\uFF1F");
    if (!text.empty() && !ownStop && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    ShowErrorBox(text, AppTitle);
}

void HandleCurrentException() noexcept
{
    if (!std::current_exception())
        return;
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(Exception());
        }
    } catch (...) {
        // The error box itself failed (out of memory): there is nobody left to tell.
    }
}
