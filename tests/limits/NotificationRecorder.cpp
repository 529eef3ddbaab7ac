// A stand-in for the desktop's notification service on a session bus the test
// started: every Notify call is appended to a file as one line, "replaces_id
// urgency summary|body", and answered with the next number.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QFile>
#include <cstdio>

namespace {

class Recorder final : public QDBusVirtualObject {
public:
    explicit Recorder(QString path)
        : m_path(std::move(path)) {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("GetServerInformation")) {
            return connection.send(
                message.createReply({QStringLiteral("recorder"), QStringLiteral("test"),
                                     QStringLiteral("1"), QStringLiteral("1.2")}));
        }
        if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) {
            return false;
        }
        const QList<QVariant> arguments = message.arguments();
        const QVariantMap hints = qdbus_cast<QVariantMap>(arguments[6]);
        QFile file(m_path);
        file.open(QIODevice::Append);
        file.write(QStringLiteral("%1 %2 %3|%4\n")
                       .arg(arguments[1].toUInt())
                       .arg(hints.value(QStringLiteral("urgency")).toUInt())
                       .arg(arguments[3].toString(), arguments[4].toString().replace('\n', ' '))
                       .toUtf8());
        return connection.send(message.createReply(QVariant::fromValue<uint>(++m_last)));
    }
    QString introspect(const QString&) const override { return {}; }

private:
    QString m_path;
    uint m_last = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        return 2;
    }
    Recorder recorder(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
