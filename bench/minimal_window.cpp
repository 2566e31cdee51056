// The peer of Dorvane's first-window benchmark: a Qt Widgets program that
// only shows a titled window.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.resize(400, 300);
    window.show();
    return QApplication::exec();
}
