#include "Zel_strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>

TEST(Zel_strings, QuotedTextsComeBackUnchanged)
{
    EXPECT_EQ(QuoteString("", '"'), "\"\"");
    EXPECT_EQ(QuoteString("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(QuoteString("\"", '"'), "\"\"\"\"");
    for (const std::string& text : std::initializer_list<std::string>{"", "plain", "\"", "\"\"", "a\"b", "\"start", "end\"",
                                   "Grüße \"über\" 日本", "line\r\nbreak", std::string("nul\0in", 6)}) {
        EXPECT_EQ(DequoteString(QuoteString(text, '"'), '"'), text) << text;
        EXPECT_EQ(DequoteString(QuoteString(text, '\''), '\''), text) << text;
    }
}

TEST(Zel_strings, DequoteReadsUpToTheClosingQuote)
{
    EXPECT_EQ(DequoteString("\"abc\"tail", '"'), "abc");
    EXPECT_EQ(DequoteString("\"a\"\"b\" \"c\"", '"'), "a\"b");
    EXPECT_EQ(DequoteString("\"\"", '"'), "");
    // Without a closing quote the whole rest is the value; no byte is lost.
    EXPECT_EQ(DequoteString("\"", '"'), "");
    EXPECT_EQ(DequoteString("\"abc", '"'), "abc");
    EXPECT_EQ(DequoteString("\"abc\"\"", '"'), "abc\"");
}

TEST(Zel_strings, RefusedQuotesAndTexts)
{
    auto message = [](auto call) {
        try {
            call();
        } catch (const EStringError& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    const std::string quoteError = "The program cannot quote the string.";
    const std::string dequoteError = "The program cannot dequote the string.";
    EXPECT_EQ(message([] { QuoteString("x", '\0'); }), quoteError);
    EXPECT_EQ(message([] { QuoteString("x", '\xC3'); }), quoteError); // a UTF-8 lead byte
    EXPECT_EQ(message([] { QuoteString("x", '\x80'); }), quoteError);
    EXPECT_EQ(message([] { DequoteString("\"x\"", '\0'); }), dequoteError);
    EXPECT_EQ(message([] { DequoteString("\xC3x\xC3", '\xC3'); }), dequoteError);
    EXPECT_EQ(message([] { DequoteString("", '"'); }), dequoteError);
    EXPECT_EQ(message([] { DequoteString("x\"y\"", '"'); }), dequoteError);
    EXPECT_EQ(message([] { DequoteString(" \"y\"", '"'); }), dequoteError);
}

TEST(Zel_strings, SeparatorsGroupDigitsFromTheRight)
{
    EXPECT_EQ(InsertSeparators(3, ",", 0), "0");
    EXPECT_EQ(InsertSeparators(3, ",", 123), "123");
    EXPECT_EQ(InsertSeparators(3, ",", 999), "999");
    EXPECT_EQ(InsertSeparators(3, ",", 1000), "1,000");
    EXPECT_EQ(InsertSeparators(3, ",", 123456), "123,456");
    EXPECT_EQ(InsertSeparators(3, ",", 1234567), "1,234,567");
    EXPECT_EQ(InsertSeparators(3, ",", 1048576), "1,048,576");
    EXPECT_EQ(InsertSeparators(3, ",", std::numeric_limits<std::int64_t>::max()),
              "9,223,372,036,854,775,807");
    // The sign stays outside the groups.
    EXPECT_EQ(InsertSeparators(3, ",", -1), "-1");
    EXPECT_EQ(InsertSeparators(3, ",", -123), "-123");
    EXPECT_EQ(InsertSeparators(3, ",", -1234), "-1,234");
    EXPECT_EQ(InsertSeparators(3, ",", std::numeric_limits<std::int64_t>::min()),
              "-9,223,372,036,854,775,808");
    EXPECT_EQ(InsertSeparators(4, " ", 123456789), "1 2345 6789");
    EXPECT_EQ(InsertSeparators(1, "\xE2\x80\xAF", 123), "1\xE2\x80\xAF" "2\xE2\x80\xAF" "3");
    EXPECT_EQ(InsertSeparators(0, ",", 1234567), "1234567");
    EXPECT_EQ(InsertSeparators(-3, ",", 1234567), "1234567");
}

TEST(Zel_strings, Utf8CheckRefusesEveryMalformedSequence)
{
    for (const char* good : {"", "plain", "Gr\xC3\xBC\xC3\x9F" "e", "\xE2\x82\xAC", "\xED\x9F\xBF", "\xEE\x80\x80",
                             "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    for (const char* bad : {"caf\xE9", "\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xC3", "a\xE2\x82",
                            "\xC3\x28", "\xFF"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}
