#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace quantiro::ui {

// A bar with a value and a maximum (rate units), filled from the bottom, or from the
// left when laid horizontally.
// Its appearance settings: a frame on or off, a background colour, a colour for
// the part above the warning share and one for the part below it, and that share
// in percent. It repaints only when what it would draw changes.
class RateBar final : public QWidget {
public:
    explicit RateBar(QWidget* parent = nullptr);

    void SetMaximum(std::int32_t maximum);
    std::int32_t Maximum() const { return m_maximum; }
    void SetValue(double value);
    double Value() const { return m_value; }

    void SetFramed(bool framed);
    void SetColours(QColor background, QColor high, QColor normal);
    void SetWarningPercent(int percent);
    void SetHorizontal(bool horizontal);

    int Repaints() const { return m_repaints; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FilledLength() const;
    int Length(const QRect& area) const { return m_horizontal ? area.width() : area.height(); }
    // The stretch from `from` to `to` pixels along the bar, from where it starts filling.
    QRect Strip(int from, int to) const;
    void Refresh();

    std::int32_t m_maximum = 100;
    double m_value = 0;
    int m_shownLength = -1;
    bool m_horizontal = false;
    bool m_framed = false;
    QColor m_background{224, 224, 224};
    QColor m_high{255, 0, 0};
    QColor m_normal{0, 0, 255};
    int m_warningPercent = 70;
    int m_repaints = 0;
};

} // namespace quantiro::ui
