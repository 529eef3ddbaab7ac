#include "ui/Icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <array>
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

namespace {

constexpr std::array kProgramIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

QPixmap ReadProgramIcon(int size) {
    // Read as PNG by name: a reader left to guess the format loads every image
    // plug-in to ask it.
    QImageReader reader(QStringLiteral(":/icons/quantiro-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

// The program's icon, read when a size is asked for. Kept decoded, its eight sizes
// would hold about 360 kB for each window and the tray, for the sake of the title
// bar and the window manager, which each ask once. A size is picked and scaled as
// Qt picks among added pixmaps: the smallest that is not smaller, else the largest.
class ProgramIconEngine final : public QIconEngine {
public:
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int best = BestSize(size);
        QSize actual(best, best);
        if (actual.width() > size.width() || actual.height() > size.height()) {
            actual.scale(size, Qt::KeepAspectRatio);
        }
        return actual;
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap picture = ReadProgramIcon(BestSize(size));
        const QSize shown = actualSize(size, mode, state);
        if (!picture.isNull() && picture.size() != shown) {
            picture = picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        if (!picture.isNull() && mode != QIcon::Normal) {
            QStyleOption option;
            const QPixmap styled =
                QApplication::style()->generatedIconPixmap(mode, picture, &option);
            if (!styled.isNull()) {
                picture = styled;
            }
        }
        return picture;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off) {
            for (const int size : kProgramIconSizes) {
                sizes.append(QSize(size, size));
            }
        }
        return sizes;
    }

    QIconEngine* clone() const override { return new ProgramIconEngine; }

private:
    static int BestSize(const QSize& wanted) {
        const int area = wanted.width() * wanted.height();
        for (const int size : kProgramIconSizes) {
            if (size * size >= area) {
                return size;
            }
        }
        return kProgramIconSizes.back();
    }
};

} // namespace

QIcon MeterIcon() {
    return QIcon(new ProgramIconEngine);
}

QIcon ToolsIcon() {
    return Drawn([](QPainter& p) { Gear(p, QColor(80, 80, 80)); });
}

QIcon ApplicationIcon(std::string_view icon) {
    // Without a desktop's own theme (a bare X session) Qt looks in hicolor alone,
    // which holds few programs' icons; Debian's default theme has the rest.
    if (QIcon::fallbackThemeName() == QStringLiteral("hicolor")) {
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    }
    const QString name = QString::fromUtf8(icon.data(), static_cast<qsizetype>(icon.size()));
    QIcon found = name.startsWith(QLatin1Char('/')) ? QIcon(name) : QIcon::fromTheme(name);
    return found.isNull() ? QIcon::fromTheme(QStringLiteral("application-x-executable")) : found;
}

} // namespace quantiro::ui
