#pragma once

#include "platform/linux/UniqueFd.h"

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace quantiro::app {

// A second start of a program of the family asks the running one to show its
// window: over a local socket named after the program in the runtime directory,
// which only the running one listens on. A connection is the whole request.
class ShowRequests {
public:
    ShowRequests(const std::string& runtimeDirectory, const std::string& program);
    ~ShowRequests();
    ShowRequests(const ShowRequests&) = delete;
    ShowRequests& operator=(const ShowRequests&) = delete;

    // In the running program: `show` runs for every request.
    void Listen(std::function<void()> show);
    // In the second start. False when nobody listens.
    bool Send() const;

private:
    std::string m_path;
    platform::linux_impl::UniqueFd m_listener;
    std::unique_ptr<QSocketNotifier> m_requests;
};

} // namespace quantiro::app
