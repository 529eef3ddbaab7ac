#include "platform/linux/FlockInstanceLock.h"

#include "common/FamilyPaths.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace quantiro::platform::linux_impl {

FlockInstanceLock::FlockInstanceLock(std::string directory)
    : m_path(std::move(directory) + "/quantiro.lock") {}

std::string FlockInstanceLock::DefaultDirectory() {
    const std::string directory = paths::FromEnvironment().runtimeDirectory;
    ::mkdir(directory.c_str(), 0700); // the config home, when there is no runtime directory
    return directory;
}

bool FlockInstanceLock::AnotherInstanceRunning() {
    if (m_fd.Valid()) {
        return false; // this process holds it
    }
    UniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        return false; // no place for a lock: nobody can hold it either
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    m_fd = std::move(fd);
    return false;
}

} // namespace quantiro::platform::linux_impl
