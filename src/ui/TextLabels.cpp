#include "ui/TextLabels.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <utility>

namespace quantiro::ui {

namespace {

// Where a label puts one line of plain text `width` wide: the top left corner.
QPointF TextCorner(const QRect& area, Qt::Alignment align, qreal width, const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal lineHeight = metrics.ascent() + metrics.descent();
    qreal left = area.left();
    if (align & Qt::AlignRight) {
        left = area.right() + 1 - width;
    } else if (align & Qt::AlignHCenter) {
        left = area.left() + (area.width() - width) / 2;
    }
    qreal top = area.top();
    if (align & Qt::AlignBottom) {
        top = area.bottom() + 1 - lineHeight;
    } else if (align & Qt::AlignVCenter) {
        top = area.top() + (area.height() - lineHeight) / 2;
    }
    return {left, top};
}

// A glyph's ink may reach a little past its advance on either side.
constexpr int kInkOverhang = 2;

} // namespace

AmountLabel::AmountLabel(const QString& text, QWidget* parent)
    : QWidget(parent) {
    SetText(text);
}

void AmountLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_font = QRawFont();
        m_current = false;
        update();
    }
    QWidget::changeEvent(event);
}

void AmountLabel::PlaceGlyphs() {
    if (!m_font.isValid()) {
        m_font = QRawFont::fromFont(font());
    }
    m_glyphs = m_font.glyphIndexesForString(m_text);
    m_placed = m_font.isValid() && !m_glyphs.contains(0u);
    m_current = true;
    m_positions.clear();
    if (!m_placed) {
        return;
    }
    qreal x = 0;
    for (const QPointF& advance : m_font.advancesForGlyphIndexes(m_glyphs)) {
        m_positions.append(QPointF(x, 0));
        x += advance.x();
    }
    m_positions.append(QPointF(x, 0));
}

void AmountLabel::SetText(const QString& text) {
    if (text == m_text && !m_text.isEmpty()) {
        return;
    }
    m_text = text;
    if (QAccessible::isActive()) {
        setAccessibleName(m_text); // what a label tells a screen reader
    }
    // Unseen, the glyphs wait for the first paint: a meter hidden in the tray then
    // loads no font at all.
    if (!isVisible()) {
        m_current = false;
        return;
    }
    const bool wasPlaced = m_current && m_placed;
    const QList<quint32> oldGlyphs = std::exchange(m_glyphs, {});
    const QList<QPointF> oldPositions = std::exchange(m_positions, {});
    PlaceGlyphs();
    if (!wasPlaced || !m_placed) {
        update();
        return;
    }
    // The glyphs before the first difference and after the last stay where they are.
    const qsizetype shorter = std::min(oldGlyphs.size(), m_glyphs.size());
    qsizetype first = 0;
    while (first < shorter && oldGlyphs[first] == m_glyphs[first] &&
           oldPositions[first] == m_positions[first] &&
           oldPositions[first + 1] == m_positions[first + 1]) {
        ++first;
    }
    qsizetype oldLast = oldGlyphs.size(), newLast = m_glyphs.size();
    while (oldLast > first && newLast > first && oldGlyphs[oldLast - 1] == m_glyphs[newLast - 1] &&
           oldPositions[oldLast - 1] == m_positions[newLast - 1] &&
           oldPositions[oldLast] == m_positions[newLast]) {
        --oldLast;
        --newLast;
    }
    if (first == oldLast && first == newLast) {
        return;
    }
    const qreal from = std::min(oldPositions[first].x(), m_positions[first].x());
    const qreal to = std::max(oldPositions[oldLast].x(), m_positions[newLast].x());
    // The text starts at the label's left edge.
    const int left = static_cast<int>(std::floor(from)) - kInkOverhang;
    const int right = static_cast<int>(std::ceil(to)) + kInkOverhang;
    update(QRect(left, 0, right - left, height()));
}

void AmountLabel::paintEvent(QPaintEvent*) {
    if (!m_current) {
        PlaceGlyphs();
    }
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    if (!m_placed) {
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, m_text);
        return;
    }
    QGlyphRun run;
    run.setRawFont(m_font);
    run.setGlyphIndexes(m_glyphs);
    run.setPositions(m_positions.first(m_glyphs.size()));
    const QFontMetricsF metrics(font());
    const QPointF corner = TextCorner(rect(), Qt::AlignLeft | Qt::AlignVCenter, 0, font());
    painter.drawGlyphRun(QPointF(corner.x(), std::round(corner.y() + metrics.ascent())), run);
}

void FixedTextLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_layout = QStaticText();
    }
    QLabel::changeEvent(event);
}

void FixedTextLabel::showEvent(QShowEvent* event) {
    if (std::exchange(m_fitWidth, false)) {
        resize(sizeHint().width(), height());
    }
    QLabel::showEvent(event);
}

void FixedTextLabel::paintEvent(QPaintEvent*) {
    if (m_layout.text() != text()) {
        m_layout.setText(text());
        m_layout.setTextFormat(Qt::PlainText);
        m_layout.prepare(QTransform(), font());
    }
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.setFont(font());
    painter.drawStaticText(TextCorner(contentsRect(),
                                      QStyle::visualAlignment(layoutDirection(), alignment()),
                                      m_layout.size().width(), font()),
                           m_layout);
}

} // namespace quantiro::ui
