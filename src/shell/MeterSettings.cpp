#include "shell/MeterSettings.h"

#include "common/Rounding.h"
#include "limits/LimitCheck.h"

#include <limits>
#include <optional>

namespace quantiro::shell {

using platform::Write;

namespace {

std::int32_t Read16(platform::SettingsStore& store, const values::LongValue& value) {
    const std::int32_t stored = platform::Read(store, value);
    const bool fits = stored >= std::numeric_limits<std::int16_t>::min() &&
                      stored <= std::numeric_limits<std::int16_t>::max();
    return fits ? stored : value.defaultValue;
}

// The four values the family keeps of a started program; the two handle-like ones
// are the pidfd and 0, both identifiers the pid.
void StoreProcessRecord(platform::SettingsStore& store, std::string_view prefix,
                        const platform::StartedProcess& process) {
    const std::int32_t fields[] = {process.pidfd, 0, process.pid, process.pid};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        store.WriteLong(std::string(prefix) + std::string(values::kProcessRecordFields[i]),
                        fields[i]);
    }
}

// Writes every value even when one fails (a full disk), so each lands with the
// retry, then throws the first failure.
template <typename... Writes> void WriteEach(Writes&&... writes) {
    std::optional<platform::SettingsError> first;
    const auto one = [&](auto&& write) {
        try {
            write();
        } catch (const platform::SettingsError& error) {
            if (!first) {
                first = error;
            }
        }
    };
    (one(writes), ...);
    if (first) {
        throw *first;
    }
}

} // namespace

MeterSettings MeterSettingsFile::Read() {
    platform::SettingsStore& store = m_store;
    return {
        .chosenShape = ChosenShape(),
        .limitWarnings = platform::Read(store, values::kWarningsEnabled),
        .exactCounting = platform::Read(store, values::kExactCounting),
        .autoUpdate = platform::Read(store, values::kAutoUpdate) == 1,
        .startMonitor = platform::Read(store, values::kStartMonitor),
        .startHidden = platform::Read(store, values::kStartHidden),
        .startSummary = !platform::Read(store, values::kNoStartSummary),
        .onTop = platform::Read(store, values::kOnTop),
        .showCloseNotice = platform::Read(store, values::kShowCloseNotice),
        .scale = presentation::ScaleForSpeeds(platform::Read(store, values::kDownloadForScale),
                                              platform::Read(store, values::kUploadForScale)),
        .speeds = {.downloadSpeed = platform::Read(store, values::kDownloadForLimits),
                   .uploadSpeed = platform::Read(store, values::kUploadForLimits),
                   .tolerancePercent =
                       RoundToInt16(platform::Read(store, values::kRateTolerancePercent)),
                   .rateCheck = platform::Read(store, values::kRateCheck)},
        .metricsDirectory = platform::Read(store, values::kMetricsDirectory),
        .periodLimitKb = limits::LimitKilobytes(platform::Read(store, values::kPeriodLimit)),
        .billingDay = platform::Read(store, values::kBillingDay),
        .limitThresholds = {platform::Read(store, values::kLimitThreshold1),
                            platform::Read(store, values::kLimitThreshold2),
                            platform::Read(store, values::kLimitThreshold3)},
        .networkPlans = limits::ReadNetworkPlans(store),
        .internetOnly = platform::Read(store, values::kInternetOnly),
        .localNetworks = platform::Read(store, values::kLocalNetworks),
        .interfaceName = platform::Read(store, values::kInterfaceName),
        .monthDay = RoundToInt16(platform::Read(store, values::kMonthDay)),
    };
}

const shapes::WindowShape* MeterSettingsFile::ChosenShape() {
    return shapes::ShapeOfVariant(platform::Read(m_store, values::kWindowVariant));
}

bool MeterSettingsFile::ChangedByFamily() {
    return platform::Read(m_store, values::kSettingsChanged);
}

void MeterSettingsFile::ClearChanged() {
    Write(m_store, values::kSettingsChanged, false);
}

bool MeterSettingsFile::LimitWarningsSilenced() {
    return platform::Read(m_store, values::kWarningsSuppressed);
}

void MeterSettingsFile::StoreRunning(bool running) {
    Write(m_store, values::kIsRunning, running);
}

void MeterSettingsFile::StoreMonthDay(std::int16_t monthDay) {
    Write(m_store, values::kMonthDay, monthDay);
}

void MeterSettingsFile::StoreStartHidden(bool hidden) {
    Write(m_store, values::kStartHidden, hidden);
}

void MeterSettingsFile::StoreOnTop(bool onTop) {
    Write(m_store, values::kOnTop, onTop);
}

void MeterSettingsFile::StoreShowCloseNotice(bool show) {
    Write(m_store, values::kShowCloseNotice, show);
}

PixelPosition MeterSettingsFile::Position() {
    return {.left = Read16(m_store, m_shape.left) / shapes::kTwipsPerPixel,
            .top = Read16(m_store, m_shape.top) / shapes::kTwipsPerPixel};
}

void MeterSettingsFile::StorePosition(const PixelPosition& position) {
    WriteEach([&] { Write(m_store, m_shape.top, position.top * shapes::kTwipsPerPixel); },
              [&] { Write(m_store, m_shape.left, position.left * shapes::kTwipsPerPixel); });
}

void MeterSettingsFile::StoreCorrection(const platform::HourAmounts* hour) {
    WriteEach([&] { Write(m_store, values::kCorrectionPending, hour != nullptr); },
              [&] { Write(m_store, values::kCorrectionUpload, hour ? hour->upload : 0); },
              [&] { Write(m_store, values::kCorrectionDownload, hour ? hour->download : 0); },
              [&] { Write(m_store, values::kCorrectionTime, hour ? hour->time : 0); });
}

void MeterSettingsFile::ClearCorrection() {
    if (platform::Read(m_store, values::kCorrectionPending)) {
        Write(m_store, values::kCorrectionPending, false);
    }
}

void MeterSettingsFile::StoreMonitorRecord(const platform::StartedProcess& process) {
    StoreProcessRecord(m_store, values::kMonitorRecordPrefix, process);
}

void MeterSettingsFile::StoreShapeRecord(const platform::StartedProcess& process) {
    StoreProcessRecord(m_store, values::kVariantRecordPrefix, process);
}

bool MeterSettingsFile::Shown(std::int32_t identifier) {
    return m_store.ReadBool(std::string(values::kNoticeShownPrefix) + std::to_string(identifier),
                            false);
}

void MeterSettingsFile::MarkShown(std::int32_t identifier) {
    m_store.WriteBool(std::string(values::kNoticeShownPrefix) + std::to_string(identifier), true);
}

} // namespace quantiro::shell
