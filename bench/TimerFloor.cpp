// The floor of a 10 Hz program: an empty loop woken ten times a second by a
// timerfd, doing nothing else. What any meter refreshing at 100 ms pays at least.
#include <cstdint>

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

int main() {
    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec every100ms{{0, 100'000'000}, {0, 100'000'000}};
    ::timerfd_settime(timer, 0, &every100ms, nullptr);
    pollfd watched{timer, POLLIN, 0};
    for (;;) {
        if (::poll(&watched, 1, -1) > 0) {
            std::uint64_t expirations = 0;
            if (::read(timer, &expirations, sizeof expirations) < 0) {
                return 1;
            }
        }
    }
}
