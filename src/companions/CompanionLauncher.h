#pragma once

#include "companions/Companions.h"
#include "platform/Processes.h"
#include "platform/Settings.h"
#include "sampling/TickCollaborators.h"

#include <string>
#include <string_view>

namespace quantiro::companions {

// Starts the family's programs by the command lines the family fixes: the program
// directory, "/", the program's file name and its arguments. The program is never
// split at spaces in the directory; the words after its name are its arguments.
class CompanionLauncher final : public Companions, public sampling::LimitWatcher {
public:
    CompanionLauncher(std::string programDirectory, platform::ProcessLauncher& launcher,
                      platform::SettingsStore& settings);

    void StartMonitor() override;
    void StopMonitor() override;
    void StartStatistics() override;
    void StartOptions() override;
    void StartReports() override;
    void StartUpdater() override;
    void StartWindowVariant(std::int16_t variant) override;
    void StartLimitWatcher(bool atStartUp, const sampling::Totals& totals) override;

private:
    platform::ProcessRecord Launch(std::string_view command, bool track);
    void WriteRecord(std::string_view prefix, platform::ProcessRecord record);
    platform::ProcessRecord ReadRecord(std::string_view prefix);

    std::string m_programDirectory;
    platform::ProcessLauncher& m_launcher;
    platform::SettingsStore& m_settings;
};

} // namespace quantiro::companions
