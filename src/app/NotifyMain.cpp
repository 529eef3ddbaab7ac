// quantiro-notify <replaces id> <critical 0|1> <summary> <body>: shows one warning
// of the limit watcher as a desktop notification, replacing the one with the given
// number, and prints the new one's number. Without a notification service: a
// message box when there is a display, else one line on standard error.
#include "app/Display.h"
#include "platform/linux/DbusNotifications.h"
#include "ui/FamilyApplication.h"

#include <QString>
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

    if (const auto id = quantiro::platform::linux_impl::SendDesktopNotification(
            replaces, critical, summary.toStdString(), body.toStdString())) {
        std::printf("%u\n", *id);
        return 0;
    }
    std::printf("0\n");
    std::fflush(stdout);
    if (quantiro::app::DisplayAvailable()) {
        quantiro::ui::ShowWarningBox(argc, argv, critical, summary, body);
        return 0;
    }
    std::fprintf(stderr, "quantiro: %s %s\n", argv[3],
                 QString(body).replace('\n', ' ').toUtf8().constData());
    return 0;
}
