#include "ui/Icons.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace quantiro::ui {

namespace {

constexpr int kSize = 32;

template <typename Draw> QIcon Drawn(Draw draw) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

void Gear(QPainter& p, QColor colour) {
    p.setPen(QPen(colour, 4));
    for (int i = 0; i < 8; ++i) {
        const double angle = i * M_PI / 4;
        p.drawLine(QPointF(16 + 9 * std::cos(angle), 16 + 9 * std::sin(angle)),
                   QPointF(16 + 14 * std::cos(angle), 16 + 14 * std::sin(angle)));
    }
    p.setBrush(colour);
    p.drawEllipse(QPointF(16, 16), 9, 9);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(16, 16), 4, 4);
}

} // namespace

QIcon MenuIcon(int number) {
    switch (number) {
    case 1:
        return Drawn([](QPainter& p) { Gear(p, QColor(80, 80, 80)); });
    case 2: // a window above another
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(60, 60, 60), 2));
            p.setBrush(QColor(200, 200, 200));
            p.drawRect(4, 12, 18, 14);
            p.setBrush(QColor(70, 130, 220));
            p.drawRect(10, 4, 18, 14);
        });
    case 3: // down into the tray
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(60, 60, 60), 3));
            p.drawLine(16, 4, 16, 20);
            p.drawLine(9, 13, 16, 20);
            p.drawLine(23, 13, 16, 20);
            p.drawLine(5, 27, 27, 27);
        });
    case 4: // end
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(200, 30, 30), 5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(7, 7, 25, 25);
            p.drawLine(25, 7, 7, 25);
        });
    case 5: // about
        return Drawn([](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 90, 200));
            p.drawEllipse(2, 2, 28, 28);
            p.setBrush(Qt::white);
            p.drawEllipse(14, 7, 4, 4);
            p.drawRect(14, 13, 4, 12);
        });
    case 6: // reports: a small chart
        return Drawn([](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 90, 200));
            p.drawRect(4, 18, 6, 10);
            p.setBrush(QColor(220, 40, 40));
            p.drawRect(13, 8, 6, 20);
            p.setBrush(QColor(40, 160, 60));
            p.drawRect(22, 13, 6, 15);
        });
    default:
        return {};
    }
}

QIcon MeterIcon() {
    QIcon icon;
    // Read as PNG by name: a reader left to guess the format loads every image
    // plug-in to ask it.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(QStringLiteral(":/icons/quantiro-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

QIcon ToolsIcon() {
    return Drawn([](QPainter& p) { Gear(p, QColor(80, 80, 80)); });
}

} // namespace quantiro::ui
