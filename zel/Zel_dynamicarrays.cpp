#include "Zel_dynamicarrays.h"

#include <utility>

TStringDynArray StringsToArray(const std::vector<std::string>& strings)
{
    return TStringDynArray(strings.begin(), strings.end());
}

void ArrayToStrings(const TStringDynArray& array, std::vector<std::string>& strings)
{
    // Copied aside first, so a failing copy leaves the list as it was.
    std::vector<std::string> items(array.begin(), array.end());
    strings = std::move(items);
}

TStringDynArray TextToArray(std::string_view text)
{
    TStringDynArray lines;
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);

    const char* const end = text.data() + text.size();
    const char* start = text.data();
    const char* p = start;
    while (p != end) {
        const char c = *p;
        if (c != '\r' && c != '\n') {
            ++p;
            continue;
        }
        lines.emplace_back(start, p);
        ++p;
        if (c == '\r' && p != end && *p == '\n')
            ++p;
        start = p;
    }
    if (start != end)
        lines.emplace_back(start, end);
    return lines;
}

TStringDynArray RemoveEmptyStrings(TStringDynArray array)
{
    std::erase_if(array, [](const std::string& item) { return item.empty(); });
    return array;
}
