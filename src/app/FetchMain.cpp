// quantiro-fetch URL FILE: the meter's downloads (the notice list, a notice's page)
// in a process of their own, so the meter never maps libcurl. Exits 0 only when
// the whole file arrived; a failure leaves no file behind.
#include "platform/linux/CurlDownloader.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Użycie: quantiro-fetch <adres> <plik>\n", stderr);
        return 2;
    }
    quantiro::platform::linux_impl::CurlDownloader downloader;
    return downloader.DownloadFile(argv[1], argv[2]) ? 0 : 1;
}
