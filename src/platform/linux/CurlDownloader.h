#pragma once

#include "platform/Downloads.h"

#include <chrono>

namespace quantiro::platform::linux_impl {

// HTTP and HTTPS downloads with libcurl: never from a cache, at most ten seconds
// for the whole transfer, into a temporary file renamed into place on success.
class CurlDownloader final : public Downloader {
public:
    CurlDownloader();
    ~CurlDownloader() override;
    CurlDownloader(const CurlDownloader&) = delete;
    CurlDownloader& operator=(const CurlDownloader&) = delete;

    bool DownloadFile(const std::string& url, const std::string& path) override;

    static constexpr std::chrono::seconds kTimeout{10};
    // Nothing the meter fetches is anywhere near this size.
    static constexpr long long kMaxBytes = 4LL * 1024 * 1024;
};

} // namespace quantiro::platform::linux_impl
