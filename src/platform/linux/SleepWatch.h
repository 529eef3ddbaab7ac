#pragma once

#include "platform/SystemEvents.h"

#include <functional>
#include <memory>

namespace quantiro::platform::linux_impl {

// Saves before the system sleeps. logind announces a suspend or a hibernation with
// PrepareForSleep(true) on the system bus and waits, a few seconds at most, for the
// programs holding a "delay" lock to let it go. The watch holds one while it runs,
// lets it go once the save is done, and takes a new one when the system wakes.
// Without a system bus or logind it watches nothing, and the periodic save still
// bounds what a sleep that never wakes can lose. Only the announcements of the
// program that owns logind's name count (followed as it changes hands): any other
// program on the bus may send a signal of that name, and must not take the lock
// away. Nothing here blocks, not even the connection: the greeting and the lock are
// asked for without waiting for the answers, which come in with the next reads.
class SleepWatch final : public SleepAnnouncements {
public:
    SleepWatch();
    ~SleepWatch() override;
    SleepWatch(const SleepWatch&) = delete;
    SleepWatch& operator=(const SleepWatch&) = delete;

    // Readable when the bus sent something or takes what waits to be written (an epoll
    // set of the watch's own); -1 without a bus.
    int Descriptor() const override;
    // Takes in what the bus sent and writes what waits; `beforeSleep` runs before the
    // lock is let go. False once the bus is gone.
    bool Readable(const std::function<void()>& beforeSleep) override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_bus;
};

} // namespace quantiro::platform::linux_impl
