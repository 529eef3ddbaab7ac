#include "platform/linux/FetchHelperDownloader.h"

#include <cerrno>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace quantiro::platform::linux_impl {

bool FetchHelperDownloader::DownloadFile(const std::string& url, const std::string& path) {
    const char* argv[] = {m_helperPath.c_str(), url.c_str(), path.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, m_helperPath.c_str(), nullptr, nullptr, const_cast<char**>(argv),
                      environ) != 0) {
        return false; // a missing helper is a download that failed
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace quantiro::platform::linux_impl
