#pragma once

#include <cstdint>
#include <string>

namespace quantiro::sampling {

// The settings the plausibility limits are worked out from.
struct SpeedSettings {
    // The line's nominal speeds as the options store them; 0: the parameter file's.
    std::int32_t downloadSpeed = 0;
    std::int32_t uploadSpeed = 0;
    // How far past the nominal speed a tick may go.
    std::int16_t tolerancePercent = 130;
    // The check is on at all.
    bool rateCheck = true;
};

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

    explicit TransferLimits(std::string parameterFile);

    // Reads the parameter file again and sets the limits from it and `settings`.
    void Update(const SpeedSettings& settings);
    void Set(const Limits& limits) { m_limits = limits; }
    const Limits& Current() const { return m_limits; }
    // Whether rates (rate units, kB/s x 1000) go past the limits while the check is on.
    bool Exceeded(double downloadRate, double uploadRate) const {
        return m_limits.enabled &&
               (downloadRate > m_limits.download * 1000 || uploadRate > m_limits.upload * 1000);
    }

private:
    std::string m_parameterFile;
    Limits m_limits;
};

} // namespace quantiro::sampling
