#pragma once

#include "platform/Settings.h"
#include "sampling/SamplingState.h"

#include <string>

namespace quantiro::sampling {

// Works out the plausibility limits of the tick from the speed settings (or, where
// they are 0, the parameter file) and the tolerance percentage.
class TransferLimits {
public:
    TransferLimits(std::string parameterFile, platform::SettingsStore& settings,
                   sampling::SamplingState& state);

    // Reads the settings and the parameter file again and sets the limits.
    void Update();

private:
    std::string m_parameterFile;
    platform::SettingsStore& m_settings;
    sampling::SamplingState& m_state;
};

} // namespace quantiro::sampling
