// quantiro-collector: the system service that counts every socket's traffic by
// program, for the meters to read; see collector/CollectorService.h.
#include "app/CollectorStatus.h"
#include "app/Usage.h"
#include "collector/CgroupDirectory.h"
#include "collector/CollectorService.h"
#include "collector/ServiceLog.h"
#include "common/DecimalText.h"
#include "platform/linux/CollectorProtocol.h"
#include "platform/linux/StopSignals.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quantiro::collector::TableSizes;

// The maps' sizes an administrator (or a test) may set, each a positive number.
std::optional<std::uint32_t TableSizes::*> TableSizeOption(std::string_view option) {
    if (option == "--entries") {
        return &TableSizes::counters;
    }
    if (option == "--entries-per-user") {
        return &TableSizes::entriesPerUser;
    }
    if (option == "--user-prefix-entries") {
        return &TableSizes::userPrefixes;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    using namespace quantiro;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    collector::CollectorSettings settings{
        .version = QUANTIRO_VERSION,
        .socketPath = std::string(platform::linux_impl::kCollectorSocketPath)};
    bool status = false;
    bool socketNamed = false;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "--help" || argument == "--version") {
            std::cout << (argument == "--help" ? app::HelpText(app::CollectorUsage())
                                               : app::VersionText(app::CollectorUsage()));
            return 0;
        }
        if ((argument == "--socket" || argument == "--cgroup") && at + 1 < arguments.size()) {
            socketNamed = socketNamed || argument == "--socket";
            (argument == "--socket" ? settings.socketPath : settings.attachCgroup) =
                arguments[++at];
            continue;
        }
        if (const auto size = TableSizeOption(argument); size && at + 1 < arguments.size()) {
            const auto value = ParseWholeText<std::uint32_t>(arguments[at + 1]);
            if (value && *value > 0) {
                settings.tables.*(*size) = *value;
                ++at;
                continue;
            }
        }
        if (argument == "--users-cgroup" && at + 1 < arguments.size()) {
            settings.usersCgroup = arguments[++at];
            continue;
        }
        if (argument == "--status") {
            status = true;
            continue;
        }
        if (argument == "--verbose") {
            settings.verboseLoader = true;
            continue;
        }
        std::cerr << "quantiro-collector: nieznana opcja lub brak wartości: " << argument << "\n"
                  << app::HelpText(app::CollectorUsage());
        return 2;
    }

    if (status) {
        // The service the meters read, unless told which.
        const char* readers = std::getenv("QUANTIRO_COLLECTOR");
        if (!socketNamed && readers != nullptr && *readers != '\0') {
            settings.socketPath = readers;
        }
        return app::PrintCollectorStatus(settings.socketPath, std::cout);
    }
    collector::ServiceLog log(std::cerr, collector::StandardErrorIsJournal());
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::ostringstream text;
    text << mountinfo.rdbuf();
    const auto mount = collector::CgroupDirectory::FindMount(text.str());
    if (!mount) {
        log.Error("brak hierarchii cgroup v2: bez niej nie ma czego liczyć");
        return 1;
    }
    settings.cgroupRoot = *mount;
    if (settings.attachCgroup.empty()) {
        settings.attachCgroup = *mount;
    }
    // Blocked before anything starts, so a stop request waits for the loop.
    platform::linux_impl::StopSignals stopSignals;
    try {
        collector::CollectorService service(settings, log);
        log.Info("wersja " QUANTIRO_VERSION " liczy ruch: programy BPF (zakładanie gniazd, "
                 "pakiety przychodzące i wychodzące) dołączone do " +
                 settings.attachCgroup + ", czytniki pytają na gnieździe " + settings.socketPath);
        service.Run(stopSignals.Descriptor());
    } catch (const std::runtime_error& error) {
        log.Error(error.what());
        return 1;
    }
    return 0;
}
