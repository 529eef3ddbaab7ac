#include "sampling/Sampler.h"

#include "common/Rounding.h"
#include "sampling/ContinuousTotal.h"
#include "shell/RegistryValues.h"

#include <algorithm>

namespace quantiro::sampling {

Sampler::Sampler(SamplingState& state, ifstats::CIpHelper& interfaceReader, platform::Clock& clock,
                 platform::RegistrySettings& settings, TickCollaborators collaborators)
    : m_state(state)
    , m_interfaceReader(interfaceReader)
    , m_clock(clock)
    , m_settings(settings)
    , m_with(collaborators) {}

void Sampler::Timer1_Timer() {
    if (!m_updateCheckDone && m_state.AutoUpdateEnabled) {
        if (++m_updateTickCount == kUpdateCheckFirings) {
            m_with.update.CheckForUpdate();
            m_updateCheckDone = true;
        }
    }

    if (values::Read(m_settings, values::kWasChanged)) {
        m_with.reload.ChangeParameters();
    }

    ProcessTick(m_selectedInterface + 1);

    const bool suppressed = values::Read(m_settings, values::kWarningsSuppressed);
    if (!suppressed && m_state.WarningsEnabled) {
        if (++m_warningTickCount == kWarningFirings) {
            m_warningTickCount = 0;
            m_with.limits.CheckLimitDLL(false);
        }
    }
}

void Sampler::ProcessTick(std::int32_t interfacePosition) {
    // An interface that is gone (or a picker that was empty at start-up) makes the
    // tick do nothing; the previous totals and tick time wait for its return.
    if (interfacePosition < 1 || interfacePosition > m_interfaceReader.Interfaces()->Count()) {
        return;
    }
    if (!m_lastSeenInterface) {
        m_lastSeenInterface = std::make_shared<ifstats::CInterface>();
    }
    // A second snapshot, as the first only told that the position exists. It can
    // have lost the row in between; then this tick, too, does nothing.
    const auto snapshot = m_interfaceReader.Interfaces();
    if (interfacePosition > snapshot->Count()) {
        return;
    }
    const std::shared_ptr<ifstats::CInterface> current = snapshot->Item(interfacePosition);

    m_with.display.RefreshDetails(*current, *m_lastSeenInterface);

    m_state.totalReceived = ContinueTotal(current->OctetsReceived(), m_state.lastReceivedSample,
                                          m_state.receivedHalfWraps);
    m_state.totalSent =
        ContinueTotal(current->OctetsSent(), m_state.lastSentSample, m_state.sentHalfWraps);

    const double receivedDelta = m_state.totalReceived - m_previousTotalReceived;
    const double sentDelta = m_state.totalSent - m_previousTotalSent;
    // Unsigned arithmetic keeps the elapsed time right across the 49.7-day wrap.
    const std::uint32_t elapsed = m_clock.GetTickCount() - m_previousTickTime;
    double downloadRate = 0;
    double uploadRate = 0;
    if (elapsed != 0) {
        downloadRate = receivedDelta * 1'000'000 / elapsed;
        uploadRate = sentDelta * 1'000'000 / elapsed;
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
            elapsed < kMaxCountedGapMs;
        if (counting) {
            m_state.hourTime = RoundToInt32(static_cast<double>(m_state.hourTime) + elapsed);
            m_state.hourDownload = RoundToInt32(m_state.hourDownload + receivedDelta);
            m_state.hourUpload = RoundToInt32(m_state.hourUpload + sentDelta);
            // The hour change is noticed on the first counting tick of the new hour,
            // whose traffic has just gone to the old hour.
            if (m_with.records.IsTimeChanged()) {
                m_with.records.MakeNextRecord();
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

    m_lastSeenInterface = current;
    m_previousTotalReceived = m_state.totalReceived;
    m_previousTotalSent = m_state.totalSent;
    m_previousTickTime = m_clock.GetTickCount();
}

} // namespace quantiro::sampling
