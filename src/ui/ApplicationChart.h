#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace quantiro::ui {

// The largest applications as horizontal bars drawn with QPainter: the name on the
// left, what it received (red) and sent (blue) end to end on one scale, and the
// amount after the bar.
class ApplicationChart final : public QWidget {
public:
    struct Bar {
        QString name;
        double downloadKb = 0;
        double uploadKb = 0;
        QString amount; // received + sent, as the table writes it
    };

    explicit ApplicationChart(QWidget* parent = nullptr);
    void SetBars(std::vector<Bar> bars);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Bar> m_bars;
};

} // namespace quantiro::ui
