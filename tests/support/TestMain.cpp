// Every test binary runs with a QApplication on the offscreen platform, so GUI
// units and event loops are available without a display.
#include <QApplication>
#include <gtest/gtest.h>
#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
// GLib, GIO and GObject are not built with the thread sanitizer, so it cannot
// see their own locks and reports their internals (the slice allocator, the
// GIO worker thread) as races; races in our code stay reported. Qt is not
// built with it either: the allocations and mutexes its own thread pool (the
// raster painter's helpers) makes and frees are left to Qt, while every
// access our code makes is still checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libgobject-2.0.so\n"
           "called_from_lib:libQt6Core.so\ncalled_from_lib:libQt6Gui.so\n";
}
#endif

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
