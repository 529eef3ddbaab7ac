#pragma once

#include <QGlyphRun>
#include <QLabel>
#include <QRawFont>
#include <QStaticText>
#include <QWidget>

namespace quantiro::ui {

// One line of figures that change on every tick, left-aligned and centred in height
// as a label puts them. It draws the font's glyphs for the text straight, without
// the layout and shaping a label repeats on each change, and a change repaints only
// the glyphs that differ: mostly the last digits. Text the font has no glyph for is
// drawn as text, and repainted whole.
class AmountLabel final : public QWidget {
public:
    AmountLabel(const QString& text, QWidget* parent);
    void SetText(const QString& text);
    const QString& Text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PlaceGlyphs();

    QString m_text;
    QRawFont m_font;
    QList<quint32> m_glyphs;
    QList<QPointF> m_positions; // one more than the glyphs: the end of the last
    bool m_placed = false;      // drawn from the glyphs, not as text
    bool m_current = false;     // the glyphs are those of the text and font
};

// A label whose text is set once, or seldom: its layout is kept from one paint to
// the next, so that a neighbour's change repainting it costs no new layout.
class FixedTextLabel final : public QLabel {
public:
    using QLabel::QLabel;
    // Takes the width its text needs when it first shows. Measuring it now would
    // load the font, which a meter that starts hidden in the tray never needs.
    void FitWidthWhenShown() { m_fitWidth = true; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QStaticText m_layout;
    bool m_fitWidth = false;
};

} // namespace quantiro::ui
