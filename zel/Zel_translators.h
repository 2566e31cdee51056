#pragma once
// Qt's side of the translations: the forms' texts (which Qt asks through
// QCoreApplication::translate) come from the same catalogs as every other
// text, and Qt's own texts (standard buttons, the file dialog) from Qt's
// translations for the same language.

// Installs both on the application; BindTranslations must have run. Nothing
// is installed while the texts are the English sources.
void InstallTranslators();
