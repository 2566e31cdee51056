#include "App_commandline.h"

#include "App_common.h"

TCommandLine ParseCommandLine(const TStringDynArray& arguments)
{
    TCommandLine result;
    auto it = arguments.begin();
    for (; it != arguments.end() && *it != "--"; ++it) {
        if (result.Action == TCommandLineAction::Run) {
            if (*it == "--help")
                result.Action = TCommandLineAction::Help;
            else if (*it == "--version")
                result.Action = TCommandLineAction::Version;
        }
        result.Leading.push_back(*it);
    }
    if (it != arguments.end())
        result.Trailing.assign(it + 1, arguments.end());
    return result;
}

std::string VersionText()
{
    return std::string(AppTitle) + " " DORVANE_VERSION "\n";
}

std::string UsageText(const std::string& settingsPath)
{
    return "Usage: dorvane [OPTION]... [--] [DOCUMENT]...\n"
           "Opens many documents one after another with one program.\n"
           "\n"
           "Each DOCUMENT is the path of a file or directory for the document list,\n"
           "added once the window has appeared, as if dropped on it. A relative path\n"
           "means the directory Dorvane was started in. Every argument that is not one\n"
           "of the options below or of the window system's (-platform, -style, ...)\n"
           "is a document.\n"
           "\n"
           "  --help     show this help and exit\n"
           "  --version  show the version and exit\n"
           "  --         end the options: every argument after it is a document, also\n"
           "             one that begins with \"-\"\n"
           "\n"
           "Settings live in Settings.ini beside the executable when that directory is\n"
           "writable, else in $XDG_CONFIG_HOME/dorvane/Settings.ini (by default\n"
           "~/.config/dorvane/Settings.ini). This copy uses\n"
           "  " + settingsPath + "\n"
           "\n"
           "Exit status:\n"
           "  0  the window was closed, also after an error shown in a message box;\n"
           "     or the help or the version was shown\n"
           "  1  the help or the version could not be written\n"
           "Without a display to show its window on, Dorvane stops at once with the\n"
           "window system's message and an abort (status 134).\n";
}
