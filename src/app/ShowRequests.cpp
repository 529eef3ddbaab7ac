#include "app/ShowRequests.h"

#include <QLocalSocket>

namespace quantiro::app {

ShowRequests::ShowRequests(std::string runtimeDirectory)
    : m_path(QString::fromStdString(runtimeDirectory + "/quantiro.socket")) {}

void ShowRequests::Listen(std::function<void()> show) {
    // A socket left by a meter that died is in the way; only the lock's holder gets here.
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

void ShowRequests::Send() const {
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (socket.waitForConnected(500)) {
        socket.disconnectFromServer();
    }
}

} // namespace quantiro::app
