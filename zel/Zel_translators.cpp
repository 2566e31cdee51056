#include "Zel_translators.h"

#include "Zel_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Answers from the catalogs, whatever the asking class: a text reads the same
// in every form.
class TCatalogTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char*, const char* sourceText, const char*, int n) const override
    {
        if (!sourceText || !*sourceText)
            return {};
        const char* text = n >= 0 ? TrN(sourceText, sourceText, static_cast<unsigned long>(n)) : Tr(sourceText);
        // An empty answer lets Qt go on to the next translator, then to the source.
        return text == sourceText ? QString() : QString::fromUtf8(text);
    }

    bool isEmpty() const override { return false; }
};

} // namespace

void InstallTranslators()
{
    const std::string language = TranslationLanguage();
    auto* application = QCoreApplication::instance();
    if (language.empty() || !application)
        return;
    // Parented to the application, which deletes them last.
    auto* qt = new QTranslator(application);
    if (qt->load(QStringLiteral("qtbase_") + QString::fromStdString(language),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    // Installed last, asked first.
    QCoreApplication::installTranslator(new TCatalogTranslator(application));
}
