#pragma once

#include <QLocalServer>
#include <QWidget>
#include <functional>
#include <string>

namespace quantiro::app {

// A second start of a program of the family asks the running one to show its
// window: over a local socket named after the program in the runtime directory,
// which only the running one listens on.
class ShowRequests {
public:
    ShowRequests(const std::string& runtimeDirectory, const std::string& program);

    // In the running program: `show` runs for every request.
    void Listen(std::function<void()> show);
    // The same for a program of one window: each request brings it forward.
    void Listen(QWidget& window);
    // In the second start: asks, waiting half a second at most. False when nobody
    // listens.
    bool Send() const;

private:
    QString m_path;
    QLocalServer m_server;
};

} // namespace quantiro::app
