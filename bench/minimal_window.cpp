// The peer of Dorvane's first-window benchmark: a Qt Widgets program that
// only shows a titled window. With --text the window also shows one label,
// so the second peer pays for the toolkit's fonts as any window with text does.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        (new QVBoxLayout(&window))->addWidget(new QLabel(QStringLiteral("Documents:")));
    window.resize(400, 300);
    window.show();
    return QApplication::exec();
}
