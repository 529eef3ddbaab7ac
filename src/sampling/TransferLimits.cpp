#include "sampling/TransferLimits.h"

#include "sampling/ParameterFile.h"

namespace quantiro::sampling {

TransferLimits::TransferLimits(std::string parameterFile)
    : m_parameterFile(std::move(parameterFile)) {}

void TransferLimits::Update(const SpeedSettings& settings) {
    // The file is read every time, even when both speeds are set. A missing, short
    // or malformed file counts as speeds of 0 and switches the check off until a
    // later call finds a good one.
    const auto file = ReadParameterFile(m_parameterFile);
    const double fileDownload = file ? (*file)[2].download : 0;
    const double fileUpload = file ? (*file)[2].upload : 0;

    const double tolerance = settings.tolerancePercent;

    double speed = settings.downloadSpeed;
    if (speed == 0) {
        speed = fileDownload;
    }
    m_limits.download = speed / 10 * (tolerance / 100);

    speed = settings.uploadSpeed;
    if (speed == 0) {
        speed = fileUpload;
    }
    m_limits.upload = speed / 10 * (tolerance / 100);

    m_limits.enabled = settings.rateCheck && file.has_value();
}

} // namespace quantiro::sampling
