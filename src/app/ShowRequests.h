#pragma once

#include <QLocalServer>
#include <functional>
#include <string>

namespace quantiro::app {

// A second start of the meter, refused because one is running, asks the running
// one to show its window: over a local socket in the runtime directory, which only
// the instance holding the lock listens on.
class ShowRequests {
public:
    explicit ShowRequests(std::string runtimeDirectory);

    // In the running meter: `show` runs for every request.
    void Listen(std::function<void()> show);
    // In the refused start: asks, waiting half a second at most.
    void Send() const;

private:
    QString m_path;
    QLocalServer m_server;
};

} // namespace quantiro::app
