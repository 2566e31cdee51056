#include "App_system.h"

#include "Zel_files.h"
#include "Zel_inifiles.h"
#include "Zel_strings.h"

namespace {
constexpr char Quote = '"';
constexpr const char* CurrentDirectoryKey = "CurrentDirectory";
}

void TSystemModel::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    const std::string value =
        ini.ReadString(section, CurrentDirectoryKey, QuoteString(GetCurrentDir(), Quote));
    // A directory removed since the last run simply leaves the current one.
    SetCurrentDir(DequoteString(value, Quote));
}

void TSystemModel::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    ini.WriteString(section, CurrentDirectoryKey, QuoteString(GetCurrentDir(), Quote));
}
