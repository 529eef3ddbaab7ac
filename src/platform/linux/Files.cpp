#include "platform/Files.h"

#include "common/FamilyPaths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::platform {

namespace {

using paths::PathError;

// Under the fallback home every folder, from that home down, must be a folder of
// the user's (no link) that nobody else may enter.
void CheckOwnedBelowFallback(const std::string& directory) {
    const std::string root = paths::FallbackHome();
    if (directory != root && !directory.starts_with(root + "/")) {
        return;
    }
    for (std::size_t end = root.size(); end != std::string::npos;
         end = directory.find('/', end + 1)) {
        const std::string folder = directory.substr(0, end);
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
            throw PathError("Katalog „" + folder +
                            "” nie należy wyłącznie do tego użytkownika (inny właściciel, "
                            "dowiązanie albo dostęp dla innych); program go nie użyje.");
        }
        if (end == directory.size()) {
            break;
        }
    }
}

} // namespace

void MakePrivateDirectory(const std::string& directory) {
    auto fail = [&](int error) {
        throw PathError("Nie można utworzyć katalogu „" + directory + "”: " + std::strerror(error));
    };
    // Component by component, so that every directory made on the way is private.
    std::size_t end = 0;
    do {
        end = directory.find('/', end + 1);
        if (::mkdir(directory.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) {
            fail(errno);
        }
    } while (end != std::string::npos);
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        fail(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        fail(ENOTDIR);
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        fail(errno);
    }
    CheckOwnedBelowFallback(directory);
}

// Plain system calls rather than file streams: a stream sets up the whole C++
// locale machinery on first use, and the meter reads files but never needs it.
std::string ReadFileWhole(const std::string& path, std::size_t maxBytes) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    while (text.size() < maxBytes) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - text.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // the end, or a file the kernel will not give (a link speed with no link)
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

void WriteFileWhole(const std::string& path, std::string_view text, WriteEnd end) {
    // A name of this process's own, made exclusively: O_EXCL never follows a link,
    // and O_NONBLOCK keeps even a FIFO (which O_EXCL refuses anyway) from holding us.
    static unsigned attempt = 0;
    std::string partial;
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        partial = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++attempt);
        fd = ::open(partial.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    auto fail = [&](int error) {
        if (fd >= 0) {
            ::close(fd);
            std::remove(partial.c_str());
        }
        throw PathError("Nie można zapisać pliku „" + path + "”: " + std::strerror(error));
    };
    if (fd < 0) {
        fail(errno);
    }
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail(errno);
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    // On the disk before the name points at it, and the name on the disk after: a
    // power cut leaves the old file or the new one, never an empty one.
    if (end == WriteEnd::Durable && ::fsync(fd) != 0) {
        fail(errno);
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(partial.c_str());
        fail(error);
    }
    if (end == WriteEnd::Cached) {
        return;
    }
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    if (const int dir =
            ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool OthersMayWrite(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        return false; // nothing there: the write itself will say so
    }
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
           (info.st_uid != ::geteuid() && info.st_uid != 0);
}

} // namespace quantiro::platform
