#include "Zel_translations.h"

#include <libintl.h>

#include <atomic>
#include <clocale>
#include <vector>

namespace {

// Set once, before any thread that shows texts starts; read from any thread.
std::atomic<const char*> BoundDomain{nullptr};

} // namespace

void BindTranslations(const char* domain, const std::string& localeDir)
{
    std::setlocale(LC_ALL, "");
    bindtextdomain(domain, localeDir.c_str());
    // Qt and our own texts are UTF-8 whatever the locale's character set.
    bind_textdomain_codeset(domain, "UTF-8");
    BoundDomain.store(domain);
}

const char* Tr(const char* text) noexcept
{
    const char* domain = BoundDomain.load();
    // "" would fetch the catalog's header instead of a text.
    return domain && text && *text ? dgettext(domain, text) : text;
}

const char* TrN(const char* singular, const char* plural, unsigned long n) noexcept
{
    if (const char* domain = BoundDomain.load())
        return dngettext(domain, singular, plural, n);
    return n == 1 ? singular : plural;
}

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args)
{
    const std::vector<std::string_view> values(args);
    std::string text;
    text.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(format[i + 1] - '1');
            if (n < values.size()) {
                text += values[n];
                ++i;
                continue;
            }
        }
        text += format[i];
    }
    return text;
}

std::string TranslationLanguage()
{
    const char* domain = BoundDomain.load();
    if (!domain)
        return {};
    // The empty key answers the catalog's header, which names its language.
    const std::string header = std::string("\n") + dgettext(domain, "");
    const std::string_view key = "\nLanguage: ";
    const std::size_t at = header.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t begin = at + key.size();
    const std::size_t end = header.find('\n', begin);
    return header.substr(begin, end == std::string::npos ? end : end - begin);
}
