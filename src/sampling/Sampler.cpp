#include "sampling/Sampler.h"

#include "common/Rounding.h"

#include <algorithm>

namespace quantiro::sampling {

Sampler::Sampler(SamplingState& state, ifstats::InterfaceTableReader& reader,
                 platform::Clock& clock, platform::RegistrySettings& settings,
                 TickCollaborators collaborators)
    : m_state(state)
    , m_reader(reader)
    , m_clock(clock)
    , m_settings(settings)
    , m_with(collaborators) {}

void Sampler::OnTick() {
    if (!m_updateCheckDone && m_state.autoUpdateEnabled) {
        if (++m_updateTicks == kUpdateCheckTicks) {
            m_with.update.RunUpdateCheck();
            m_updateCheckDone = true;
        }
    }

    if (platform::Read(m_settings, values::kSettingsChanged)) {
        m_with.reload.ReloadSettings();
    }

    SampleInterface();

    // The settings are asked only while warnings are on: one read fewer a tick.
    if (m_state.warningsEnabled && !platform::Read(m_settings, values::kWarningsSuppressed)) {
        if (++m_limitWatcherTicks == kLimitWatcherTicks) {
            m_limitWatcherTicks = 0;
            m_with.limits.StartLimitWatcher(false);
        }
    }
}

void Sampler::SampleInterface() {
    // An interface that is gone makes the tick do nothing; the previous totals and
    // tick time wait for its return.
    if (!m_reader.HasRows()) {
        return;
    }
    // A second snapshot, as the first only told that the interface exists. It can
    // have lost the row in between; then this tick, too, does nothing.
    const auto& rows = m_reader.Read();
    if (rows.empty()) {
        return;
    }
    const platform::InterfaceRow& current = rows.front();

    m_with.display.RefreshDetails(current, m_lastSeen);

    m_state.totalReceived =
        ContinueTotal(ifstats::KilobyteSample(current.bytesReceived), m_state.receivedTrack);
    m_state.totalSent =
        ContinueTotal(ifstats::KilobyteSample(current.bytesSent), m_state.sentTrack);

    const double receivedDelta = m_state.totalReceived - m_previousTotalReceived;
    const double sentDelta = m_state.totalSent - m_previousTotalSent;
    // Unsigned arithmetic keeps the elapsed time right across the 49.7-day wrap.
    const std::uint32_t elapsed = m_clock.TickMilliseconds() - m_previousTickTime;
    double downloadRate = 0;
    double uploadRate = 0;
    if (elapsed != 0) {
        downloadRate = receivedDelta * 1'000'000 / elapsed;
        uploadRate = sentDelta * 1'000'000 / elapsed;
    }

    // The run's first sample only takes up the counters: a rate needs two samples,
    // so it is shown as 0, never found implausible and never counted.
    const bool takingUp = !m_hasPreviousSample;
    m_hasPreviousSample = true;
    if (takingUp) {
        downloadRate = 0;
        uploadRate = 0;
    }

    m_state.rateExceeded =
        m_state.rateCheckEnabled &&
        (downloadRate > m_state.limitDownload * 1000 || uploadRate > m_state.limitUpload * 1000);

    if (!m_state.rateExceeded) {
        m_with.display.ShowErrorMarker(false);
        m_with.display.ShowRates(std::max(downloadRate, 0.0), std::max(uploadRate, 0.0));
        m_with.display.ShowAmounts(m_state.totalReceived, m_state.totalSent,
                                   m_state.monthBase + m_state.totalReceived);

        const bool counting =
            (receivedDelta > kCountingThresholdKb || sentDelta > kCountingThresholdKb) &&
            elapsed < kMaxCountedGapMs && !takingUp;
        if (counting) {
            m_state.hourTime = RoundToInt32(static_cast<double>(m_state.hourTime) + elapsed);
            m_state.hourDownload = RoundToInt32(m_state.hourDownload + receivedDelta);
            m_state.hourUpload = RoundToInt32(m_state.hourUpload + sentDelta);
            // The hour change is noticed on the first counting tick of the new hour,
            // whose traffic has just gone to the old hour.
            if (m_with.records.HourChanged()) {
                m_with.records.StartNextHour();
            }
        }
    } else {
        // An implausible sample: its traffic is taken off the hour, whatever the
        // earlier ticks added; the labels keep their last texts.
        m_with.display.ShowErrorMarker(true);
        m_state.hourDownload = RoundToInt32(m_state.hourDownload - receivedDelta);
        m_state.hourUpload = RoundToInt32(m_state.hourUpload - sentDelta);
        m_with.display.ShowRates(0, 0);
    }

    m_lastSeen = current;
    m_previousTotalReceived = m_state.totalReceived;
    m_previousTotalSent = m_state.totalSent;
    m_previousTickTime = m_clock.TickMilliseconds();
}

} // namespace quantiro::sampling
