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

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file)) * size;
}

} // namespace

CurlDownloader::CurlDownloader() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlDownloader::~CurlDownloader() {
    curl_global_cleanup();
}

bool CurlDownloader::DownloadFile(const std::string& url, const std::string& path) {
    const std::unique_ptr<CURL, EasyCleanup> curl(curl_easy_init());
    if (!curl) {
        return false;
    }
    const std::string partial = path + ".part";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(partial.c_str(), "wb"));
    if (!file) {
        return false;
    }
    const std::unique_ptr<curl_slist, ListCleanup> headers(curl_slist_append(
        curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache"));
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(kTimeout.count() * 1000));
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBytes));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file.get());
    const CURLcode result = curl_easy_perform(curl.get());
    const bool written = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
    file.reset();
    if (result != CURLE_OK || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

} // namespace quantiro::platform::linux_impl
