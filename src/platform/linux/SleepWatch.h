#pragma once

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
class SleepWatch {
public:
    SleepWatch();
    ~SleepWatch();
    SleepWatch(const SleepWatch&) = delete;
    SleepWatch& operator=(const SleepWatch&) = delete;

    // The descriptor for the loop to wait on; -1 when there is nothing to watch.
    int Descriptor() const;
    // Takes in what the bus sent. `beforeSleep` runs when a sleep is announced, before
    // the lock is let go. Returns false once the bus is gone, and the loop stops
    // watching the descriptor.
    bool Readable(const std::function<void()>& beforeSleep);

private:
    struct Connection;
    std::unique_ptr<Connection> m_bus;
};

} // namespace quantiro::platform::linux_impl
