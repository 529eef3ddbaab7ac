#include "app/ShowRequests.h"

#include "platform/linux/UnixAddress.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::app {

using platform::linux_impl::UniqueFd;
using platform::linux_impl::UnixAddress;

ShowRequests::ShowRequests(const std::string& runtimeDirectory, const std::string& program)
    : m_path(runtimeDirectory + "/" + program + ".socket") {}

ShowRequests::~ShowRequests() {
    if (m_listener.Valid()) {
        ::unlink(m_path.c_str());
    }
}

void ShowRequests::Listen(std::function<void()> show) {
    const std::optional<sockaddr_un> address = UnixAddress(m_path);
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!address || !listener.Valid()) {
        return;
    }
    // A socket left by a program that died is in the way.
    ::unlink(m_path.c_str());
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) !=
            0 ||
        ::chmod(m_path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(listener.Get(), 8) != 0) {
        return;
    }
    m_listener = std::move(listener);
    m_requests = std::make_unique<QSocketNotifier>(m_listener.Get(), QSocketNotifier::Read);
    QObject::connect(m_requests.get(), &QSocketNotifier::activated, m_requests.get(),
                     [this, show = std::move(show)] {
                         while (true) {
                             const UniqueFd request(
                                 ::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
                             if (!request.Valid()) {
                                 break;
                             }
                             show();
                         }
                     });
}

bool ShowRequests::Send() const {
    const std::optional<sockaddr_un> address = UnixAddress(m_path);
    // Without blocking: a program that listens but has stopped taking requests must
    // not hold up the one asking.
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return address && socket.Valid() &&
           ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) ==
               0;
}

} // namespace quantiro::app
