#pragma once

#include <string>

namespace quantiro::platform {

// Fetches an address into a file. True only when the whole file arrived; a failure
// leaves no file behind.
class Downloader {
public:
    virtual ~Downloader() = default;
    virtual bool DownloadFile(const std::string& url, const std::string& path) = 0;
};

} // namespace quantiro::platform
