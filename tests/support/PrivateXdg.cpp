#include "PrivateXdg.h"

#include <gio/gio.h>

#include <filesystem>
#include <stdexcept>

namespace {

// The Exec key's quoting: the whole path in double quotes, with ", `, $ and
// \ escaped, and a literal % doubled; then the key file's own escaping
// doubles every backslash.
std::string ExecQuote(const std::string& path)
{
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += "\\\\";
        if (c == '%')
            quoted += '%';
        quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string DesktopEntry(const std::string& name, const std::string& exec, const std::string& types)
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + " %f\nMimeType=" + types
        + "\nNoDisplay=true\n";
}

} // namespace

TPrivateXdg::TPrivateXdg()
{
    const std::string data = FRoot.MakeDir("data");
    FRoot.MakeDir("data/applications");
    FRoot.MakeDir("data/mime");
    const std::string config = FRoot.MakeDir("config");
    const std::string systemData = FRoot.MakeDir("system-data");
    const std::string systemConfig = FRoot.MakeDir("system-config");

    const std::string singleType = "application/x-dorvane-single";
    const std::string brokenType = "application/x-dorvane-broken";
    const std::string windowType = "application/x-dorvane-window";
    const std::string socketType = "application/x-dorvane-socket";
    FRoot.MakeDir("bin");
    const std::string broken = FRoot.WriteFile("bin/broken", "#!/nonexistent/interpreter\nexit 0\n");
    std::filesystem::permissions(broken, std::filesystem::perms::owner_all);

    FRoot.WriteFile("data/applications/dorvane-recorder.desktop",
                    DesktopEntry("Recorder", ExecQuote(HelperPath("recorder")),
                                 std::string(RecordedType) + ";inode/directory;"));
    FRoot.WriteFile("data/applications/" + std::string(SingleAppId) + ".desktop",
                    DesktopEntry("Single", ExecQuote(HelperPath("singleapp")), singleType + ";"));
    // A shell that launches the single-instance application is not it.
    FRoot.WriteFile("data/applications/dorvane-launcher.desktop",
                    DesktopEntry("Launcher", "/bin/sh -c " + ExecQuote("exec " + HelperPath("singleapp")), ""));
    FRoot.WriteFile("data/applications/dorvane-broken.desktop",
                    DesktopEntry("Broken", ExecQuote(broken), brokenType + ";"));
    FRoot.WriteFile("data/applications/dorvane-windowed.desktop",
                    DesktopEntry("Windowed", ExecQuote(HelperPath("windowed")), windowType + ";"));
    FRoot.WriteFile("data/applications/dorvane-socketapp.desktop",
                    DesktopEntry("Socket", ExecQuote(HelperPath("socketapp")), socketType + ";"));
    FRoot.WriteFile("data/mime/globs2", "50:" + std::string(RecordedType) + ":*" + RecordedExtension + "\n50:"
                                            + singleType + ":*" + SingleExtension + "\n50:" + brokenType + ":*"
                                            + BrokenExtension + "\n50:" + windowType + ":*" + WindowExtension
                                            + "\n50:" + socketType + ":*" + SocketExtension
                                            + "\n");
    FRoot.WriteFile("config/mimeapps.list", "[Default Applications]\n" + std::string(RecordedType)
                                                + "=dorvane-recorder.desktop\ninode/directory=dorvane-recorder.desktop\n"
                                                + singleType + "=" + SingleAppId + ".desktop\n" + brokenType
                                                + "=dorvane-broken.desktop\n" + windowType
                                                + "=dorvane-windowed.desktop\n" + socketType
                                                + "=dorvane-socketapp.desktop\n");

    const std::pair<const char*, std::string> variables[] = {
        {"XDG_DATA_HOME", data},
        {"XDG_CONFIG_HOME", config},
        {"XDG_DATA_DIRS", systemData},
        {"XDG_CONFIG_DIRS", systemConfig},
        // A bus nobody listens on: GIO announces launches on the session bus.
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (FRoot / "no-bus")},
    };
    for (const auto& [name, value] : variables)
        FVariables.push_back(std::make_unique<TScopedEnvironment>(name, value));
    FVariables.push_back(std::make_unique<TScopedEnvironment>("XDG_CURRENT_DESKTOP", "", true));

    const gchar* const* systemDirs = g_get_system_data_dirs();
    if (g_get_user_config_dir() != config || g_get_user_data_dir() != data || !systemDirs || !systemDirs[0]
        || systemDirs[0] != systemData || systemDirs[1])
        throw std::logic_error("GIO was used before the private XDG environment was made; make it first");
}

TPrivateXdg::~TPrivateXdg() = default;
