#pragma once

#include "companions/Companions.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "sampling/SamplingState.h"
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
                      platform::RegistrySettings& settings);

    // The totals the limit watcher is given come from the meter's sampling state.
    void Attach(const sampling::SamplingState& state) { m_state = &state; }

    void MonitorStart() override;
    void MonitorStop() override;
    void StatisticsStart() override;
    void OptionsShow() override;
    void RaportShow() override;
    void UpdaterStart() override;
    void VariantStart(std::int16_t size) override;
    void CheckLimitDLL(bool Start) override;

    // The whole command line for a program file name and its arguments.
    std::string CommandLine(std::string_view tail) const {
        return m_programDirectory + "/" + std::string(tail);
    }

private:
    platform::ProcessRecord LaunchCompanion(const std::string& tail, bool track);
    void WriteRecord(std::string_view prefix, platform::ProcessRecord record);
    platform::ProcessRecord ReadRecord(std::string_view prefix);

    std::string m_programDirectory;
    platform::ProcessLauncher& m_launcher;
    platform::RegistrySettings& m_settings;
    const sampling::SamplingState* m_state = nullptr;
};

} // namespace quantiro::companions
