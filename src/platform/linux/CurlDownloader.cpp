#include "platform/linux/CurlDownloader.h"

#include <cstdio>
#include <memory>

#include <curl/curl.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

struct EasyCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct Destination {
    std::FILE* file;
    std::size_t written;
    std::size_t limit;
};

// A short count makes libcurl end the transfer with an error.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* destination) {
    auto& to = *static_cast<Destination*>(destination);
    const std::size_t bytes = size * count;
    if (bytes > to.limit - to.written) {
        return 0; // past the limit
    }
    to.written += bytes;
    return std::fwrite(data, 1, bytes, to.file);
}

} // namespace

CurlDownloader::CurlDownloader() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlDownloader::~CurlDownloader() {
    curl_global_cleanup();
}

bool CurlDownloader::DownloadFile(const std::string& url, const std::string& path,
                                  std::size_t limitBytes) {
    const std::unique_ptr<CURL, EasyCleanup> curl(curl_easy_init());
    if (!curl) {
        return false;
    }
    const std::string partial = PartialPath(path);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(partial.c_str(), "wb"));
    if (!file) {
        return false;
    }
    const std::unique_ptr<curl_slist, ListCleanup> headers(curl_slist_append(
        curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache"));
    Destination destination{file.get(), 0, limitBytes};
    // An option the library refuses (the protocol restriction on an old libcurl)
    // fails the fetch rather than letting it run without.
    bool set = true;
    const auto option = [&](CURLoption which, auto value) {
        set = set && curl_easy_setopt(curl.get(), which, value) == CURLE_OK;
    };
    option(CURLOPT_URL, url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    option(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    option(CURLOPT_FOLLOWLOCATION, 1L);
    option(CURLOPT_MAXREDIRS, 5L);
    option(CURLOPT_HTTPHEADER, headers.get());
    option(CURLOPT_FAILONERROR, 1L);
    option(CURLOPT_TIMEOUT_MS, static_cast<long>(kTimeout.count() * 1000));
    option(CURLOPT_NOSIGNAL, 1L);
    // A declared length past the limit ends the transfer before it starts.
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limitBytes));
    option(CURLOPT_WRITEFUNCTION, WriteToFile);
    option(CURLOPT_WRITEDATA, &destination);
    const CURLcode result = set ? curl_easy_perform(curl.get()) : CURLE_FAILED_INIT;
    const bool written = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
    file.reset();
    if (result != CURLE_OK || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

} // namespace quantiro::platform::linux_impl
