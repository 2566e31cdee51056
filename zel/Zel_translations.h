#pragma once
// Texts in the user's language, from the program's gettext catalogs. The
// English text is its own key and its own fallback: with no catalog for the
// session's language (or LANG=C) every text is exactly its source.
//
// Texts with values use "%1".."%9", which the catalogs' checks (qt-format)
// compare between a text and its translation, and which a translation may
// reorder.

#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text for the catalogs without translating it, for tables that are
// read through Tr where they are shown.
constexpr const char* TrNoop(const char* text) noexcept
{
    return text;
}

// Takes the session's language from the environment (setlocale) and the
// domain's catalogs from localeDir/<language>/LC_MESSAGES/<domain>.mo.
// Until it is called, every text is its source.
void BindTranslations(const char* domain, const std::string& localeDir);

// The text in the user's language; text itself when the catalog lacks it.
const char* Tr(const char* text) noexcept;
// The plural form of the two for n, in the user's language.
const char* TrN(const char* singular, const char* plural, unsigned long n) noexcept;

// "%1".."%9" replaced by the arguments, in one pass, so that an argument's
// own "%2" (a path may hold one) is never replaced in its turn. A placeholder
// without an argument stays as it is.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

// The language of the catalog in use ("de", "pt_BR"); empty when the texts
// are the English sources.
std::string TranslationLanguage();
