// The engine of a program without a window: an application object of the
// toolkit's core only, so nothing needs a display.
#include <QCoreApplication>

#include "runtime/rtcore.h"

namespace {

int g_consoleArgc = 1;  // the application keeps a reference to it
char g_consoleArgv0[] = "orvanscope-cli";
char* g_consoleFallbackArgv[] = {g_consoleArgv0, nullptr};

}  // namespace

int InitConsoleEngine(int argc, char* argv[]) {
    if (!QCoreApplication::instance()) {
        if (argc < 1 || !argv) {
            argc = 1;
            argv = g_consoleFallbackArgv;
        }
        g_consoleArgc = argc;
        new QCoreApplication(g_consoleArgc, argv);  // lives as long as the process
    }
    return 1;
}
