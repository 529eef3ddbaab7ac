#include "messages/MessageFeed.h"

#include "common/FamilyPaths.h"
#include "common/SettingsValues.h"
#include "messages/MessageList.h"
#include "platform/Files.h"

#include <cstdio>
#include <cstdlib>

namespace quantiro::messages {

std::string UpdateServer() {
    const char* configured = std::getenv("QUANTIRO_UPDATE_SERVER");
    return configured && *configured ? configured : "http://update.kestrova.invalid";
}

MessageFeed::MessageFeed(std::string directory, std::string updateServer,
                         platform::Downloader& downloader, ShownNotices& shown,
                         platform::Clock& clock, NoticeBrowser& browser)
    : m_directory(std::move(directory))
    , m_updateServer(std::move(updateServer))
    , m_downloader(downloader)
    , m_shown(shown)
    , m_clock(clock)
    , m_browser(browser) {}

void MessageFeed::ShowNewNotice() {
    ClearUpdateCache();
    // The old list goes first, so a failed download never leaves a stale one to read.
    const std::string local = m_directory + "/messages.cfg";
    std::remove(local.c_str());
    m_downloader.Fetch(m_updateServer + "/software_update/messages.cfg", local, kListLimitBytes,
                       [this, local](bool fetched) {
                           if (fetched) {
                               ShowFirstNewNotice(local);
                           }
                       });
}

void MessageFeed::ShowFirstNewNotice(const std::string& listPath) {
    const std::string list = platform::ReadFileWhole(listPath, kListLimitBytes);
    const platform::LocalDateTime now = m_clock.Now();
    const CalendarDate today{now.year, now.month, now.day};
    for (const Notice& notice : ReadMessageList(list)) {
        if (today < notice.expiry && IsWebPage(notice.page) && !m_shown.Shown(notice.identifier)) {
            // Shown once requested, whether or not the page then loads; one per run.
            m_browser.ShowNoticePage(notice.page);
            m_shown.MarkShown(notice.identifier);
            return;
        }
    }
}

} // namespace quantiro::messages
