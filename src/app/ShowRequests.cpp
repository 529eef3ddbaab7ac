#include "app/ShowRequests.h"

#include <QLocalSocket>

namespace quantiro::app {

ShowRequests::ShowRequests(const std::string& runtimeDirectory, const std::string& program)
    : m_path(QString::fromStdString(runtimeDirectory + "/" + program + ".socket")) {}

void ShowRequests::Listen(QWidget& window) {
    Listen([&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
}

void ShowRequests::Listen(std::function<void()> show) {
    // A socket left by a program that died is in the way.
    QLocalServer::removeServer(m_path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_path);
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_server,
                     [this, show = std::move(show)] {
                         while (QLocalSocket* connection = m_server.nextPendingConnection()) {
                             connection->disconnectFromServer();
                             connection->deleteLater();
                             show();
                         }
                     });
}

bool ShowRequests::Send() const {
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(500)) {
        return false;
    }
    socket.disconnectFromServer();
    return true;
}

} // namespace quantiro::app
