#include "app/TerminalFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "platform/linux/SleepWatch.h"
#include "platform/linux/StopSignals.h"
#include "terminal/TerminalFrontEnd.h"

#include <memory>

namespace quantiro::app {

int RunTerminalFrontEnd(const std::string& commandLine, const shapes::WindowShape& shape) {
    // Blocked first: the system parts must not see a signal meant for the loop.
    platform::linux_impl::StopSignals stopSignals;
    LinuxPlatform host;
    return terminal::RunMeter({.commandLine = commandLine,
                               .shape = shape,
                               .system = host.Parts(shape),
                               .stopSignals = stopSignals,
                               .watchSleep = [] {
                                   return std::make_unique<platform::linux_impl::SleepWatch>();
                               }});
}

} // namespace quantiro::app
