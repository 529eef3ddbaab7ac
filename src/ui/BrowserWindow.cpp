#include "ui/BrowserWindow.h"

#include "messages/MessageFeed.h"

#include <QFile>
#include <QImage>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>

namespace quantiro::ui {

namespace {

// A notice page comes from the network, perhaps over plain HTTP: its images and
// style sheets are never loaded, from the disk ("/dev/zero", a FIFO, file: URLs),
// from data: URLs or from anywhere else. The document, not only the view, answers:
// a document asks its view first and then reads local files itself, and an image
// it gets nothing for is read from the disk by name. So every image is one
// transparent pixel and every style sheet empty.
class InertDocument final : public QTextDocument {
public:
    explicit InertDocument(QObject* parent)
        : QTextDocument(parent)
        , m_blank(1, 1, QImage::Format_ARGB32) {
        m_blank.fill(Qt::transparent);
    }

protected:
    QVariant loadResource(int type, const QUrl&) override {
        if (type == QTextDocument::ImageResource) {
            return m_blank;
        }
        return QString();
    }

private:
    QImage m_blank;
};

} // namespace

BrowserWindow::BrowserWindow(platform::Downloader& downloader, std::string cacheDirectory)
    : m_downloader(downloader)
    , m_page(std::move(cacheDirectory) + "/notice.html") {
    setWindowTitle(QStringLiteral("  Informacja dla użytkowników"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    resize(640, 480);
}

void BrowserWindow::ShowNoticePage(const std::string& address) {
    m_downloader.Fetch(address, m_page, messages::kPageLimitBytes, [this](bool fetched) {
        if (fetched) {
            ShowLoadedPage(); // never loaded: no window
        }
    });
}

void BrowserWindow::ShowLoadedPage() {
    QFile file(QString::fromStdString(m_page));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    // Made for the first page only: a text view lays out an empty document, and
    // loads the fonts for it, as soon as it exists; most runs show no page.
    if (!m_web) {
        m_web = new QTextBrowser(this);
        m_web->setDocument(new InertDocument(m_web));
        m_web->setOpenLinks(false); // links stay inert too
        layout()->addWidget(m_web);
    }
    m_web->setHtml(QString::fromUtf8(file.read(messages::kPageLimitBytes)));
    show();
    raise();
}

QString BrowserWindow::PageText() const {
    return m_web ? m_web->toPlainText() : QString();
}

} // namespace quantiro::ui
