#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace quantiro::platform::linux_impl {

// HTTP and HTTPS downloads with libcurl, for the fetch helper: never from a cache,
// at most ten seconds for the whole transfer, into a temporary file renamed into
// place on success. The bytes written are counted, so a reply that streams without
// end (chunked, with no length declared) stops at the limit too.
class CurlDownloader final {
public:
    CurlDownloader();
    ~CurlDownloader();
    CurlDownloader(const CurlDownloader&) = delete;
    CurlDownloader& operator=(const CurlDownloader&) = delete;

    // True only when the whole file arrived within `limitBytes`; a failure leaves
    // no file behind.
    bool DownloadFile(const std::string& url, const std::string& path, std::size_t limitBytes);

    // The file being written until it is renamed into place.
    static std::string PartialPath(const std::string& path) { return path + ".part"; }

    static constexpr std::chrono::seconds kTimeout{10};
};

} // namespace quantiro::platform::linux_impl
