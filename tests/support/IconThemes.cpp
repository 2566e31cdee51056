#include "IconThemes.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

void MakeIconTheme(const QString& directory, const QString& name,
                   const std::vector<std::pair<QString, QColor>>& icons)
{
    const QString root = directory + "/" + name;
    ASSERT_TRUE(QDir().mkpath(root + "/16x16/mimetypes"));
    QFile index(root + "/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=" + name.toUtf8()
                + "\nDirectories=16x16/mimetypes\n\n[16x16/mimetypes]\nSize=16\nType=Fixed\n");
    for (const auto& [icon, colour] : icons) {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(root + "/16x16/mimetypes/" + icon + ".png"));
    }
}

TIconThemeGuard::TIconThemeGuard(const QString& directory, const QString& theme)
    : FSearchPaths(QIcon::themeSearchPaths()), FTheme(QIcon::themeName())
{
    QIcon::setThemeSearchPaths({directory});
    QIcon::setThemeName(theme);
}

TIconThemeGuard::~TIconThemeGuard()
{
    QIcon::setThemeSearchPaths(FSearchPaths);
    QIcon::setThemeName(FTheme);
}
