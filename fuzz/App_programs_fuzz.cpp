// Loading a program entry from a fuzzed settings section: it never crashes,
// it is all or nothing (after an error the entry holds what it held before),
// and an entry that loaded saves and loads again to the same fields.
// Input: the lines of the section "ProgramEntries.Items[0]".

#include "FuzzSupport.h"

#include "App_programs.h"
#include "Zel_inifiles.h"
#include "Zel_strings.h"

#include <string>
#include <tuple>

namespace {

const std::string Section = "ProgramEntries.Items[0]";
const char* const NoFile = "/nonexistent/dorvane-fuzz/Settings.ini";

auto Fields(const TProgramEntry& entry)
{
    return std::make_tuple(entry.DisplayName(), entry.File(), entry.DocumentPrefix(), entry.DocumentSuffix(),
                           entry.WorkingDirectory(), entry.ShowCommand(), entry.OpenInterval(), entry.AutoPause());
}

// Values no default has, so a load that changed anything shows.
void FillWithMarkers(TProgramEntry& entry)
{
    entry.SetDisplayName("before \"load\"");
    try {
        entry.SetFile("/bin/sh");
    } catch (const EProgramEntryError&) {
        // A system without it keeps the blank file; the other fields still tell.
    }
    entry.SetDocumentPrefix("-p \"");
    entry.SetDocumentSuffix("\" -s");
    entry.SetWorkingDirectory("/tmp");
    entry.SetShowCommand(ShowCommandMaximized);
    entry.SetOpenInterval(1234);
    entry.SetAutoPause(false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemIniFile ini(NoFile);
    ini.SetText("[" + Section + "]\r\n" + std::string(FuzzText(data, size)));

    TProgramEntry entry;
    FillWithMarkers(entry);
    const auto before = Fields(entry);
    try {
        entry.Load(ini, Section);
    } catch (const EProgramEntryLoadError&) {
        FUZZ_CHECK(Fields(entry) == before);
        return 0;
    } catch (const EStringError&) {
        FUZZ_CHECK(Fields(entry) == before);
        return 0;
    }
    // Anything else escapes and libFuzzer reports it.

    TMemIniFile saved(NoFile);
    entry.Save(saved, Section);
    TMemIniFile reread(NoFile);
    reread.SetText(saved.GetText());
    TProgramEntry again;
    again.Load(reread, Section);
    // An accepted file is stored expanded, so it loads unchanged.
    FUZZ_CHECK(Fields(again) == Fields(entry));
    return 0;
}
