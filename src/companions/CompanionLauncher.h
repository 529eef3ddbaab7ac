#pragma once

#include "companions/Companions.h"
#include "platform/Processes.h"
#include "sampling/TickCollaborators.h"

#include <string>
#include <string_view>

namespace quantiro::companions {

// Starts the family's programs by the command lines the family fixes: the program
// directory, "/", the program's file name and its arguments. The program is never
// split at spaces in the directory; the words after its name are its arguments.
class CompanionLauncher final : public Companions, public sampling::LimitWatcher {
public:
    CompanionLauncher(std::string programDirectory, platform::ProcessLauncher& launcher);

    platform::StartedProcess StartMonitor() override;
    void StopMonitor() override;
    void StartStatistics() override;
    void StartOptions() override;
    void StartReports() override;
    void StartUpdater() override;
    platform::StartedProcess StartWindowVariant(std::int16_t variant) override;
    void StartLimitWatcher(bool atStartUp, const sampling::Totals& totals) override;

private:
    platform::StartedProcess Launch(std::string_view command, bool track);

    std::string m_programDirectory;
    platform::ProcessLauncher& m_launcher;
    // The monitor this meter started; only it is ever stopped.
    platform::StartedProcess m_monitor;
};

} // namespace quantiro::companions
