// Any bytes read as a settings file: no crash, and the text written from the
// image reads back as the same image. Any bytes written as a value come back
// as one value: they never add lines or sections to the file.
#include "Zel_inifiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// What reading keeps of a written value: line breaks became spaces, and the
// surrounding blanks and control characters are trimmed.
std::string AsReadBack(std::string_view value)
{
    std::string s(value);
    for (char& c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && blank(s[b]))
        ++b;
    return s.substr(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TMemIniFile ini("");
    ini.SetText(bytes);
    const std::string text = ini.GetText();
    TMemIniFile again("");
    again.SetText(text);
    if (again.GetText() != text)
        std::abort();

    ini.WriteString("Fuzz.Section", "Value", bytes);
    ini.WriteString("Fuzz.Section", "After", "1");
    TMemIniFile written("");
    written.SetText(ini.GetText());
    if (written.ReadString("Fuzz.Section", "Value", "") != AsReadBack(bytes) ||
        written.ReadInteger("Fuzz.Section", "After", 0) != 1)
        std::abort();
    return 0;
}
