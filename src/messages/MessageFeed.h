#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Clock.h"
#include "platform/Downloads.h"
#include "platform/Registry.h"

#include <chrono>
#include <string>

namespace quantiro::messages {

using namespace std::chrono_literals;

// The one-shot wait before the notice check.
inline constexpr auto kMessageCheckDelay = 60s;

// The update server: $QUANTIRO_UPDATE_SERVER, or an address that never resolves.
std::string UpdateServer();

// Nothing to do here: Linux keeps no cache of downloads, and every download asks
// the server anew (no-cache), which is what the clean-up ensures elsewhere.
inline void ClearUpdateCache() {}

// Once per run, a minute after start: fetches the maker's list of notices and opens
// the first one that has not expired and has not been shown on this computer. The
// list is kept in `directory`.
class MessageFeed {
public:
    MessageFeed(std::string directory, std::string updateServer, platform::Downloader& downloader,
                platform::RegistrySettings& settings, platform::Clock& clock,
                NoticeBrowser& browser);

    void ShowNewNotice();

private:
    std::string m_directory;
    std::string m_updateServer;
    platform::Downloader& m_downloader;
    platform::RegistrySettings& m_settings;
    platform::Clock& m_clock;
    NoticeBrowser& m_browser;
};

} // namespace quantiro::messages
