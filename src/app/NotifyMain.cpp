// quantiro-notify <replaces id> <critical 0|1> <summary> <body>: shows one warning
// of the limit watcher as a desktop notification, replacing the one with the given
// number, and prints the new one's number. Without a notification service: a
// message box when there is a display, else one line on standard error.
#include "app/Display.h"
#include "ui/FamilyApplication.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QMessageBox>
#include <cstdio>

int main(int argc, char** argv) {
    bool numbered = false;
    const uint replaces = argc == 5 ? QString::fromLocal8Bit(argv[1]).toUInt(&numbered) : 0;
    const QString urgency = argc == 5 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (!numbered || (urgency != QStringLiteral("0") && urgency != QStringLiteral("1"))) {
        std::fputs("Użycie: quantiro-notify <numer 0-4294967295> <0|1> <tytuł> <treść>\n", stderr);
        return 2;
    }
    const bool critical = urgency == QStringLiteral("1");
    const QString summary = QString::fromUtf8(argv[3]);
    const QString body = QString::fromUtf8(argv[4]);

    QDBusInterface notifications(QStringLiteral("org.freedesktop.Notifications"),
                                 QStringLiteral("/org/freedesktop/Notifications"),
                                 QStringLiteral("org.freedesktop.Notifications"),
                                 QDBusConnection::sessionBus());
    if (notifications.isValid()) {
        const QVariantMap hints{
            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(critical ? 2 : 1)},
            {QStringLiteral("desktop-entry"), QStringLiteral("quantiro")}};
        const QDBusReply<uint> id =
            notifications.call(QStringLiteral("Notify"), QStringLiteral("Quantiro"), replaces,
                               QStringLiteral("quantiro"), summary, body, QStringList(), hints, -1);
        if (id.isValid()) {
            std::printf("%u\n", id.value());
            return 0;
        }
    }
    std::printf("0\n");
    std::fflush(stdout);
    if (quantiro::app::DisplayAvailable()) {
        QApplication application(argc, argv);
        quantiro::ui::PrepareFamilyApplication();
        QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::Warning,
                        QStringLiteral("Quantiro"), summary + QStringLiteral("\n\n") + body);
        box.exec();
        return 0;
    }
    std::fprintf(stderr, "quantiro: %s %s\n", argv[3],
                 QString(body).replace('\n', ' ').toUtf8().constData());
    return 0;
}
