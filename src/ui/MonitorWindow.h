#pragma once

#include "applications/ApplicationRates.h"
#include "applications/ApplicationTraffic.h"
#include "monitor/RateHistory.h"
#include "platform/ApplicationCounters.h"
#include "platform/DesktopEntries.h"
#include "platform/Networks.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;

namespace quantiro::ui {

// The live monitor: a resizable window with the download and upload rates of the
// monitored interface as a scrolling graph, the last two minutes at 100 ms or the
// last hour at 1 s, with the current, average and peak rate of the span. It draws
// only while it can be seen, and keeps its geometry in the settings. Under the
// graph, the applications using the link now, when the counting service runs: over
// the time between its last two readings, which the current figures above then
// cover too, so the list and the link's rate never tell two different moments.
class MonitorWindow final : public QWidget {
public:
    struct Counters {
        std::uint64_t received, sent;
        std::string interfaceName;         // whose applications to ask the service about
        std::uint32_t linkHeaderBytes = 0; // what the link adds to each IP packet
        platform::LinkCounting counting;   // how it counts large packets
    };
    using SettingsWrites = monitor::MonitorSettingsWrites;
    // `readCounters` gives the monitored interface's byte counters, or nothing
    // while it is gone.
    MonitorWindow(const monitor::MonitorSettings& settings, SettingsWrites writes,
                  std::function<std::optional<Counters>()> readCounters);

    // Starts sampling ten times a second.
    void Start();
    // One sample of the counters, `elapsed` after the one before, with the question
    // to the service once a second and its answer taken in on the samples after
    // (what the timer does every 100 ms; tests call it).
    void Sample(std::chrono::milliseconds elapsed);
    // Adds one 100 ms rate sample (what sampling does; tests feed series).
    void Feed(monitor::RatePoint rate);
    // The window as it stands now, for the next start.
    monitor::MonitorSettings CurrentSettings() const;
    void SaveGeometry() const;
    // Lists the applications from the service's counters, asked once a second; a
    // second without an answer empties the list.
    void WatchApplications(platform::ApplicationCounterSource& counters,
                           platform::DesktopEntries& entries);

    QWidget& Graph() const;
    QString FiguresText() const;
    // The network the monitored interface is on, beside the rates; hidden while
    // none is known.
    void ShowNetwork(const platform::Network& network);
    QString NetworkText() const;
    // The applications' lines as shown, or the note; empty while neither shows.
    QString ApplicationsText() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class GraphArea;
    // The link when a question went out: its answer is set against the time and the
    // link of that moment, whenever it comes in.
    struct LinkReading {
        std::chrono::milliseconds at{0}; // on the samples' clock
        std::string interfaceName;
        std::uint64_t received = 0, sent = 0;
    };

    void Refresh();
    void SetOnTop(bool onTop);
    monitor::Span CurrentSpan() const;
    void PollApplications(std::chrono::milliseconds elapsed);
    void ShowAnswer(const platform::ApplicationCounters& answer, const LinkReading& asked);
    void ShowApplications(const std::vector<applications::ApplicationRate>& rates);
    void FillApplicationLines(const std::vector<applications::ApplicationRate>& rates);
    // The lines of the applications under the graph, empty and hidden at first.
    QWidget* MakeApplicationLines();

    struct ApplicationLine {
        QLabel* icon;
        QLabel* name;
        QLabel* download;
        QLabel* upload;
    };

    SettingsWrites m_writes;
    std::function<std::optional<Counters>()> m_readCounters;
    monitor::RateHistory m_history;
    GraphArea* m_graph;
    QComboBox* m_span;
    QLabel* m_download;
    QLabel* m_upload;
    QLabel* m_network;
    QCheckBox* m_notWithMeter;
    QMenu m_menu;
    QTimer m_timer;
    QElapsedTimer m_sinceSample;
    bool m_drawnFlat = false; // the picture shows a line flat from end to end

    platform::ApplicationCounterSource* m_applicationCounters = nullptr;
    platform::DesktopEntries* m_entries = nullptr;
    applications::ApplicationTraffic m_applicationTraffic;
    std::string m_interfaceName;
    std::uint32_t m_linkHeaderBytes = 0;
    platform::LinkCounting m_linkCounting;
    std::chrono::milliseconds m_clock{0};             // the samples' elapsed times summed
    LinkReading m_link;                               // as last sampled
    LinkReading m_asked;                              // when the question out went
    std::optional<LinkReading> m_answered;            // when the last answered question went
    std::optional<monitor::RatePoint> m_linkOverList; // the link's rate while the list shows
    std::chrono::milliseconds m_sincePoll{0};
    bool m_answeredSinceAsk = false;
    int m_pollsUnanswered = 0;
    QWidget* m_applications = nullptr;
    std::vector<ApplicationLine> m_applicationLines;
    QLabel* m_applicationsNote = nullptr;
};

} // namespace quantiro::ui
