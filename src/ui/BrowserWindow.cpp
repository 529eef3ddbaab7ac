#include "ui/BrowserWindow.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace quantiro::ui {

BrowserWindow::BrowserWindow(platform::Downloader& downloader, std::string cacheDirectory)
    : m_downloader(downloader)
    , m_page(std::move(cacheDirectory) + "/notice.html")
    , m_web(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("  Informacja dla użytkowników"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_web);
    m_web->setOpenLinks(false);
    resize(640, 480);
}

void BrowserWindow::ShowNoticePage(const std::string& address) {
    if (!m_downloader.DownloadFile(address, m_page)) {
        return; // never loaded: no window
    }
    QFile file(QString::fromStdString(m_page));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    m_web->setHtml(QString::fromUtf8(file.readAll()));
    show();
    raise();
}

QString BrowserWindow::PageText() const {
    return m_web->toPlainText();
}

} // namespace quantiro::ui
