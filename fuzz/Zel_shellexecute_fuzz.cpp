// Splitting a program's parameters around a document path: the path arrives
// whole, inside exactly one argument, and the other arguments are those the
// parameters alone give. Input: before, NUL, the path, NUL, after.

#include "FuzzSupport.h"

#include "Zel_shellexecute.h"

#include <string>
#include <string_view>

namespace {

// A byte that is ordinary in every quoting state and occurs nowhere in the
// input, so it can stand in for the path; 0 when there is none.
char FreeMarker(std::string_view input)
{
    bool used[256] = {};
    for (const char c : input)
        used[static_cast<unsigned char>(c)] = true;
    for (int c = 0x80; c < 0x100; ++c)
        if (!used[c])
            return static_cast<char>(c);
    for (const char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"))
        if (!used[static_cast<unsigned char>(c)])
            return c;
    return 0;
}

bool HasSpecialBytes(std::string_view text)
{
    return text.find_first_of(std::string_view(" \t\n\r\\\"'$`\0", 10)) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = FuzzText(data, size);
    const std::size_t first = input.find('\0');
    if (first == std::string_view::npos) {
        (void)SplitArguments(std::string(input));
        return 0;
    }
    const std::size_t second = input.find('\0', first + 1);
    if (second == std::string_view::npos)
        return 0;
    const std::string before(input.substr(0, first));
    const std::string literal(input.substr(first + 1, second - first - 1));
    const std::string after(input.substr(second + 1));
    const char marker = FreeMarker(input);
    if (marker == 0)
        return 0;

    const TStringDynArray arguments = SplitCommandLine(before, literal, after);
    // A document path is never empty; an empty literal keeps a backslash
    // that ends before as itself, which no stand-in below mirrors.
    if (literal.empty())
        return 0;

    // The same parameters around a stand-in: the literal's first byte (a
    // backslash at the end of before treats it as it treats any byte) and the
    // marker. Exactly one argument holds the marker, right after that byte.
    const std::string standIn{literal[0], marker};
    TStringDynArray expected = SplitCommandLine(before, standIn, after);
    std::size_t holders = 0;
    for (std::string& argument : expected) {
        const std::size_t at = argument.find(marker);
        if (at == std::string::npos)
            continue;
        ++holders;
        FUZZ_CHECK(argument.find(marker, at + 1) == std::string::npos);
        FUZZ_CHECK(at >= 1 && argument[at - 1] == literal[0]);
        argument.replace(at - 1, 2, literal);
    }
    FUZZ_CHECK(holders == 1);
    FUZZ_CHECK(arguments == expected);

    // A literal of ordinary bytes reads the same as the joined text does.
    if (!HasSpecialBytes(literal))
        FUZZ_CHECK(arguments == SplitArguments(before + literal + after));
    return 0;
}
