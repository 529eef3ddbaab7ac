// quantiro-fetch URL FILE LIMIT: the meter's downloads (the notice list, a notice's
// page) in a process of their own, so the meter never maps libcurl and never waits
// on a server. Exits 0 only when the whole file, at most LIMIT bytes, arrived; a
// failure, a refusal or SIGTERM leaves no file behind.
#include "platform/linux/CurlDownloader.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

// The partial file, for the signal handler, which may only unlink and exit.
char g_partial[4096];

void RemovePartialAndExit(int) {
    ::unlink(g_partial);
    ::_exit(1);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t limit = 0;
    if (argc != 4 ||
        std::from_chars(argv[3], argv[3] + std::strlen(argv[3]), limit).ec != std::errc()) {
        std::fputs("Użycie: quantiro-fetch <adres> <plik> <największy rozmiar w bajtach>\n",
                   stderr);
        return 2;
    }
    using quantiro::platform::linux_impl::CurlDownloader;
    const std::string partial = CurlDownloader::PartialPath(argv[2]);
    if (partial.size() >= sizeof g_partial) {
        return 1;
    }
    std::memcpy(g_partial, partial.c_str(), partial.size() + 1);
    std::signal(SIGTERM, RemovePartialAndExit);
    CurlDownloader downloader;
    return downloader.DownloadFile(argv[1], argv[2], limit) ? 0 : 1;
}
