#pragma once

#include "platform/Downloads.h"

#include <string>

namespace quantiro::platform::linux_impl {

// Downloads through the family's small helper program (`quantiro-fetch URL FILE`,
// libcurl), waiting for it: the meter itself never maps libcurl and the TLS
// libraries, which would stay in its memory for the whole day after one fetch.
class FetchHelperDownloader final : public Downloader {
public:
    explicit FetchHelperDownloader(std::string helperPath) : m_helperPath(std::move(helperPath)) {}

    bool DownloadFile(const std::string& url, const std::string& path) override;

private:
    std::string m_helperPath;
};

} // namespace quantiro::platform::linux_impl
