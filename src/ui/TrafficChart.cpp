#include "ui/TrafficChart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

namespace quantiro::ui {

namespace {

const QColor kOnlineColour(0, 128, 0);

struct AxisUnit {
    double kilobytes;
    const char* name;
};

// The unit of the largest value, and a rounded top for the axis in that unit.
std::pair<AxisUnit, double> AxisFor(double largestKb) {
    constexpr std::array<AxisUnit, 4> kUnits{
        {{1, "kB"}, {1024, "MB"}, {1024.0 * 1024, "GB"}, {1024.0 * 1024 * 1024, "TB"}}};
    AxisUnit unit = kUnits[0];
    for (const AxisUnit& candidate : kUnits) {
        if (largestKb >= candidate.kilobytes) {
            unit = candidate;
        }
    }
    const double largest = std::max(largestKb / unit.kilobytes, 1.0);
    // 1, 2 or 5 times a power of ten, so that the five grid lines read evenly.
    const double power = std::pow(10.0, std::floor(std::log10(largest)));
    double top = power;
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        top = step * power;
        if (top >= largest) {
            break;
        }
    }
    return {unit, top};
}

QString AxisNumber(double value) {
    return QString::number(value, 'g', 4);
}

// What both axes run to: the traffic's unit and rounded top, and the hours' top.
struct ChartAxes {
    AxisUnit unit;
    double top = 0;
    double hoursTop = 0;
};

// Where the plot lies, the axes' widths on either side of it and a text line's height.
struct PlotFrame {
    QRect plot;
    int left = 0;
    int right = 0;
    int line = 0;
};

ChartAxes AxesFor(const std::vector<TrafficChart::Bar>& bars) {
    double largestKb = 0, longestHours = 0;
    for (const TrafficChart::Bar& bar : bars) {
        largestKb = std::max({largestKb, bar.downloadKb, bar.uploadKb});
        longestHours = std::max(longestHours, bar.onlineHours);
    }
    const auto [unit, top] = AxisFor(largestKb);
    return {.unit = unit, .top = top, .hoursTop = std::max(1.0, std::ceil(longestHours))};
}

QString TrafficAxisText(const ChartAxes& axes, int step) {
    return AxisNumber(axes.top * step / 4) + QLatin1Char(' ') + QLatin1String(axes.unit.name);
}

QString HoursAxisText(const ChartAxes& axes, int step) {
    return AxisNumber(axes.hoursTop * step / 4) + QStringLiteral(" h");
}

PlotFrame FrameFor(const QFontMetrics& metrics, const ChartAxes& axes, QSize size) {
    // Each axis as wide as its widest number: a year's hours run to four digits.
    int left = metrics.horizontalAdvance(QStringLiteral("0000 MB"));
    int right = 0;
    for (int i = 0; i <= 4; ++i) {
        left = std::max(left, metrics.horizontalAdvance(TrafficAxisText(axes, i)));
        right = std::max(right, metrics.horizontalAdvance(HoursAxisText(axes, i)));
    }
    left += 10;
    right += 10;
    const int line = metrics.height();
    return {.plot =
                QRect(left, line * 2, size.width() - left - right, size.height() - line * 4 - 4),
            .left = left,
            .right = right,
            .line = line};
}

// The legend, above the plot.
void DrawLegend(QPainter& painter, const QFontMetrics& metrics, const PlotFrame& frame,
                const AxisUnit& unit) {
    const int line = frame.line;
    int x = frame.plot.left();
    const auto legend = [&](const QColor& colour, const QString& text, bool isLine) {
        if (isLine) {
            painter.fillRect(x, line / 2 + 3, 14, 2, colour);
        } else {
            painter.fillRect(x, line / 2 - 2, 12, 10, colour);
        }
        painter.drawText(x + 18, line, text);
        x += 18 + metrics.horizontalAdvance(text) + 16;
    };
    legend(TrafficChart::kDownloadColour,
           QStringLiteral("Odebrano [%1]").arg(QLatin1String(unit.name)), false);
    legend(TrafficChart::kUploadColour,
           QStringLiteral("Wysłano [%1]").arg(QLatin1String(unit.name)), false);
    legend(kOnlineColour, QStringLiteral("Czas online [h]"), true);
}

// The grid and both axes' numbers.
void DrawGrid(QPainter& painter, const QPalette& palette, const PlotFrame& frame,
              const ChartAxes& axes) {
    const QRect& plot = frame.plot;
    const int line = frame.line;
    for (int i = 0; i <= 4; ++i) {
        const int y = plot.bottom() - plot.height() * i / 4;
        painter.setPen(QPen(palette.mid().color(), 0, i == 0 ? Qt::SolidLine : Qt::DotLine));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(palette.text().color());
        painter.drawText(QRect(0, y - line / 2, frame.left - 6, line),
                         Qt::AlignRight | Qt::AlignVCenter, TrafficAxisText(axes, i));
        painter.setPen(kOnlineColour);
        painter.drawText(QRect(plot.right() + 6, y - line / 2, frame.right - 6, line),
                         Qt::AlignLeft | Qt::AlignVCenter, HoursAxisText(axes, i));
    }
}

// The bars, their labels under the plot and the time on line across them.
void DrawBars(QPainter& painter, const QPalette& palette, const QFontMetrics& metrics,
              const PlotFrame& frame, const ChartAxes& axes,
              const std::vector<TrafficChart::Bar>& bars) {
    const QRect& plot = frame.plot;
    const double slot = static_cast<double>(plot.width()) / static_cast<double>(bars.size());
    const double barWidth = std::max(1.0, slot * 0.35);
    const int labelEvery = std::max(
        1, static_cast<int>(std::ceil((metrics.horizontalAdvance(bars.back().label) + 8) / slot)));
    const auto height = [&](double kilobytes) {
        return plot.height() * std::clamp(kilobytes / axes.unit.kilobytes / axes.top, 0.0, 1.0);
    };
    QPainterPath online;
    bool drawing = false;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const TrafficChart::Bar& bar = bars[i];
        const double start = plot.left() + slot * static_cast<double>(i) + slot * 0.15;
        if (bar.recorded) {
            const double down = height(bar.downloadKb), up = height(bar.uploadKb);
            painter.fillRect(QRectF(start, plot.bottom() - down, barWidth, down),
                             TrafficChart::kDownloadColour);
            painter.fillRect(QRectF(start + barWidth, plot.bottom() - up, barWidth, up),
                             TrafficChart::kUploadColour);
            const QPointF point(start + barWidth,
                                plot.bottom() - plot.height() * bar.onlineHours / axes.hoursTop);
            drawing ? online.lineTo(point) : online.moveTo(point);
            drawing = true;
        } else {
            drawing = false;
        }
        if (static_cast<int>(i) % labelEvery == 0) {
            painter.setPen(palette.text().color());
            // A label of its own bar's width stands under that bar; a longer one,
            // shown on every few bars, starts at its bar.
            if (labelEvery == 1) {
                painter.drawText(QRectF(plot.left() + slot * static_cast<double>(i),
                                        plot.bottom() + 2, slot, frame.line),
                                 Qt::AlignHCenter | Qt::AlignTop, bar.label);
            } else {
                painter.drawText(QRectF(start, plot.bottom() + 2, slot * labelEvery, frame.line),
                                 Qt::AlignLeft | Qt::AlignTop, bar.label);
            }
        }
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kOnlineColour, 2));
    painter.drawPath(online);
}

} // namespace

const QColor TrafficChart::kDownloadColour(255, 0, 0);
const QColor TrafficChart::kUploadColour(0, 0, 255);

TrafficChart::TrafficChart(QWidget* parent)
    : QWidget(parent) {
    setMinimumSize(420, 220);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrafficChart::SetBars(std::vector<Bar> bars) {
    m_bars = std::move(bars);
    update();
}

void TrafficChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    const QFontMetrics metrics = painter.fontMetrics();
    const ChartAxes axes = AxesFor(m_bars);
    const PlotFrame frame = FrameFor(metrics, axes, size());
    if (frame.plot.width() < 10 || frame.plot.height() < 10) {
        return;
    }
    DrawLegend(painter, metrics, frame, axes.unit);
    DrawGrid(painter, palette(), frame, axes);
    if (!m_bars.empty()) {
        DrawBars(painter, palette(), metrics, frame, axes, m_bars);
    }
}

LimitBar::LimitBar(QWidget* parent)
    : QWidget(parent) {
    setMinimumHeight(18);
    setMaximumHeight(18);
}

void LimitBar::SetUse(double usedKb, std::optional<double> estimateKb, double limitKb) {
    m_used = usedKb;
    m_estimate = estimateKb;
    m_limit = limitKb;
    update();
}

void LimitBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF area = QRectF(rect()).adjusted(0, 2, -1, -2);
    painter.fillRect(area, palette().base());
    const double scale = std::max({m_limit, m_used, m_estimate.value_or(0), 1.0}) * 1.1;
    const auto at = [&](double kilobytes) {
        return area.left() + area.width() * kilobytes / scale;
    };
    const bool over = m_limit > 0 && m_used >= m_limit;
    painter.fillRect(QRectF(area.left(), area.top(), at(m_used) - area.left(), area.height()),
                     over ? QColor(200, 0, 0) : QColor(0, 150, 0));
    if (m_estimate && *m_estimate > m_used) {
        painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        painter.drawRect(
            QRectF(at(m_used), area.top(), at(*m_estimate) - at(m_used), area.height() - 1));
    }
    if (m_limit > 0) {
        painter.setPen(QPen(QColor(200, 0, 0), 2));
        painter.drawLine(QPointF(at(m_limit), 0), QPointF(at(m_limit), height()));
    }
    painter.setPen(palette().mid().color());
    painter.drawRect(area);
}

} // namespace quantiro::ui
