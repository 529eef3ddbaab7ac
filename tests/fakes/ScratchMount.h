#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quantiro::testing {

// A small tmpfs over a directory, in a mount namespace of this test process's own,
// so that a test can make a directory read-only or full. Needs root; Why() says
// why it cannot be had.
class ScratchMount {
public:
    static std::string Why() {
        static const std::string reason = [] {
            if (::geteuid() != 0) {
                return std::string("needs root to mount a small file system");
            }
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                return std::string("cannot make a mount namespace: ") + std::strerror(errno);
            }
            return std::string();
        }();
        return reason;
    }
    explicit ScratchMount(std::filesystem::path directory)
        : m_directory(std::move(directory)) {
        std::filesystem::create_directories(m_directory);
        m_mounted = ::mount("tmpfs", m_directory.c_str(), "tmpfs", 0, "size=512k") == 0;
    }
    ~ScratchMount() {
        if (m_mounted) {
            ::umount2(m_directory.c_str(), MNT_DETACH);
        }
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool Mounted() const { return m_mounted; }
    bool SetReadOnly(bool readOnly) {
        return ::mount(nullptr, m_directory.c_str(), nullptr,
                       MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=512k") == 0;
    }

private:
    std::filesystem::path m_directory;
    bool m_mounted = false;
};

} // namespace quantiro::testing
