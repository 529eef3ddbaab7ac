// A stand-in for logind on a bus the test started as the system bus. Inhibit hands
// out the write end of a pipe as the lock and notes when its holder lets it go;
// the lines "sleep" and "wake" on standard input announce a sleep and the wake.
// Every event is appended to the file named by the argument as one line.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QFile>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

class Logind final : public QDBusVirtualObject {
public:
    explicit Logind(QString log)
        : m_log(std::move(log)) {}

    void Note(const QString& line) const {
        QFile file(m_log);
        file.open(QIODevice::Append);
        file.write((line + '\n').toUtf8());
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> arguments = message.arguments();
        if (message.member() != QLatin1String("Inhibit") || arguments.size() != 4) {
            return false;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        Note(QStringLiteral("inhibit %1 %2 %3 %4")
                 .arg(arguments[0].toString(), arguments[1].toString(), arguments[3].toString(),
                      message.service()));
        // Qt sends a copy of the write end; once the holder closes its copy the read
        // end sees the end of the pipe.
        const bool sent = connection.send(
            message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        auto* watch =
            m_locks.emplace_back(std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read))
                .get();
        QObject::connect(watch, &QSocketNotifier::activated, watch,
                         [this, watch, readEnd = ends[0]] {
                             Note(QStringLiteral("released"));
                             watch->setEnabled(false);
                             ::close(readEnd);
                         });
        return sent;
    }
    QString introspect(const QString&) const override { return {}; }

private:
    QString m_log;
    std::vector<std::unique_ptr<QSocketNotifier>> m_locks;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        return 2;
    }
    Logind logind(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        return 1;
    }
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, &logind, [&] {
        char line[16] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        const bool sleeping = QByteArray(line).startsWith("sleep");
        logind.Note(sleeping ? QStringLiteral("sleep") : QStringLiteral("wake"));
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        bus.send(signal);
    });
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
