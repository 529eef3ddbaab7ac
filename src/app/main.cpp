#include "app/CommandLine.h"
#include "app/Display.h"
#include "app/Modules.h"
#include "app/TerminalFrontEnd.h"
#include "common/FamilyPaths.h"

#include <cstdio>
#include <string>

#include <sys/prctl.h>

namespace {

// The window front-end lives in a module beside the program, loaded only here: a
// meter on a terminal never maps Qt Gui or Widgets.
int RunWindowModule(int& argc, char** argv, const std::string& commandLine,
                    const quantiro::shapes::WindowShape& shape) {
    using FrontEnd =
        int (*)(int*, char**, const std::string*, const quantiro::shapes::WindowShape*);
    const auto frontEnd = quantiro::app::LoadModuleFunction<FrontEnd>(
        quantiro::paths::ProgramDirectory(), "quantiro-window.so", "QuantiroWindowFrontEnd");
    if (!frontEnd) {
        std::fprintf(stderr, "quantiro: nie można wczytać okna programu: %s\n", ::dlerror());
        return 1;
    }
    return frontEnd(&argc, argv, &commandLine, &shape);
}

} // namespace

int main(int argc, char** argv) {
    using namespace quantiro;
    using namespace quantiro::app;
    const Invocation invocation = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto status = RunWithoutMeter(invocation)) {
        return *status;
    }
    // A tick may come up to 5 ms late, so the kernel can wake the meter together
    // with whatever else wakes then; the tick measures its own elapsed time.
    ::prctl(PR_SET_TIMERSLACK, 5'000'000UL);
    if (invocation.interfaceName) {
        ::setenv("QUANTIRO_INTERFACE", invocation.interfaceName->c_str(), 1);
    }
    // The family starts the other shapes by their own names, links to this program.
    const std::string name = argv[0];
    const shapes::WindowShape& shape =
        invocation.shape ? *invocation.shape : shapes::ShapeNamed(name.substr(name.rfind('/') + 1));
    if (invocation.terminal || !DisplayAvailable()) {
        return RunTerminalFrontEnd(invocation.startSwitch,
                                   shape); // the shape chooses the exit's successor
    }
    // Placing the window and keeping it on top need X11: under Wayland the window
    // goes through XWayland, unless the user chose a platform.
    if (EnvironmentSet("WAYLAND_DISPLAY") && EnvironmentSet("DISPLAY") &&
        !EnvironmentSet("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    // Qt's own event loop wakes for a tick with less work than GLib's; the meter
    // uses no GLib-based part (no native dialogs). A user's choice is kept.
    ::setenv("QT_NO_GLIB", "1", 0);
    // A shared-memory image makes each repaint wait for the X server's answer
    // before the next, two wakes more per tick; the window's few changed pixels go
    // as cheaply through the connection.
    ::setenv("QT_XCB_NO_MITSHM", "1", 0);
    return RunWindowModule(argc, argv, invocation.startSwitch, shape);
}
