#pragma once

#include "platform/Clock.h"
#include "platform/Notifier.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::metrics {

using namespace std::chrono_literals;

// One application's traffic on the measured link since the meter started, in kB.
struct ApplicationFigures {
    std::string application; // as recorded; see common/ApplicationNames.h
    double receivedKb = 0;
    double sentKb = 0;
    bool operator==(const ApplicationFigures&) const = default;
};

// One network's traffic since the meter started, in kB, as its hours count it.
struct NetworkFigures {
    std::string id; // empty for the rest
    std::string name;
    std::string kind; // as "sieci" stores it
    bool metered = false;
    double receivedKb = 0;
    double sentKb = 0;
    bool operator==(const NetworkFigures&) const = default;
};

// A network's own plan: its use in its period as the meter counts it, and its limit.
struct PlanFigures {
    std::string network; // the network's id
    double usedKb = 0;
    double limitKb = 0;
    bool operator==(const PlanFigures&) const = default;
};

// What the meter tells Prometheus, in kilobytes as it counts them.
struct MeterFigures {
    std::string device;    // the measured interface; empty while it waits
    double receivedKb = 0; // this run's totals
    double sentKb = 0;
    double monthReceivedKb = 0;  // "Transfer miesięczny"
    double periodReceivedKb = 0; // the billing period, as the limit watcher reckons it
    double periodSentKb = 0;
    double periodLimitKb = 0;            // 0: no limit
    std::int64_t periodStartSeconds = 0; // local midnight of its first day, Unix time
    std::uint64_t rejectedSamples = 0;
    // Every application counted this run (the file names only a few of them).
    std::vector<ApplicationFigures> applications;
    // What the measured link exchanged with the local network this run.
    double localReceivedKb = 0;
    double localSentKb = 0;
    // Every network counted this run (the file names only a few of them).
    std::vector<NetworkFigures> networks;
    std::vector<PlanFigures> plans;
    bool operator==(const MeterFigures&) const = default;
};

// At most this many applications, and networks, get series of their own; the rest
// are one series.
inline constexpr std::size_t kNamedApplications = 10;
inline constexpr std::size_t kNamedNetworks = 10;

// The Prometheus text exposition of `figures`: bytes (kB x 1024), every metric
// with its HELP and TYPE, names under "quantiro_" (node_exporter has its own
// node_network_*), the interface as the label "device".
std::string FormatMetrics(const MeterFigures& figures, std::string_view version,
                          std::int64_t nowSeconds);

// Unix time of a local date and time.
std::int64_t UnixSeconds(const platform::LocalDateTime& local);

// Keeps quantiro.prom in a directory for node_exporter's textfile collector: the
// whole file written under another name and renamed, at most every 15 s and only
// when a figure changed. A directory that cannot take it is told of once; the
// meter counts on and the next write tries again.
//
// The applications: the ten largest when they first appear get a series each and
// keep it for the run, everything else is summed into "pozostałe". An application
// never moves from that sum into a series of its own, which would make the sum
// fall and read as a counter reset; and Prometheus' series stay bounded. The
// networks likewise.
class MetricsFile {
public:
    static constexpr auto kInterval = 15s;
    static constexpr std::string_view kFileName = "quantiro.prom";

    MetricsFile(platform::Clock& clock, platform::Notifier& notifier, std::string version);

    // The directory from the settings; empty: no file is written.
    void SetDirectory(std::string directory);
    // Whether it is time to offer figures: cheap, for every tick.
    bool Due() const;
    // Writes `figures` when they differ from those last written.
    void Offer(const MeterFigures& figures);

private:
    // Told once until a write succeeds again.
    void Failed(const std::string& why);
    // The named applications and the rest, as the file shows them.
    std::vector<ApplicationFigures> Bounded(std::vector<ApplicationFigures> all);
    std::vector<NetworkFigures> Bounded(std::vector<NetworkFigures> all);

    platform::Clock& m_clock;
    platform::Notifier& m_notifier;
    std::string m_version;
    std::string m_directory;
    std::uint32_t m_lastOffer = 0;
    bool m_offered = false;
    std::optional<MeterFigures> m_written;
    bool m_failureShown = false;
    std::set<std::string, std::less<>> m_named;         // applications with a series of their own
    std::set<std::string, std::less<>> m_namedNetworks; // networks' ids, likewise
};

} // namespace quantiro::metrics
