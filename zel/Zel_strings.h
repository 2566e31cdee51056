#pragma once
// Quoting of setting values, digit grouping of numbers and the UTF-8 check.
//
// Texts are UTF-8. Quote characters are ASCII, and ASCII bytes never occur
// inside a multi-byte sequence, so the byte scans below never split a character.

#include "Zel_base.h"

#include <cstdint>
#include <string>
#include <string_view>

class EStringError : public Exception {
public:
    using Exception::Exception;
};

// The text between two quote characters, every quote inside it doubled.
// Raises EStringError when quote is NUL or not ASCII.
std::string QuoteString(std::string_view text, char quote);

// Reverses QuoteString: reads from the opening quote to the first quote that
// is not doubled; anything after it is ignored. Without a closing quote the
// whole rest is the value. Raises EStringError when quote is NUL or not ASCII,
// or when the text is empty or does not begin with quote.
std::string DequoteString(std::string_view text, char quote);

// value in decimal with separator between groups of groupSize digits, counted
// from the right: (3, ",", 1234567) gives 1,234,567 and -1234 gives -1,234.
// A groupSize below 1 gives the plain digits.
std::string InsertSeparators(int groupSize, std::string_view separator, std::int64_t value);

// Whether text is well-formed UTF-8: no stray continuation bytes, no
// truncated, overlong or surrogate sequences, nothing beyond U+10FFFF.
bool IsValidUtf8(std::string_view text) noexcept;

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c) noexcept;
