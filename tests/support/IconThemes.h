#pragma once
// Icon themes of a test's own, so that theme lookups are deterministic.

#include <QColor>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Writes the theme "name" under directory: its index.theme and one 16-pixel
// picture per icon, filled with the icon's colour.
void MakeIconTheme(const QString& directory, const QString& name,
                   const std::vector<std::pair<QString, QColor>>& icons);

// Only the themes under directory are searched and theme is the current one,
// until the guard goes.
class TIconThemeGuard {
public:
    TIconThemeGuard(const QString& directory, const QString& theme);
    TIconThemeGuard(const TIconThemeGuard&) = delete;
    TIconThemeGuard& operator=(const TIconThemeGuard&) = delete;
    ~TIconThemeGuard();

private:
    QStringList FSearchPaths;
    QString FTheme;
};
