#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Clock.h"
#include "platform/Downloads.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quantiro::messages {

using namespace std::chrono_literals;

// The one-shot wait before the notice check.
inline constexpr auto kMessageCheckDelay = 60s;
// A notice list is a few lines, a page a few kilobytes: anything larger is refused.
inline constexpr std::size_t kListLimitBytes = 1024 * 1024;
inline constexpr std::size_t kPageLimitBytes = 4 * 1024 * 1024;

// The update server: $QUANTIRO_UPDATE_SERVER, or an address that never resolves.
std::string UpdateServer();

// Nothing to do here: Linux keeps no cache of downloads, and every download asks
// the server anew (no-cache), which is what the clean-up ensures elsewhere.
inline void ClearUpdateCache() {}

// Which notices this computer has shown; the family keeps it in its settings.
class ShownNotices {
public:
    virtual ~ShownNotices() = default;
    virtual bool Shown(std::int32_t identifier) = 0;
    virtual void MarkShown(std::int32_t identifier) = 0;
};

// Once per run, a minute after start: fetches the maker's list of notices and opens
// the first one that has not expired and has not been shown on this computer. The
// list is kept in `directory`. The fetch runs beside the meter; what it brings is
// looked at when the downloader collects it.
class MessageFeed {
public:
    MessageFeed(std::string directory, std::string updateServer, platform::Downloader& downloader,
                ShownNotices& shown, platform::Clock& clock, NoticeBrowser& browser);

    void ShowNewNotice();

private:
    void ShowFirstNewNotice(const std::string& listPath);

    std::string m_directory;
    std::string m_updateServer;
    platform::Downloader& m_downloader;
    ShownNotices& m_shown;
    platform::Clock& m_clock;
    NoticeBrowser& m_browser;
};

} // namespace quantiro::messages
