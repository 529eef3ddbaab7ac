#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Downloads.h"

#include <QWidget>
#include <string>

class QTextBrowser;

namespace quantiro::ui {

// The notice window: the page's HTML, fetched whole (beside the meter, never
// waited for) before the window appears, so a page that never loads leaves no
// empty window behind.
class BrowserWindow final : public QWidget, public messages::NoticeBrowser {
public:
    // The page is kept in `cacheDirectory` while it shows.
    BrowserWindow(platform::Downloader& downloader, std::string cacheDirectory);

    void ShowNoticePage(const std::string& address) override;

    QString PageText() const;

private:
    void ShowLoadedPage();

    platform::Downloader& m_downloader;
    std::string m_page;
    QTextBrowser* m_web = nullptr;
};

} // namespace quantiro::ui
