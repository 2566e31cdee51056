// Splitting text into lines against the plain model (CR LF, then lone CR,
// become LF; split at LF; a NUL ends the text), and the split of the lines
// joined again with any one kind of break is the same split.

#include "FuzzSupport.h"

#include "Zel_dynamicarrays.h"

#include <string>
#include <string_view>

namespace {

TStringDynArray ModelSplit(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    std::string unified;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            unified += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            unified += text[i];
        }
    }
    TStringDynArray lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < unified.size(); ++i) {
        if (unified[i] == '\n') {
            lines.push_back(unified.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < unified.size())
        lines.push_back(unified.substr(start));
    return lines;
}

std::string Join(const TStringDynArray& lines, std::string_view lineBreak)
{
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append(lineBreak);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = FuzzText(data, size);
    const TStringDynArray lines = TextToArray(text);
    FUZZ_CHECK(lines == ModelSplit(text));
    for (const std::string& line : lines)
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    for (const std::string_view lineBreak : {"\r\n", "\n", "\r"}) {
        FUZZ_CHECK(TextToArray(Join(lines, lineBreak)) == lines);
    }
    // The last line needs no break of its own.
    std::string joined = Join(lines, "\r\n");
    if (!lines.empty() && !lines.back().empty()) {
        joined.resize(joined.size() - 2);
        FUZZ_CHECK(TextToArray(joined) == lines);
    }
    FUZZ_CHECK(RemoveEmptyStrings(lines).size() <= lines.size());
    return 0;
}
