// The floor of a Qt window on this machine, for the window rows of the footprint
// bench: a shown label and a tray icon, as little as a meter's window can be, with
// a 10 Hz timer that sets the label's text. With an argument the text changes on
// every tick, as the amounts do with traffic; without one it stays the same.
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv) {
    const bool changing = argc > 1;
    QApplication application(argc, argv);
    QLabel label(QStringLiteral("0 kB"));
    label.resize(125, 20);
    label.show();
    QPixmap picture(16, 16);
    picture.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.show();
    QTimer tick;
    long long count = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        count += changing ? 1 : 0;
        label.setText(QStringLiteral("%1 kB").arg(count));
    });
    tick.start(100);
    return application.exec();
}
