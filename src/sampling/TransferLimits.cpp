#include "sampling/TransferLimits.h"

#include "common/Rounding.h"
#include "sampling/ParameterFile.h"

namespace quantiro::sampling {

TransferLimits::TransferLimits(std::string parameterFile, platform::SettingsStore& settings)
    : m_parameterFile(std::move(parameterFile))
    , m_settings(settings) {}

void TransferLimits::Update() {
    // The file is read every time, even when both speeds are set. A missing, short
    // or malformed file counts as speeds of 0 and switches the check off until a
    // later call finds a good one.
    const auto file = ReadParameterFile(m_parameterFile);
    const double fileDownload = file ? (*file)[2].download : 0;
    const double fileUpload = file ? (*file)[2].upload : 0;

    const double tolerance =
        RoundToInt16(platform::Read(m_settings, values::kRateTolerancePercent));

    double speed = platform::Read(m_settings, values::kDownloadForLimits);
    if (speed == 0) {
        speed = fileDownload;
    }
    m_limits.download = speed / 10 * (tolerance / 100);

    speed = platform::Read(m_settings, values::kUploadForLimits);
    if (speed == 0) {
        speed = fileUpload;
    }
    m_limits.upload = speed / 10 * (tolerance / 100);

    m_limits.enabled = platform::Read(m_settings, values::kRateCheck) && file.has_value();
}

} // namespace quantiro::sampling
