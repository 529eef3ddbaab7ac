#include "ui/ApplicationChart.h"

#include "ui/TrafficChart.h"

#include <QPainter>
#include <algorithm>

namespace quantiro::ui {

namespace {

// The colours' names above the bars; the local network's only when a bar has it.
void DrawLegend(QPainter& painter, const QFontMetrics& metrics, bool anyLocal) {
    const int line = metrics.height();
    int x = 8;
    for (const auto& [colour, text] : {std::pair{TrafficChart::kDownloadColour, "Odebrano"},
                                       std::pair{TrafficChart::kUploadColour, "Wysłano"},
                                       std::pair{ApplicationChart::kLocalColour,
                                                 anyLocal ? "Sieć lokalna, nie wliczona" : ""}}) {
        if (*text == '\0') {
            continue;
        }
        painter.fillRect(x, line / 2 - 2, 12, 10, colour);
        const QString label = QString::fromUtf8(text);
        painter.drawText(x + 18, line, label);
        x += 18 + metrics.horizontalAdvance(label) + 16;
    }
}

} // namespace

// A blue-grey that no grey of anti-aliased text matches.
const QColor ApplicationChart::kLocalColour{120, 144, 156};

ApplicationChart::ApplicationChart(QWidget* parent)
    : QWidget(parent) {
    setMinimumSize(420, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ApplicationChart::SetBars(std::vector<Bar> bars) {
    m_bars = std::move(bars);
    update();
}

void ApplicationChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height();

    const bool anyLocal =
        std::any_of(m_bars.begin(), m_bars.end(), [](const Bar& bar) { return bar.localKb > 0; });
    DrawLegend(painter, metrics, anyLocal);
    if (m_bars.empty()) {
        return;
    }

    int nameWidth = 0, amountWidth = 0;
    double largest = 1;
    for (const Bar& bar : m_bars) {
        nameWidth = std::max(nameWidth, metrics.horizontalAdvance(bar.name));
        amountWidth = std::max(amountWidth, metrics.horizontalAdvance(bar.amount));
        largest = std::max(largest, bar.downloadKb + bar.uploadKb + bar.localKb);
    }
    amountWidth += 12;
    // Names take all the room that the amounts and a third of the width for the bars
    // leave; only a name longer than that ends in an ellipsis.
    nameWidth = std::min(nameWidth, width() - width() / 3 - amountWidth - 20) + 12;
    const QRect plot(nameWidth, line * 2, width() - nameWidth - amountWidth - 8,
                     height() - line * 2 - 4);
    if (plot.width() < 10 || plot.height() < 10) {
        return;
    }
    const double slot = static_cast<double>(plot.height()) / static_cast<double>(m_bars.size());
    const double barHeight = std::min(slot * 0.7, line * 1.2);
    for (std::size_t i = 0; i < m_bars.size(); ++i) {
        const Bar& bar = m_bars[i];
        const double top = plot.top() + slot * static_cast<double>(i);
        painter.setPen(palette().text().color());
        painter.drawText(QRectF(4, top, nameWidth - 12, slot), Qt::AlignRight | Qt::AlignVCenter,
                         metrics.elidedText(bar.name, Qt::ElideRight, nameWidth - 12));
        const double barTop = top + (slot - barHeight) / 2;
        double down = plot.width() * bar.downloadKb / largest;
        double up = plot.width() * bar.uploadKb / largest;
        double local = plot.width() * bar.localKb / largest;
        // A row that moved little next to a large one still shows a sliver of a bar.
        if (const double drawn = down + up + local; drawn > 0 && drawn < 2) {
            down *= 2 / drawn;
            up *= 2 / drawn;
            local *= 2 / drawn;
        }
        painter.fillRect(QRectF(plot.left(), barTop, down, barHeight),
                         TrafficChart::kDownloadColour);
        painter.fillRect(QRectF(plot.left() + down, barTop, up, barHeight),
                         TrafficChart::kUploadColour);
        painter.fillRect(QRectF(plot.left() + down + up, barTop, local, barHeight), kLocalColour);
        painter.drawText(QRectF(plot.left() + down + up + local + 6, top, amountWidth, slot),
                         Qt::AlignLeft | Qt::AlignVCenter, bar.amount);
    }
}

} // namespace quantiro::ui
