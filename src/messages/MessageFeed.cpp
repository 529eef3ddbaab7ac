#include "messages/MessageFeed.h"

#include "messages/MessageList.h"
#include "shell/RegistryValues.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace quantiro::messages {

std::string UpdateServer() {
    const char* configured = std::getenv("QUANTIRO_UPDATE_SERVER");
    return configured && *configured ? configured : "http://update.kestrova.invalid";
}

MessageFeed::MessageFeed(std::string programDirectory, std::string updateServer,
                         platform::Downloader& downloader, platform::RegistrySettings& settings,
                         platform::Clock& clock, NoticeBrowser& browser)
    : m_programDirectory(std::move(programDirectory))
    , m_updateServer(std::move(updateServer))
    , m_downloader(downloader)
    , m_settings(settings)
    , m_clock(clock)
    , m_browser(browser) {}

void MessageFeed::CheckAndShowMessage() {
    ClearUpdateCache();
    // The old list goes first, so a failed download never leaves a stale one to read.
    const std::string local = m_programDirectory + "/messages.cfg";
    std::remove(local.c_str());
    if (!m_downloader.DownloadFile(m_updateServer + "/software_update/messages.cfg", local)) {
        return;
    }
    std::ifstream file(local, std::ios::binary);
    const platform::LocalDateTime now = m_clock.Now();
    const CalendarDate today{now.year, now.month, now.day};
    for (const Notice& notice : ReadMessageList(file)) {
        const std::string key =
            std::string(values::kMessageShownPrefix) + std::to_string(notice.identifier);
        if (today < notice.expiry && IsWebPage(notice.page) &&
            !m_settings.ReadBool(key, values::kMessageShownDefault)) {
            // Shown once requested, whether or not the page then loads; one per run.
            m_browser.UserMessageShow(notice.page);
            m_settings.WriteBool(key, true);
            return;
        }
    }
}

} // namespace quantiro::messages
