#pragma once
// Dorvane's own command-line options, read before the window system starts,
// so that --help and --version work without a display.

#include "Zel_dynamicarrays.h"

#include <string>

enum class TCommandLineAction { Run, Help, Version };

struct TCommandLine {
    TCommandLineAction Action = TCommandLineAction::Run;
    // The arguments before "--": the window system's options and documents.
    // The toolkit takes its options out of them; the rest are documents.
    TStringDynArray Leading;
    // The arguments after the first "--": documents, whatever they look like.
    TStringDynArray Trailing;
};

// Splits the arguments (without the program's own name) at the first "--".
// The first "--help" or "--version" before it decides the action; every
// other argument, an unknown "--option" too, stays where it is.
TCommandLine ParseCommandLine(const TStringDynArray& arguments);

// "Dorvane 1.0.0" and a line end.
std::string VersionText();
// The usage: the arguments, where the settings live (settingsPath is the file
// this copy uses), and the exit statuses.
std::string UsageText(const std::string& settingsPath);
