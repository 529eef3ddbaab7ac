#include "ui/TextLabels.h"

#include <QApplication>
#include <QScreen>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quantiro::ui {
namespace {

// A label on a small window, in the meter's small font, shown offscreen.
template <typename Label> struct Shown {
    explicit Shown(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
        : label(new Label(text, &window)) {
        if constexpr (std::is_base_of_v<QLabel, Label>) {
            label->setAlignment(align);
        }
        QFont small = label->font();
        small.setPixelSize(9);
        label->setFont(small);
        label->setGeometry(4, 4, 113, 12);
        window.setAutoFillBackground(true);
        window.resize(121, 20);
        window.show();
    }
    // The window as the screen holds it, not painted afresh for the asking.
    QImage Screen() {
        QCoreApplication::processEvents();
        return window.screen()->grabWindow(window.winId()).toImage();
    }
    QWidget window;
    Label* label;
};

TEST(TextLabelsTest, AChangedAmountShowsAsTheSameAmountDrawnAfresh) {
    const std::vector<std::pair<QString, QString>> changes = {
        {"61.79 MB", "61.80 MB"},   // the last digits
        {"9.99 MB", "10.00 MB"},    // every digit, one more
        {"999.99 MB", "1.00 GB"},   // shorter, another unit
        {"1 234 567", "7 234 567"}, // the first digit only
        {"12.34 kB", ""},
        {"", "0.00 kB"},
        {"↓ 1.5 kBps", "↓ 12.5 kBps"},
        {"5.00 MB", QString(QChar(0xE000)) + " MB"}, // a glyph the font lacks
        {QString(QChar(0xE000)) + " MB", "5.00 MB"},
    };
    // Also while the window is hidden (in the tray), when nothing is drawn until it
    // shows again.
    for (const bool hidden : {false, true}) {
        for (const auto& [before, after] : changes) {
            Shown<AmountLabel> changed(before);
            changed.Screen();
            changed.window.setVisible(!hidden);
            changed.label->SetText(after);
            changed.window.show();
            Shown<AmountLabel> fresh(after);
            EXPECT_TRUE(changed.Screen() == fresh.Screen())
                << before.toStdString() << " -> " << after.toStdString()
                << (hidden ? " while hidden" : "");
        }
    }
}

TEST(TextLabelsTest, AFixedTextShowsAsALabelShowsIt) {
    for (const Qt::Alignment align :
         {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignTop,
          Qt::AlignHCenter | Qt::AlignBottom}) {
        for (const char* text : {"Transfer miesięczny:", "Odeb.:", "Wysł.:", "kBps", "100"}) {
            Shown<FixedTextLabel> fixed(QString::fromUtf8(text), align);
            Shown<QLabel> label(QString::fromUtf8(text), align);
            EXPECT_TRUE(fixed.Screen() == label.Screen()) << text << " aligned " << align;
        }
    }
}

TEST(TextLabelsTest, ACaptionLeftWithoutAWidthIsAsWideAsItsTextOnceShown) {
    QWidget window;
    auto* caption = new FixedTextLabel(QStringLiteral("Transfer miesięczny:"), &window);
    caption->resize(0, 12);
    caption->FitWidthWhenShown();
    QLabel label(caption->text());
    window.show();
    EXPECT_EQ(caption->width(), label.sizeHint().width());
}

} // namespace
} // namespace quantiro::ui
