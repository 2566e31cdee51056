// Entry point: one main window, exit code 0 in every case.
#include "App_common.h"
#include "App_mainform.h"

#include <QApplication>
#include <QIcon>

namespace {

// The last guard: nothing thrown in a handler may unwind through Qt's loop.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            HandleCurrentException();
            return false;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    // The error box needs the application, so it outlives this block.
    try {
        Q_INIT_RESOURCE(App_resources);
        QApplication::setApplicationName(AppTitle);
        QApplication::setApplicationDisplayName(AppTitle);
        QApplication::setDesktopFileName("dorvane");
        QApplication::setWindowIcon(QIcon(":/images/dorvane-64.png"));

        TAutoPointer<TAppMainForm> form = std::make_unique<TAppMainForm>();
        AppMainForm = form.get();
        // Arguments are paths as bytes; Qt's decoded copy would not round-trip
        // names that are not valid in the locale's encoding.
        TStringDynArray paths;
        for (int i = 1; i < argc; ++i)
            paths.emplace_back(argv[i]);
        form->SetCommandLine(std::move(paths));
        form->show();
        QApplication::exec();
    } catch (...) {
        HandleCurrentException();
    }
    return 0;
}
