#include "ui/BrowserWindow.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace quantiro::ui {

BrowserWindow::BrowserWindow(platform::Downloader& downloader, std::string cacheDirectory)
    : m_downloader(downloader)
    , m_page(std::move(cacheDirectory) + "/notice.html") {
    setWindowTitle(QStringLiteral("  Informacja dla użytkowników"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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
    // Made for the first page only: a text view lays out an empty document, and
    // loads the fonts for it, as soon as it exists; most runs show no page.
    if (!m_web) {
        m_web = new QTextBrowser(this);
        m_web->setOpenLinks(false);
        layout()->addWidget(m_web);
    }
    m_web->setHtml(QString::fromUtf8(file.readAll()));
    show();
    raise();
}

QString BrowserWindow::PageText() const {
    return m_web ? m_web->toPlainText() : QString();
}

} // namespace quantiro::ui
