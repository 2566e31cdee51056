// Entry point: one main window, exit code 0 in every case.
#include "App_commandline.h"
#include "App_common.h"
#include "App_mainform.h"
#include "Zel_forms.h"
#include "Zel_translations.h"
#include "Zel_translators.h"

#include <QApplication>
#include <QIcon>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// --help and --version: written before any window system is touched. A
// failed write must not pass for success (dorvane --help >/dev/full).
int WriteAndExit(const std::string& text)
{
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        const int error = errno;
        // TRANSLATORS: on the terminal after "dorvane: ": %1 is the system's reason
        const std::string message = FormatText(Tr("cannot write to standard output: %1"), {std::strerror(error)});
        std::fprintf(stderr, "dorvane: %s\n", message.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything is said, --help included.
    BindTranslations(TextDomain, LocaleDirectory());
    const TCommandLine commandLine = ParseCommandLine(argc > 1 ? TStringDynArray(argv + 1, argv + argc)
                                                               : TStringDynArray());
    if (commandLine.Action == TCommandLineAction::Help)
        return WriteAndExit(UsageText(SettingsPath()));
    if (commandLine.Action == TCommandLineAction::Version)
        return WriteAndExit(VersionText());

    // Qt sees only what comes before "--", so nothing after it is ever taken
    // for one of Qt's options; Qt removes its options from this copy.
    std::vector<char*> toolkitArgv;
    if (argc > 0)
        toolkitArgv.assign(argv, argv + 1 + commandLine.Leading.size());
    int toolkitArgc = static_cast<int>(toolkitArgv.size());
    toolkitArgv.push_back(nullptr);
    // The fonts are got ready alongside the window system's start; their
    // thread is done before the application object goes.
    TFontPreloader fonts;
    TApplication application(toolkitArgc, toolkitArgv.data());
    fonts.Start();
    const auto finishFonts = qScopeGuard([&fonts] { fonts.Finish(); });
    // The error box needs the application, so it outlives this block.
    try {
        // Before the first form, whose texts are translated as it is built.
        InstallTranslators();
        Q_INIT_RESOURCE(App_resources);
        QApplication::setApplicationName(AppTitle);
        QApplication::setApplicationDisplayName(AppTitle);
        // The Wayland app id: the desktop's shell finds our menu entry and icon by it.
        QApplication::setDesktopFileName(AppId);
        QApplication::setWindowIcon(LazyPngIcon({{64, QStringLiteral(":/images/dorvane-64.png")}}));

        TAutoPointer<TAppMainForm> form = std::make_unique<TAppMainForm>();
        AppMainForm = form.get();
        // Arguments are paths as bytes; Qt's decoded copy would not round-trip
        // names that are not valid in the locale's encoding.
        TStringDynArray paths;
        for (int i = 1; i < toolkitArgc; ++i)
            paths.emplace_back(toolkitArgv[i]);
        paths.insert(paths.end(), commandLine.Trailing.begin(), commandLine.Trailing.end());
        form->SetCommandLine(std::move(paths));
        form->show();
        QApplication::exec();
    } catch (...) {
        HandleCurrentException();
    }
    // Qt 6.4's Wayland client can deadlock while it tears its connection down
    // (its event thread waits for a read that never comes), leaving a process
    // without a window behind. Everything of ours is saved and freed by now,
    // and the compositor forgets a client whose socket closes.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
