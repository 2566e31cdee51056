#include "Zel_strings.h"

#include "Zel_translations.h"

#include <charconv>

namespace {

// A quote must be a whole character on its own: NUL ends C strings, and a
// byte >= 0x80 is part of a multi-byte sequence.
bool IsValidQuote(char quote) noexcept
{
    const auto c = static_cast<unsigned char>(quote);
    return c != 0 && c < 0x80;
}

} // namespace

std::string QuoteString(std::string_view text, char quote)
{
    if (!IsValidQuote(quote))
        throw EStringError(Tr("The program cannot quote the string."));
    std::string result;
    std::size_t quotes = 0;
    for (char c : text)
        quotes += c == quote;
    result.reserve(text.size() + quotes + 2);
    result += quote;
    for (char c : text) {
        if (c == quote)
            result += quote;
        result += c;
    }
    result += quote;
    return result;
}

std::string DequoteString(std::string_view text, char quote)
{
    if (!IsValidQuote(quote) || text.empty() || text.front() != quote)
        throw EStringError(Tr("The program cannot dequote the string."));
    std::string result;
    result.reserve(text.size() - 1);
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote)
                ++i; // a doubled quote stands for one
            else
                break; // the closing quote
        }
        result += c;
    }
    return result;
}

std::string InsertSeparators(int groupSize, std::string_view separator, std::int64_t value)
{
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // 24 bytes hold every int64
    std::string_view text(digits, static_cast<std::size_t>(end - digits));
    std::string_view sign;
    if (!text.empty() && text.front() == '-') {
        sign = text.substr(0, 1);
        text.remove_prefix(1);
    }
    const std::size_t group = groupSize < 1 ? 0 : static_cast<std::size_t>(groupSize);
    const std::size_t separators = group == 0 ? 0 : (text.size() - 1) / group;
    std::string result;
    result.reserve(sign.size() + text.size() + separators * separator.size());
    result += sign;
    // The first group takes the remainder so that the others are full.
    const std::size_t first = text.size() - separators * group;
    result += text.substr(0, first);
    for (std::size_t pos = first; pos < text.size(); pos += group) {
        result += separator;
        result += text.substr(pos, group);
    }
    return result;
}

bool IsValidUtf8(std::string_view text) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        std::uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF
            || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += length;
    }
    return true;
}

int HexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
