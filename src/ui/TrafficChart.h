#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

namespace quantiro::ui {

// A bar chart of traffic drawn with QPainter: for each period the download (red)
// and upload (blue) side by side against a left axis in kB, MB or GB, the time on
// line as a green line against a right axis in hours, and a legend. A period
// without records has no bars and breaks the line.
class TrafficChart final : public QWidget {
public:
    struct Bar {
        QString label;
        bool recorded = false;
        double downloadKb = 0;
        double uploadKb = 0;
        double onlineHours = 0;
    };

    explicit TrafficChart(QWidget* parent = nullptr);
    void SetBars(std::vector<Bar> bars);

    static const QColor kDownloadColour;
    static const QColor kUploadColour;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Bar> m_bars;
};

// The billing period as one bar: what is used so far, the estimate for the
// period's end outlined beyond it, and the limit as a vertical line.
class LimitBar final : public QWidget {
public:
    explicit LimitBar(QWidget* parent = nullptr);
    void SetUse(double usedKb, std::optional<double> estimateKb, double limitKb);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_used = 0;
    std::optional<double> m_estimate;
    double m_limit = 0;
};

} // namespace quantiro::ui
