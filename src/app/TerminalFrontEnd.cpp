#include "app/TerminalFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "terminal/TerminalFrontEnd.h"

namespace quantiro::app {

int RunTerminalFrontEnd(const std::string& commandLine, const shapes::WindowShape& shape) {
    // Blocked first: the system parts must not see a signal meant for the loop.
    platform::linux_impl::StopSignals stopSignals;
    LinuxPlatform host;
    return terminal::RunMeter({.commandLine = commandLine,
                               .shape = shape,
                               .system = host.Parts(shape),
                               .settings = host.settings,
                               .networks = host.networks,
                               .stopSignals = stopSignals});
}

} // namespace quantiro::app
