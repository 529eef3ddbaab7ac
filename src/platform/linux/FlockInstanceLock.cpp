#include "platform/linux/FlockInstanceLock.h"

#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace quantiro::platform::linux_impl {

FlockInstanceLock::FlockInstanceLock(std::string directory)
    : m_directory(std::move(directory))
    , m_path(m_directory + "/quantiro.lock") {}

bool FlockInstanceLock::AnotherInstanceRunning() {
    if (m_fd.Valid()) {
        return false; // this process holds it
    }
    UniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.Valid() && errno == ENOENT) {
        // Without a runtime directory the lock lives in the config home, which a
        // first start may not have made yet.
        IgnoringErrors([&] { platform::MakePrivateDirectory(m_directory); });
        fd = UniqueFd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    }
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
