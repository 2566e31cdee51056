// Quoting: dequoting a quoted text gives the text back, and dequoting any
// text either refuses it with EStringError or reads exactly one quoted run.
// Input: the quote character, then the text.

#include "FuzzSupport.h"

#include "Zel_strings.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char quote = static_cast<char>(data[0]);
    const std::string_view text = FuzzText(data + 1, size - 1);
    const bool validQuote = data[0] != 0 && data[0] < 0x80;

    try {
        const std::string quoted = QuoteString(text, quote);
        FUZZ_CHECK(validQuote);
        FUZZ_CHECK(quoted.size() >= text.size() + 2 && quoted.front() == quote && quoted.back() == quote);
        FUZZ_CHECK(DequoteString(quoted, quote) == text);
        // Whatever follows the closing quote is not part of the value.
        const char other = quote == 'a' ? 'b' : 'a';
        FUZZ_CHECK(DequoteString(quoted + other + std::string(text), quote) == text);
    } catch (const EStringError&) {
        FUZZ_CHECK(!validQuote);
    }

    try {
        const std::string value = DequoteString(text, quote);
        FUZZ_CHECK(validQuote && !text.empty() && text.front() == quote);
        // Either the text begins with the quoted value (closing quote found),
        // or it is the quoted value without its closing quote.
        const std::string requoted = QuoteString(value, quote);
        FUZZ_CHECK(text.starts_with(requoted) || text == std::string_view(requoted).substr(0, requoted.size() - 1));
    } catch (const EStringError&) {
        FUZZ_CHECK(!validQuote || text.empty() || text.front() != quote);
    }
    return 0;
}
