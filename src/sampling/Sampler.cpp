#include "sampling/Sampler.h"

#include <algorithm>

namespace quantiro::sampling {

Sampler::Sampler(ifstats::InterfaceTableReader& reader, platform::Clock& clock,
                 const TransferLimits& limits, TickCollaborators collaborators)
    : m_reader(reader)
    , m_clock(clock)
    , m_limits(limits)
    , m_with(collaborators) {}

void Sampler::OnTick() {
    if (!m_updateCheckDone && m_autoUpdate) {
        if (++m_updateTicks == kUpdateCheckTicks) {
            m_with.update.RunUpdateCheck();
            m_updateCheckDone = true;
        }
    }

    if (m_with.reload.ChangedByFamily()) {
        m_with.reload.ReloadSettings();
    }

    SampleInterface();

    // The settings are asked only while warnings are on: one read fewer a tick.
    if (m_limitWarnings && !m_with.reload.LimitWarningsSilenced()) {
        if (++m_limitWatcherTicks == kLimitWatcherTicks) {
            m_limitWatcherTicks = 0;
            m_with.limits.StartLimitWatcher(false, RunTotals());
        }
    }
}

void Sampler::Wait() {
    if (!m_waiting) {
        m_waiting = true;
        m_with.display.ShowWaiting();
    }
}

void Sampler::SampleInterface() {
    // An interface that is gone makes the tick do nothing; the previous totals and
    // tick time wait for its return.
    if (!m_reader.HasRows()) {
        Wait();
        return;
    }
    // A second snapshot, as the first only told that the interface exists. It can
    // have lost the row in between; then this tick, too, does nothing.
    const auto& rows = m_reader.Read();
    if (rows.empty()) {
        Wait();
        return;
    }
    const platform::InterfaceRow& current = rows.front();

    // After a wait every detail is written afresh. Both sides are references, so a
    // tick copies no row.
    static const platform::InterfaceRow kNothingSeen;
    m_with.display.RefreshDetails(current, m_waiting ? kNothingSeen : m_lastSeen);
    m_waiting = false;

    // The run's first sample, or the first of another interface (the default route
    // moved, the link was made anew), only takes up the counters: what the link
    // carried before is not this run's, and a rate needs two samples of one link.
    // It shows a rate of 0, is never implausible and never counts.
    const bool takingUp = !m_hasPreviousSample || current.index != m_lastSeen.index ||
                          current.name != m_lastSeen.name;
    m_hasPreviousSample = true;
    // The totals as the previous sample left them: a wait leaves them untouched.
    const Totals previous = AdvanceTotals(current, takingUp);

    const double receivedDelta = m_totals.received - previous.received;
    const double sentDelta = m_totals.sent - previous.sent;
    // Unsigned arithmetic keeps the elapsed time right across the 49.7-day wrap.
    const std::uint32_t now = m_clock.TickMilliseconds();
    const std::uint32_t elapsed = now - m_previousTickTime;
    double downloadRate = 0;
    double uploadRate = 0;
    if (elapsed != 0 && !takingUp) {
        downloadRate = receivedDelta * 1'000'000 / elapsed;
        uploadRate = sentDelta * 1'000'000 / elapsed;
    }

    if (!m_limits.Exceeded(downloadRate, uploadRate)) {
        // Counted before it is shown: traffic that waits to be told apart is then
        // withheld from the amounts at once, so they never run ahead and fall back.
        CountSample(receivedDelta, sentDelta, elapsed, takingUp);
        m_with.display.ShowErrorMarker(false);
        m_with.display.ShowRates(std::max(downloadRate, 0.0), std::max(uploadRate, 0.0));
        const Totals shown = RunTotals();
        m_with.display.ShowAmounts(shown.received, shown.sent, m_monthBase + shown.received);
    } else {
        RejectSample(receivedDelta, sentDelta);
    }

    m_lastSeen = current;
    m_previousTickTime = now;
}

Totals Sampler::AdvanceTotals(const platform::InterfaceRow& current, bool takingUp) {
    if (takingUp) {
        m_receivedTrack = {};
        m_sentTrack = {};
    }
    const double linkReceived =
        ContinueTotal(ifstats::KilobyteSample(current.bytesReceived), m_receivedTrack);
    const double linkSent = ContinueTotal(ifstats::KilobyteSample(current.bytesSent), m_sentTrack);
    const Totals previous = m_totals;
    if (takingUp) {
        // The totals go on from where they stood, 0 at the start, without a jump.
        m_receivedOffset = previous.received - linkReceived;
        m_sentOffset = previous.sent - linkSent;
    }
    m_totals.received = m_receivedOffset + linkReceived;
    m_totals.sent = m_sentOffset + linkSent;
    return previous;
}

void Sampler::CountSample(double receivedDelta, double sentDelta, std::uint32_t elapsed,
                          bool takingUp) {
    // Traffic: more than 1 kB either way within a second of the previous tick.
    // Only such ticks add on-line time; with exact counting every tick's
    // kilobytes reach the hour, across any gap, as the kernel counted them.
    const bool traffic =
        (receivedDelta > kCountingThresholdKb || sentDelta > kCountingThresholdKb) &&
        elapsed < kMaxCountedGapMs && !takingUp;
    const bool counting = traffic || (m_with.records.CountsEveryKilobyte() && !takingUp &&
                                      (receivedDelta != 0 || sentDelta != 0));
    if (counting) {
        m_with.records.Count(receivedDelta, sentDelta, traffic ? elapsed : 0);
        // The hour change is noticed on the first counting tick of the new hour,
        // whose traffic has just gone to the old hour.
        if (m_with.records.HourChanged()) {
            m_with.records.StartNextHour();
        }
    }
}

void Sampler::RejectSample(double receivedDelta, double sentDelta) {
    // An implausible sample stays in the run's totals, as the counters say, but its
    // traffic is not counted; the labels keep their last texts.
    ++m_rejectedSamples;
    m_with.display.ShowErrorMarker(true);
    m_with.records.Reject(receivedDelta, sentDelta);
    m_with.display.ShowRates(0, 0);
}

} // namespace quantiro::sampling
