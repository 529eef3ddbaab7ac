#include "applications/ApplicationTraffic.h"

namespace quantiro::applications {

namespace {

constexpr double kBytesPerKb = 1024.0;

// What a counter moved: from zero when it went back, as after a restart.
std::uint64_t Moved(std::uint64_t now, std::uint64_t before) {
    return now >= before ? now - before : now;
}

} // namespace

std::vector<ApplicationDelta>
ApplicationTraffic::Differences(const platform::ApplicationCounters& now,
                                std::uint32_t linkHeaderBytes) {
    std::vector<ApplicationDelta> deltas;
    const bool counting = m_started && now.interfaceName == m_interface;
    const bool sameRun = counting && now.run == m_run;
    if (counting) {
        for (const platform::ApplicationCounter& counter : now.applications) {
            platform::ApplicationCounter before;
            if (const auto last = m_last.find(counter.application);
                sameRun && last != m_last.end()) {
                before = last->second;
            }
            const auto received =
                Moved(counter.receivedBytes, before.receivedBytes) +
                Moved(counter.receivedPackets, before.receivedPackets) * linkHeaderBytes;
            const auto sent = Moved(counter.sentBytes, before.sentBytes) +
                              Moved(counter.sentPackets, before.sentPackets) * linkHeaderBytes;
            if (received == 0 && sent == 0) {
                continue;
            }
            deltas.push_back(
                {.application = counter.application,
                 .downloadKb = static_cast<double>(received) / kBytesPerKb,
                 .uploadKb = static_cast<double>(sent) / kBytesPerKb,
                 .downloadLocalKb = static_cast<double>(Moved(counter.receivedLocalBytes,
                                                              before.receivedLocalBytes)) /
                                    kBytesPerKb,
                 .uploadLocalKb =
                     static_cast<double>(Moved(counter.sentLocalBytes, before.sentLocalBytes)) /
                     kBytesPerKb});
        }
    }
    m_started = true;
    m_interface = now.interfaceName;
    m_run = now.run;
    m_last.clear();
    for (const platform::ApplicationCounter& counter : now.applications) {
        m_last.emplace(counter.application, counter);
    }
    return deltas;
}

} // namespace quantiro::applications
