#include "ui/RateBar.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace quantiro::ui {

RateBar::RateBar(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int RateBar::FilledLength() const {
    const int inner = Length(rect()) - (m_framed ? 2 : 0);
    if (m_maximum <= 0) {
        return m_value > 0 ? inner : 0; // every rate is at a maximum of 0
    }
    const double share = std::clamp(m_value / m_maximum, 0.0, 1.0);
    return static_cast<int>(std::lround(share * inner));
}

void RateBar::Refresh() {
    // Ten values a second arrive; most leave the bar's pixels as they are.
    const int filled = FilledLength();
    if (filled == m_shownLength) {
        return;
    }
    // Only the stretch between the old and the new end is drawn anew.
    if (m_shownLength >= 0 && isVisible()) {
        update(Strip(std::min(filled, m_shownLength), std::max(filled, m_shownLength)));
    } else {
        update();
    }
    m_shownLength = filled;
}

void RateBar::SetMaximum(std::int32_t maximum) {
    m_maximum = maximum;
    m_shownLength = -1;
    Refresh();
}

void RateBar::SetValue(double value) {
    m_value = value;
    Refresh();
}

void RateBar::SetFramed(bool framed) {
    m_framed = framed;
    m_shownLength = -1;
    Refresh();
}

void RateBar::SetColours(QColor background, QColor high, QColor normal) {
    m_background = background;
    m_high = high;
    m_normal = normal;
    m_shownLength = -1;
    Refresh();
}

void RateBar::SetHorizontal(bool horizontal) {
    m_horizontal = horizontal;
    m_shownLength = -1;
    Refresh();
}

void RateBar::SetWarningPercent(int percent) {
    m_warningPercent = percent;
    m_shownLength = -1;
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
    const int filled = std::max(m_shownLength, 0);
    const int warningLength = Length(inner) * m_warningPercent / 100;
    painter.fillRect(Strip(0, std::min(filled, warningLength)), m_normal);
    if (filled > warningLength) {
        painter.fillRect(Strip(warningLength, filled), m_high);
    }
}

QRect RateBar::Strip(int from, int to) const {
    const QRect inner = m_framed ? rect().adjusted(1, 1, -1, -1) : rect();
    return m_horizontal ? QRect(inner.left() + from, inner.top(), to - from, inner.height())
                        : QRect(inner.left(), inner.bottom() - to + 1, inner.width(), to - from);
}

} // namespace quantiro::ui
