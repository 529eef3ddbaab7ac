#include "platform/linux/FlockInstanceLock.h"

#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "platform/Files.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace quantiro::platform::linux_impl {

namespace {
constexpr const char* kInheritedVariable = "QUANTIRO_INSTANCE_LOCK_FD";
} // namespace

FlockInstanceLock::FlockInstanceLock(std::string directory)
    : m_directory(std::move(directory))
    , m_path(m_directory + "/quantiro.lock") {}

bool FlockInstanceLock::AnotherInstanceRunning() {
    if (m_fd.Valid()) {
        return false; // this process holds it
    }
    if (UniqueFd inherited = TakeInherited(); inherited.Valid()) {
        m_fd = std::move(inherited);
        return false;
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

UniqueFd FlockInstanceLock::TakeInherited() const {
    const char* text = std::getenv(kInheritedVariable);
    if (text == nullptr) {
        return {};
    }
    int fd = -1;
    const auto [end, error] = std::from_chars(text, text + std::strlen(text), fd);
    ::unsetenv(kInheritedVariable); // for this process only, never its own children
    struct stat passed {};
    struct stat onDisk {};
    // Only a descriptor of this very file: a stale or foreign number is left alone.
    if (error != std::errc() || *end != '\0' || fd < 0 || ::fstat(fd, &passed) != 0 ||
        ::stat(m_path.c_str(), &onDisk) != 0 || passed.st_dev != onDisk.st_dev ||
        passed.st_ino != onDisk.st_ino) {
        return {};
    }
    UniqueFd inherited(fd);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The same open file holds the lock already, so this only confirms it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return {};
    }
    return inherited;
}

void FlockInstanceLock::PassToNextProgram() {
    if (!m_fd.Valid()) {
        return;
    }
    ::fcntl(m_fd.Get(), F_SETFD, 0);
    ::setenv(kInheritedVariable, std::to_string(m_fd.Get()).c_str(), 1);
}

} // namespace quantiro::platform::linux_impl
