#include "ui/RateBar.h"

#include <QPainter>
#include <algorithm>

namespace quantiro::ui {

RateBar::RateBar(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int RateBar::FilledHeight() const {
    const int inner = height() - (m_framed ? 2 : 0);
    if (m_maximum <= 0) {
        return m_value > 0 ? inner : 0; // every rate is at a maximum of 0
    }
    const double share = std::clamp(m_value / m_maximum, 0.0, 1.0);
    return static_cast<int>(share * inner + 0.5);
}

void RateBar::Refresh() {
    // Ten values a second arrive; most leave the bar's pixels as they are.
    const int filled = FilledHeight();
    if (filled != m_shownHeight) {
        m_shownHeight = filled;
        update();
    }
}

void RateBar::SetMaximum(std::int32_t maximum) {
    m_maximum = maximum;
    m_shownHeight = -1;
    Refresh();
}

void RateBar::SetValue(double value) {
    m_value = value;
    Refresh();
}

void RateBar::SetFramed(bool framed) {
    m_framed = framed;
    m_shownHeight = -1;
    Refresh();
}

void RateBar::SetColours(QColor background, QColor high, QColor normal) {
    m_background = background;
    m_high = high;
    m_normal = normal;
    m_shownHeight = -1;
    Refresh();
}

void RateBar::SetWarningPercent(int percent) {
    m_warningPercent = percent;
    m_shownHeight = -1;
    Refresh();
}

void RateBar::paintEvent(QPaintEvent*) {
    ++m_repaints;
    QPainter painter(this);
    QRect inner = rect();
    if (m_framed) {
        painter.setPen(QColor(96, 96, 96));
        painter.drawRect(inner.adjusted(0, 0, -1, -1));
        inner.adjust(1, 1, -1, -1);
    }
    painter.fillRect(inner, m_background);
    const int filled = std::max(m_shownHeight, 0);
    const int warningHeight = inner.height() * m_warningPercent / 100;
    const int normalPart = std::min(filled, warningHeight);
    painter.fillRect(
        QRect(inner.left(), inner.bottom() - normalPart + 1, inner.width(), normalPart), m_normal);
    if (filled > warningHeight) {
        const int highPart = filled - warningHeight;
        painter.fillRect(QRect(inner.left(), inner.bottom() - filled + 1, inner.width(), highPart),
                         m_high);
    }
}

} // namespace quantiro::ui
