#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

namespace quantiro::ui {

// The largest applications as horizontal bars drawn with QPainter: the name on the
// left, what it received (red) and sent (blue) end to end on one scale, then what it
// exchanged with the local network when that is left out of the figures (grey), and
// the amount after the bar.
class ApplicationChart final : public QWidget {
public:
    static const QColor kLocalColour;

    struct Bar {
        QString name;
        double downloadKb = 0;
        double uploadKb = 0;
        QString amount;     // received + sent, as the table writes it
        double localKb = 0; // beside the figures, not in them
    };

    explicit ApplicationChart(QWidget* parent = nullptr);
    void SetBars(std::vector<Bar> bars);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Bar> m_bars;
};

} // namespace quantiro::ui
