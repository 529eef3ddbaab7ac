#pragma once

#include "platform/Registry.h"
#include "sampling/SamplingState.h"

#include <string>

namespace quantiro::records {

// Works out the plausibility limits of the tick from the speed settings (or, where
// they are 0, the parameter file) and the tolerance percentage.
class TransferLimits {
public:
    TransferLimits(std::string parameterFile, platform::RegistrySettings& settings,
                   sampling::SamplingState& state);

    // Reads the settings and the parameter file again and sets the limits.
    void Update();

private:
    std::string m_parameterFile;
    platform::RegistrySettings& m_settings;
    sampling::SamplingState& m_state;
};

} // namespace quantiro::records
