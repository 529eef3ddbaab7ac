#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Downloads.h"

#include <QWidget>

class QTextBrowser;

namespace quantiro::ui {

// The notice window frmBrowser: the page's HTML, fetched whole before the window
// appears, so a page that never loads leaves no empty window behind.
class BrowserWindow final : public QWidget, public messages::NoticeBrowser {
public:
    explicit BrowserWindow(platform::Downloader& downloader);

    void UserMessageShow(const std::string& mURL) override;

    QString PageText() const;

private:
    platform::Downloader& m_downloader;
    QTextBrowser* m_web;
};

} // namespace quantiro::ui
