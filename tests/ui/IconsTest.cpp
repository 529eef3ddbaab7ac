#include "ui/Icons.h"

#include <QImageReader>
#include <QPixmap>

#include <gtest/gtest.h>

namespace quantiro::ui {
namespace {

// The icon reads its pictures only when asked; whatever size a tray, a title bar or
// a window manager asks for, it must give what Qt gives from all eight held at once.
TEST(IconsTest, TheProgramIconGivesWhatQtGivesFromAllItsSizesHeld) {
    QIcon held;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(QStringLiteral(":/icons/quantiro-%1.png").arg(size), "png");
        held.addPixmap(QPixmap::fromImage(reader.read()));
    }
    const QIcon icon = MeterIcon();
    ASSERT_EQ(icon.availableSizes(), held.availableSizes());
    const QSize asked[] = {{16, 16}, {20, 20},   {22, 22},   {23, 23}, {32, 32}, {47, 47}, {64, 64},
                           {96, 96}, {256, 256}, {300, 300}, {24, 48}, {48, 20}, {1, 1}};
    for (const QSize& size : asked) {
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
            SCOPED_TRACE(testing::Message()
                         << size.width() << "x" << size.height() << " mode " << mode);
            EXPECT_EQ(icon.actualSize(size, mode), held.actualSize(size, mode));
            EXPECT_EQ(icon.pixmap(size, mode).toImage(), held.pixmap(size, mode).toImage());
        }
    }
}

} // namespace
} // namespace quantiro::ui
