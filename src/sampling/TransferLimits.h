#pragma once

#include "platform/Settings.h"

#include <string>

namespace quantiro::sampling {

// The tick's plausibility limits, worked out from the speed settings (or, where they
// are 0, the parameter file) and the tolerance percentage, and their verdict on a
// tick's rates.
class TransferLimits {
public:
    // Kilobytes per second, and whether the check is on at all.
    struct Limits {
        double download = 0;
        double upload = 0;
        bool enabled = false;
    };

    TransferLimits(std::string parameterFile, platform::SettingsStore& settings);

    // Reads the settings and the parameter file again and sets the limits.
    void Update();
    void Set(const Limits& limits) { m_limits = limits; }
    const Limits& Current() const { return m_limits; }
    // Whether rates (rate units, kB/s x 1000) go past the limits while the check is on.
    bool Exceeded(double downloadRate, double uploadRate) const {
        return m_limits.enabled &&
               (downloadRate > m_limits.download * 1000 || uploadRate > m_limits.upload * 1000);
    }

private:
    std::string m_parameterFile;
    platform::SettingsStore& m_settings;
    Limits m_limits;
};

} // namespace quantiro::sampling
