#include "metrics/MetricsFile.h"

#include "common/ApplicationNames.h"
#include "common/DecimalText.h"
#include "common/FamilyPaths.h"
#include "platform/Files.h"

#include <algorithm>
#include <ctime>
#include <tuple>

namespace quantiro::metrics {

namespace {

constexpr double kBytesPerKilobyte = 1024;

// Label values escape backslash, quote and line feed.
std::string LabelValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// Whole numbers as Prometheus reads them, whatever the process locale.
std::string Number(double value) {
    return FixedDecimal(value, 0, ".");
}

std::string Bytes(double kilobytes) {
    return Number(kilobytes * kBytesPerKilobyte);
}

void AppendHeader(std::string& text, std::string_view name, std::string_view type,
                  std::string_view help) {
    text += "# HELP " + std::string(name) + " " + std::string(help) + "\n";
    text += "# TYPE " + std::string(name) + " " + std::string(type) + "\n";
}

void AppendSample(std::string& text, std::string_view name, const std::string& labels,
                  const std::string& value) {
    text += std::string(name) + labels + " " + value + "\n";
}

// A metric of one sample.
void AppendMetric(std::string& text, std::string_view name, std::string_view type,
                  std::string_view help, const std::string& labels, const std::string& value) {
    AppendHeader(text, name, type, help);
    AppendSample(text, name, labels, value);
}

// Each application's bytes either way, then the local network's part of the totals.
void AppendApplicationMetrics(std::string& text, const MeterFigures& figures,
                              const std::string& device) {
    for (const auto& [name, help, sent] :
         {std::tuple{"quantiro_application_receive_bytes_total",
                     "Bytes received by an application on the measured interface since the meter "
                     "started.",
                     false},
          std::tuple{"quantiro_application_transmit_bytes_total",
                     "Bytes sent by an application on the measured interface since the meter "
                     "started.",
                     true}}) {
        AppendHeader(text, name, "counter", help);
        for (const ApplicationFigures& application : figures.applications) {
            AppendSample(text, name,
                         "{application=\"" + LabelValue(application.application) + "\"}",
                         Bytes(sent ? application.sentKb : application.receivedKb));
        }
    }
    AppendMetric(text, "quantiro_local_receive_bytes_total", "counter",
                 "Bytes received from the local network on the measured interface since the "
                 "meter started.",
                 device, Bytes(figures.localReceivedKb));
    AppendMetric(text, "quantiro_local_transmit_bytes_total", "counter",
                 "Bytes sent to the local network on the measured interface since the meter "
                 "started.",
                 device, Bytes(figures.localSentKb));
}

// Each network's bytes either way, labelled so a dashboard can show the metered ones
// apart; the id keeps two networks of one name apart.
void AppendNetworkMetrics(std::string& text, const MeterFigures& figures) {
    for (const auto& [name, help, sent] :
         {std::tuple{"quantiro_network_receive_bytes_total",
                     "Bytes received through a network (Wi-Fi, Ethernet, mobile ...) since the "
                     "meter started.",
                     false},
          std::tuple{"quantiro_network_transmit_bytes_total",
                     "Bytes sent through a network since the meter started.", true}}) {
        AppendHeader(text, name, "counter", help);
        for (const NetworkFigures& network : figures.networks) {
            AppendSample(text, name,
                         "{network=\"" + LabelValue(network.name) + "\",id=\"" +
                             LabelValue(network.id) + "\",kind=\"" + LabelValue(network.kind) +
                             "\",metered=\"" + (network.metered ? "true" : "false") + "\"}",
                         Bytes(sent ? network.sentKb : network.receivedKb));
        }
    }
}

// The largest when they first appear keep a series each for the run; the rest is
// one sum, there from the moment it can grow, so it never jumps in or falls.
template <typename Figures, typename Key>
std::vector<Figures> KeepLargest(std::vector<Figures> all,
                                 std::set<std::string, std::less<>>& named, std::size_t most,
                                 Figures rest, Key key) {
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return a.receivedKb + a.sentKb > b.receivedKb + b.sentKb;
    });
    // A row already named as the rest (the meter's own "pozostałe": the counting
    // service's folded programs) is summed into the rest's series, never one of its own
    // beside it under the same label.
    const std::string restKey(key(rest));
    const auto isRest = [&](const Figures& figures) {
        return key(figures) == restKey;
    };
    for (const Figures& figures : all) {
        if (named.size() < most && !isRest(figures)) {
            named.insert(key(figures));
        }
    }
    std::vector<Figures> shown;
    for (const Figures& figures : all) {
        if (named.contains(key(figures)) && !isRest(figures)) {
            shown.push_back(figures);
        } else {
            rest.receivedKb += figures.receivedKb;
            rest.sentKb += figures.sentKb;
        }
    }
    std::sort(shown.begin(), shown.end(),
              [&](const auto& a, const auto& b) { return key(a) < key(b); });
    if (named.size() == most || std::ranges::any_of(all, isRest)) {
        shown.push_back(rest); // there from the moment it can grow, so it never jumps in
    }
    return shown;
}

} // namespace

std::string FormatMetrics(const MeterFigures& figures, std::string_view version,
                          std::int64_t nowSeconds) {
    const std::string device = "{device=\"" + LabelValue(figures.device) + "\"}";
    std::string text;
    AppendMetric(text, "quantiro_receive_bytes_total", "counter",
                 "Bytes received on the measured interface since the meter started.", device,
                 Bytes(figures.receivedKb));
    AppendMetric(text, "quantiro_transmit_bytes_total", "counter",
                 "Bytes sent on the measured interface since the meter started.", device,
                 Bytes(figures.sentKb));
    AppendMetric(text, "quantiro_month_receive_bytes", "gauge",
                 "Bytes received this calendar month, as the meter shows them.", "",
                 Bytes(figures.monthReceivedKb));
    AppendMetric(text, "quantiro_period_receive_bytes", "gauge",
                 "Bytes received in the billing period.", "", Bytes(figures.periodReceivedKb));
    AppendMetric(text, "quantiro_period_transmit_bytes", "gauge",
                 "Bytes sent in the billing period.", "", Bytes(figures.periodSentKb));
    AppendMetric(text, "quantiro_period_limit_bytes", "gauge",
                 "The billing period's data limit in bytes; 0 when none is set.", "",
                 Bytes(figures.periodLimitKb));
    AppendMetric(text, "quantiro_period_start_timestamp_seconds", "gauge",
                 "When the billing period began, in Unix time.", "",
                 std::to_string(figures.periodStartSeconds));
    for (const auto& [name, help, limit] :
         {std::tuple{"quantiro_network_plan_used_bytes",
                     "Bytes a network's own plan counts in its period so far.", false},
          std::tuple{"quantiro_network_plan_limit_bytes", "A network's own plan's data limit.",
                     true}}) {
        if (!figures.plans.empty()) {
            AppendHeader(text, name, "gauge", help);
        }
        for (const PlanFigures& plan : figures.plans) {
            AppendSample(text, name, "{network=\"" + LabelValue(plan.network) + "\"}",
                         Bytes(limit ? plan.limitKb : plan.usedKb));
        }
    }
    AppendMetric(text, "quantiro_rejected_samples_total", "counter",
                 "Samples rejected as implausible since the meter started.", "",
                 std::to_string(figures.rejectedSamples));
    if (!figures.applications.empty()) {
        AppendApplicationMetrics(text, figures, device);
    }
    if (!figures.networks.empty()) {
        AppendNetworkMetrics(text, figures);
    }
    AppendMetric(text, "quantiro_info", "gauge", "The meter's version and measured interface.",
                 "{version=\"" + LabelValue(version) + "\",device=\"" + LabelValue(figures.device) +
                     "\"}",
                 "1");
    AppendMetric(text, "quantiro_last_update_timestamp_seconds", "gauge",
                 "When the meter last wrote these figures, in Unix time.", "",
                 std::to_string(nowSeconds));
    return text;
}

std::int64_t UnixSeconds(const platform::LocalDateTime& local) {
    std::tm parts{};
    parts.tm_year = local.year - 1900;
    parts.tm_mon = local.month - 1;
    parts.tm_mday = local.day;
    parts.tm_hour = local.hour;
    parts.tm_min = local.minute;
    parts.tm_sec = local.second;
    parts.tm_isdst = -1; // as the local zone has it that day
    return static_cast<std::int64_t>(std::mktime(&parts));
}

MetricsFile::MetricsFile(platform::Clock& clock, platform::Notifier& notifier, std::string version)
    : m_clock(clock)
    , m_notifier(notifier)
    , m_version(std::move(version)) {}

void MetricsFile::SetDirectory(std::string directory) {
    if (directory != m_directory) {
        m_directory = std::move(directory);
        m_written.reset(); // a new place gets the figures at the next offer
        m_failureShown = false;
    }
}

bool MetricsFile::Due() const {
    return !m_directory.empty() && (!m_offered || m_clock.TickMilliseconds() - m_lastOffer >=
                                                      static_cast<std::uint32_t>(kInterval / 1ms));
}

std::vector<ApplicationFigures> MetricsFile::Bounded(std::vector<ApplicationFigures> all) {
    return KeepLargest(std::move(all), m_named, kNamedApplications,
                       ApplicationFigures{.application = std::string(applications::kRest)},
                       [](const ApplicationFigures& figures) { return figures.application; });
}

std::vector<NetworkFigures> MetricsFile::Bounded(std::vector<NetworkFigures> all) {
    return KeepLargest(std::move(all), m_namedNetworks, kNamedNetworks,
                       NetworkFigures{.name = std::string(applications::kRest)},
                       [](const NetworkFigures& figures) { return figures.id; });
}

void MetricsFile::Offer(const MeterFigures& offered) {
    m_offered = true;
    m_lastOffer = m_clock.TickMilliseconds();
    MeterFigures figures = offered;
    figures.applications = Bounded(offered.applications);
    figures.networks = Bounded(offered.networks);
    if (m_written == figures) {
        return;
    }
    const std::string path = m_directory + "/" + std::string(kFileName);
    // Another user's meter would write the same name there, and the reader could
    // not tell whose figures it reads.
    if (platform::OthersMayWrite(m_directory)) {
        Failed("katalog „" + m_directory + "” mogą zapisywać inni użytkownicy.");
        return;
    }
    try {
        // Rewritten every 15 s: not worth a wait for the disk on the tick.
        platform::WriteFileWhole(path,
                                 FormatMetrics(figures, m_version, UnixSeconds(m_clock.Now())),
                                 platform::WriteEnd::Cached);
        m_written = figures;
        m_failureShown = false;
    } catch (const paths::PathError& error) {
        Failed(error.what());
    }
}

void MetricsFile::Failed(const std::string& why) {
    if (!m_failureShown) {
        m_failureShown = true;
        m_notifier.ShowMessage("Nie można zapisać metryk dla Prometheusa: " + why);
    }
}

} // namespace quantiro::metrics
