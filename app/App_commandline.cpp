#include "App_commandline.h"

#include "App_common.h"
#include "Zel_translations.h"

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
    // One text a paragraph or option, each ended by a line break here; an
    // empty one is a blank line.
    const std::string lines[] = {
        // TRANSLATORS: --help: "dorvane" and "--" stay as they are; OPTION and DOCUMENT name the
        // arguments and are used again below
        Tr("Usage: dorvane [OPTION]... [--] [DOCUMENT]..."),
        // TRANSLATORS: --help: what the program does, in one line
        Tr("Opens many documents one after another with one program."),
        "",
        // TRANSLATORS: --help: keep the options' names and the line length below 80 characters
        Tr("Each DOCUMENT is the path of a file or directory for the document list,\n"
           "added once the window has appeared, as if dropped on it. A relative path\n"
           "means the directory Dorvane was started in. Every argument that is not one\n"
           "of the options below or of the window system's (-platform, -style, ...)\n"
           "is a document."),
        "",
        // TRANSLATORS: --help: an option and what it does; the descriptions of the options line up
        Tr("  --help     show this help and exit"),
        // TRANSLATORS: --help: an option and what it does; the descriptions of the options line up
        Tr("  --version  show the version and exit"),
        // TRANSLATORS: --help: an option and what it does; the descriptions of the options line up
        Tr("  --         end the options: every argument after it is a document, also\n"
           "             one that begins with \"-\""),
        "",
        // TRANSLATORS: --help: file and variable names stay as they are; %1 is the path of
        // the settings file this copy uses
        FormatText(Tr("Settings live in Settings.ini beside the executable when that directory is\n"
                      "writable, else in $XDG_CONFIG_HOME/dorvane/Settings.ini (by default\n"
                      "~/.config/dorvane/Settings.ini). This copy uses\n"
                      "  %1"),
                   {settingsPath}),
        "",
        // TRANSLATORS: --help: the program's exit statuses
        Tr("Exit status:\n"
           "  0  the window was closed, also after an error shown in a message box;\n"
           "     or the help or the version was shown\n"
           "  1  the help or the version could not be written"),
        // TRANSLATORS: --help: the last lines, right after the exit statuses
        Tr("Without a display to show its window on, Dorvane stops at once with the\n"
           "window system's message and an abort (status 134)."),
    };
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    return text;
}
