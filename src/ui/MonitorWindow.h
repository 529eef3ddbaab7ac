#pragma once

#include "monitor/RateHistory.h"
#include "platform/Settings.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace quantiro::ui {

// The live monitor: a resizable window with the download and upload rates of the
// monitored interface as a scrolling graph, the last two minutes at 100 ms or the
// last hour at 1 s, with the current, average and peak rate of the span. It draws
// only while it can be seen, and keeps its geometry in the settings.
class MonitorWindow final : public QWidget {
public:
    struct Counters {
        std::uint64_t received, sent;
    };
    // `readCounters` gives the monitored interface's byte counters, or nothing
    // while it is gone.
    MonitorWindow(platform::SettingsStore& settings,
                  std::function<std::optional<Counters>()> readCounters);

    // Starts sampling ten times a second.
    void Start();
    // Adds one 100 ms rate sample (what sampling does; tests feed series).
    void Feed(monitor::RatePoint rate);
    void SaveGeometry();

    QWidget& Graph() const;
    QString FiguresText() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class GraphArea;
    void Sample();
    void Refresh();
    void SetOnTop(bool onTop);
    monitor::Span CurrentSpan() const;

    platform::SettingsStore& m_settings;
    std::function<std::optional<Counters>()> m_readCounters;
    monitor::RateHistory m_history;
    GraphArea* m_graph;
    QComboBox* m_span;
    QLabel* m_download;
    QLabel* m_upload;
    QCheckBox* m_notWithMeter;
    QMenu m_menu;
    QTimer m_timer;
    QElapsedTimer m_sinceSample;
    bool m_drawnFlat = false; // the picture shows a line flat from end to end
};

} // namespace quantiro::ui
