// The INI image against a plain model of its reading rules, and the round
// trip read -> write -> read, which must give the same value for every
// section and key that can be read. Seeds: fuzz/corpus/Zel_inifiles_fuzz.

#include "FuzzSupport.h"

#include "Zel_inifiles.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// No stored value can hold a line break, so this default tells a missing key.
const std::string Missing = "\n";

struct TModelLine {
    std::string Key;
    std::string Value;
};

struct TModelSection {
    std::string Name;
    std::vector<TModelLine> Keys;
};

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// The reading rules, one line at a time, without any index.
std::vector<TModelSection> ParseModel(std::string_view text)
{
    std::vector<TModelSection> sections;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    while (!text.empty()) {
        std::size_t end = 0;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::string_view line = TrimBlanks(text.substr(0, end));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end;
        text.remove_prefix(end < text.size() ? end + 1 : end);

        if (line.empty() || line.front() == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections.push_back({std::string(TrimBlanks(line.substr(1, line.size() - 2))), {}});
            continue;
        }
        const std::size_t eq = line.find('=');
        if (sections.empty() || eq == std::string_view::npos)
            continue;
        sections.back().Keys.push_back(
            {std::string(TrimBlanks(line.substr(0, eq))), std::string(TrimBlanks(line.substr(eq + 1)))});
    }
    return sections;
}

std::string Folded(std::string_view name)
{
    std::string result(name);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// What a lookup reaches: the first key of that name in the first section of
// that name.
class TModelLookup {
public:
    explicit TModelLookup(const std::vector<TModelSection>& sections)
    {
        for (const TModelSection& s : sections) {
            const auto [at, added] = FSections.try_emplace(Folded(s.Name));
            if (!added)
                continue;
            for (const TModelLine& line : s.Keys)
                at->second.try_emplace(Folded(line.Key), &line);
        }
    }
    const TModelLine* Find(std::string_view section, std::string_view key) const
    {
        const auto s = FSections.find(Folded(section));
        if (s == FSections.end())
            return nullptr;
        const auto line = s->second.find(Folded(key));
        return line == s->second.end() ? nullptr : line->second;
    }

private:
    std::unordered_map<std::string, std::unordered_map<std::string, const TModelLine*>> FSections;
};

bool IsShortDecimal(const std::string& value)
{
    if (value.empty() || value.size() > 9)
        return false;
    for (const char c : value)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = FuzzText(data, size);
    const std::vector<TModelSection> model = ParseModel(input);
    const TModelLookup lookup(model);

    // A name that cannot exist, so the image does not touch the disk.
    TMemIniFile first("/nonexistent/dorvane-fuzz/Settings.ini");
    first.SetText(input);

    // Reading agrees with the model, key index or not.
    std::vector<std::string> values; // one per model line, in model order
    for (const TModelSection& s : model) {
        FUZZ_CHECK(first.SectionExists(s.Name));
        for (const TModelLine& line : s.Keys) {
            const TModelLine* reached = lookup.Find(s.Name, line.Key);
            values.push_back(first.ReadString(s.Name, line.Key, Missing));
            FUZZ_CHECK(values.back() == (reached ? reached->Value : Missing));
            if (reached && IsShortDecimal(reached->Value))
                FUZZ_CHECK(first.ReadInteger(s.Name, line.Key, -1) == std::stoi(reached->Value));
        }
    }

    // Written and read again: the same values, and writing is then a fixed point.
    const std::string text = first.GetText();
    TMemIniFile second("/nonexistent/dorvane-fuzz/Settings.ini");
    second.SetText(text);
    FUZZ_CHECK(second.GetText() == text);
    std::size_t at = 0;
    for (const TModelSection& s : model) {
        FUZZ_CHECK(second.SectionExists(s.Name));
        for (const TModelLine& line : s.Keys) {
            FUZZ_CHECK(second.ReadString(s.Name, line.Key, Missing) == values[at++]);
            FUZZ_CHECK(second.ReadInteger(s.Name, line.Key, -7) == first.ReadInteger(s.Name, line.Key, -7));
        }
    }

    // Writing every readable value back where it stands changes nothing, and
    // writing them into an empty image gives an image that reads the same.
    TMemIniFile rebuilt("/nonexistent/dorvane-fuzz/Settings.ini");
    for (const TModelSection& s : model) {
        for (const TModelLine& line : s.Keys) {
            if (lookup.Find(s.Name, line.Key) != &line)
                continue;
            second.WriteString(s.Name, line.Key, line.Value);
            rebuilt.WriteString(s.Name, line.Key, line.Value);
        }
    }
    FUZZ_CHECK(second.GetText() == text);
    TMemIniFile reread("/nonexistent/dorvane-fuzz/Settings.ini");
    reread.SetText(rebuilt.GetText());
    at = 0;
    for (const TModelSection& s : model)
        for (const TModelLine& line : s.Keys)
            FUZZ_CHECK(reread.ReadString(s.Name, line.Key, Missing) == values[at++]);
    return 0;
}
