#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Downloads.h"

#include <QWidget>

class QTextBrowser;

namespace quantiro::ui {

// The notice window: the page's HTML, fetched whole before the window
// appears, so a page that never loads leaves no empty window behind.
class BrowserWindow final : public QWidget, public messages::NoticeBrowser {
public:
    explicit BrowserWindow(platform::Downloader& downloader);

    void ShowNoticePage(const std::string& address) override;

    QString PageText() const;

private:
    platform::Downloader& m_downloader;
    QTextBrowser* m_web;
};

} // namespace quantiro::ui
