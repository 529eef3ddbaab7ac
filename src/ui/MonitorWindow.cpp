#include "ui/MonitorWindow.h"

#include "presentation/NetworkText.h"
#include "ui/Icons.h"
#include "ui/QtText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quantiro::ui {

namespace {

using namespace std::chrono_literals;

const QColor kDownloadColour(0, 0, 255);
const QColor kUploadColour(255, 0, 0);

constexpr std::size_t kShownApplications = 5;
constexpr int kRoomyGraph = 140; // pixels
constexpr auto kApplicationsPollEvery = 1s;
// The first question only asks; a service silent for this many is not there.
constexpr int kPollsBeforeAbsent = 3;
constexpr const char* kApplicationsNote = "Dane o aplikacjach wymagają usługi quantiro-collector.";

} // namespace

// The graph itself: the span's points from the left edge (oldest) to the right
// (newest), on a scale that follows the span's peak.
class MonitorWindow::GraphArea final : public QWidget {
public:
    explicit GraphArea(const MonitorWindow& owner)
        : m_owner(owner) {
        setMinimumSize(200, 80);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const monitor::Span span = m_owner.CurrentSpan();
        const auto& points = m_owner.m_history.Points(span);
        const monitor::SpanFigures figures = m_owner.m_history.Figures(span);
        const monitor::GraphScale scale =
            monitor::ScaleFor(std::max(figures.peak.download, figures.peak.upload));

        const QRect plot = rect().adjusted(44, 18, -6, -6);
        painter.setPen(QColor(210, 210, 210));
        for (std::size_t i = 0; i < scale.labels.size(); ++i) {
            const int y = plot.bottom() - static_cast<int>(plot.height() * i / 4);
            painter.drawLine(plot.left(), y, plot.right(), y);
            painter.setPen(QColor(90, 90, 90));
            painter.drawText(QRect(0, y - 7, plot.left() - 4, 14),
                             Qt::AlignRight | Qt::AlignVCenter, FromUtf8(scale.labels[i]));
            painter.setPen(QColor(210, 210, 210));
        }
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRect(0, 0, plot.left() + 40, 14), Qt::AlignLeft, FromUtf8(scale.unit));

        const std::size_t capacity = span == monitor::Span::TwoMinutes
                                         ? monitor::RateHistory::kFinePoints
                                         : monitor::RateHistory::kCoarsePoints;
        auto curve = [&](double monitor::RatePoint::*direction) {
            QPainterPath path;
            const std::size_t first = capacity - points.size();
            for (std::size_t i = 0; i < points.size(); ++i) {
                const double x = plot.left() + plot.width() * double(first + i) / (capacity - 1);
                const double share = std::min(points[i].*direction / scale.maximum, 1.0);
                const double y = plot.bottom() - plot.height() * share;
                i == 0 ? path.moveTo(x, y) : path.lineTo(x, y);
            }
            return path;
        };
        painter.setPen(QPen(kUploadColour, 1));
        painter.drawPath(curve(&monitor::RatePoint::upload));
        painter.setPen(QPen(kDownloadColour, 1));
        painter.drawPath(curve(&monitor::RatePoint::download));
    }

private:
    const MonitorWindow& m_owner;
};

QWidget* MonitorWindow::MakeApplicationLines() {
    auto* area = new QWidget(this);
    auto* lines = new QGridLayout(area);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setVerticalSpacing(1);
    for (int row = 0; row < static_cast<int>(kShownApplications); ++row) {
        const ApplicationLine line{new QLabel, new QLabel, new QLabel, new QLabel};
        line.name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        line.download->setStyleSheet(QStringLiteral("color: #0000c0"));
        line.upload->setStyleSheet(QStringLiteral("color: #c00000"));
        line.download->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        line.upload->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        line.icon->setFixedSize(16, 16);
        lines->addWidget(line.icon, row, 0);
        lines->addWidget(line.name, row, 1);
        lines->addWidget(line.download, row, 2);
        lines->addWidget(line.upload, row, 3);
        m_applicationLines.push_back(line);
    }
    lines->setColumnStretch(1, 1);
    lines->setColumnMinimumWidth(2, 90);
    lines->setColumnMinimumWidth(3, 90);
    return area;
}

MonitorWindow::MonitorWindow(const monitor::MonitorSettings& settings, SettingsWrites writes,
                             std::function<std::optional<Counters>()> readCounters)
    : m_writes(std::move(writes))
    , m_readCounters(std::move(readCounters)) {
    setWindowTitle(QStringLiteral("Quantiro – monitor"));
    setWindowIcon(MeterIcon());
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_span = new QComboBox(this);
    m_span->addItems({QStringLiteral("ostatnie 2 minuty"), QStringLiteral("ostatnia godzina")});
    m_span->setCurrentIndex(settings.span == monitor::Span::OneHour ? 1 : 0);
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    auto* figures = new QVBoxLayout;
    m_download = new QLabel(this);
    m_upload = new QLabel(this);
    m_download->setStyleSheet(QStringLiteral("color: #0000c0"));
    m_upload->setStyleSheet(QStringLiteral("color: #c00000"));
    for (QLabel* label : {m_download, m_upload}) {
        label->setSizePolicy(QSizePolicy::Ignored,
                             QSizePolicy::Preferred); // never widens the window
    }
    figures->addWidget(m_download);
    figures->addWidget(m_upload);
    // The figures have the whole width; the span sits below, beside the check box.
    // The network under the rates, once the watch knows it: a line of its own, so a
    // long name never squeezes the figures.
    m_network = new QLabel(this);
    m_network->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_network->hide();
    figures->addWidget(m_network);
    top->addLayout(figures, 1);
    layout->addLayout(top);
    m_graph = new GraphArea(*this);
    layout->addWidget(m_graph, 1);
    // Always five lines while the service answers, so the graph keeps its height as
    // applications come and go.
    m_applications = MakeApplicationLines();
    m_applications->hide();
    layout->addWidget(m_applications);
    m_applicationsNote = new QLabel(QString::fromUtf8(kApplicationsNote), this);
    m_applicationsNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_applicationsNote->hide();
    layout->addWidget(m_applicationsNote);
    m_notWithMeter = new QCheckBox(QStringLiteral("&Nie uruchamiaj z miernikiem"), this);
    m_notWithMeter->setChecked(!settings.startWithMeter);
    connect(m_notWithMeter, &QCheckBox::toggled, this,
            [this](bool notWithMeter) { m_writes.startWithMeter(!notWithMeter); });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_notWithMeter, 1);
    bottom->addWidget(m_span);
    layout->addLayout(bottom);

    QAction* onTop = m_menu.addAction(QStringLiteral("Zawsze na &wierzchu"));
    onTop->setCheckable(true);
    onTop->setChecked(settings.onTop);
    connect(onTop, &QAction::toggled, this, [this](bool checked) { SetOnTop(checked); });
    m_menu.addAction(QStringLiteral("&Zamknij"), this, &QWidget::close);

    setGeometry(settings.left, settings.top, settings.width, settings.height);
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop->isChecked());
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { Sample(std::chrono::milliseconds(m_sinceSample.restart())); });
    Refresh();
}

void MonitorWindow::Start() {
    m_sinceSample.start();
    m_timer.start();
}

void MonitorWindow::Sample(std::chrono::milliseconds elapsedTime) {
    const std::optional<Counters> counters = m_readCounters();
    const auto elapsed = static_cast<std::uint32_t>(elapsedTime.count());
    m_clock += elapsedTime;
    if (counters) {
        m_interfaceName = counters->interfaceName;
        m_linkHeaderBytes = counters->linkHeaderBytes;
        m_linkCounting = counters->counting;
        m_link = {.at = m_clock,
                  .interfaceName = counters->interfaceName,
                  .received = counters->received,
                  .sent = counters->sent};
    }
    if (m_applicationCounters) {
        PollApplications(elapsedTime);
    }
    if (!counters) {
        return;
    }
    const monitor::Span span = CurrentSpan();
    const std::uint64_t before = m_history.Added(span);
    m_history.AddCounters(counters->received, counters->sent, elapsed);
    // Drawn again only when the picture changes: the hour moves once a second, and a
    // flat line only grows longer with one more such point.
    if (m_history.Added(span) != before && !(m_drawnFlat && m_history.Flat(span))) {
        Refresh();
    }
}

void MonitorWindow::Feed(monitor::RatePoint rate) {
    m_history.Add(rate);
    Refresh();
}

void MonitorWindow::Refresh() {
    // Minimised or hidden, nothing is drawn; the history goes on filling.
    if (!isVisible() || isMinimized()) {
        return;
    }
    const monitor::SpanFigures figures = m_history.Figures(CurrentSpan());
    auto line = [](const char* name, double now, double average, double peak) {
        return QStringLiteral("%1 %2   śr. %3   szczyt %4")
            .arg(QString::fromUtf8(name), FromUtf8(monitor::FormatRate(now)),
                 FromUtf8(monitor::FormatRate(average)), FromUtf8(monitor::FormatRate(peak)));
    };
    // While the applications are listed, the link's rate now is over their interval.
    const monitor::RatePoint now = m_linkOverList.value_or(figures.current);
    m_download->setText(line("↓", now.download, figures.average.download, figures.peak.download));
    m_upload->setText(line("↑", now.upload, figures.average.upload, figures.peak.upload));
    m_drawnFlat = m_history.Flat(CurrentSpan());
    m_graph->update();
}

void MonitorWindow::WatchApplications(platform::ApplicationCounterSource& counters,
                                      platform::DesktopEntries& entries) {
    m_applicationCounters = &counters;
    m_entries = &entries;
}

void MonitorWindow::PollApplications(std::chrono::milliseconds elapsed) {
    m_sincePoll += elapsed;
    const bool ask = m_sincePoll >= kApplicationsPollEvery;
    // Asked once a second; the answer is looked for on the samples after, so the
    // list is a sample old, not a second.
    if (!ask && !m_applicationCounters->Waiting()) {
        return;
    }
    if (ask) {
        m_sincePoll = 0ms;
    }
    const bool wasWaiting = m_applicationCounters->Waiting();
    const LinkReading answering = m_asked;
    const std::optional<platform::ApplicationCounters> answer =
        m_applicationCounters->Poll({.name = m_interfaceName}, ask);
    // A question still out is not asked again, and keeps the moment it went.
    if (ask && m_applicationCounters->Waiting() && (answer || !wasWaiting)) {
        m_asked = m_link;
        m_asked.at = m_clock;
    }
    if (answer) {
        m_pollsUnanswered = 0;
        m_answeredSinceAsk = true;
        ShowAnswer(*answer, answering);
    }
    if (!ask) {
        return;
    }
    if (!m_answeredSinceAsk) {
        // A second went by unanswered: the rates last listed are no longer now.
        m_linkOverList.reset();
        FillApplicationLines({});
        if (++m_pollsUnanswered >= kPollsBeforeAbsent) {
            m_applications->hide();
            m_applicationsNote->show();
        }
        Refresh();
    }
    m_answeredSinceAsk = false;
}

void MonitorWindow::ShowAnswer(const platform::ApplicationCounters& answer,
                               const LinkReading& asked) {
    const std::vector<applications::ApplicationDelta> moved =
        m_applicationTraffic.Differences(answer, m_linkHeaderBytes, m_linkCounting);
    // Rates over the time between the two questions the counters answer, and the
    // link's over the same; none after a take-up, or once the link's counters ran back.
    std::vector<applications::ApplicationRate> rates;
    m_linkOverList.reset();
    if (m_answered && asked.at > m_answered->at) {
        const std::chrono::milliseconds interval = asked.at - m_answered->at;
        rates = applications::FastestApplications(moved, interval, kShownApplications);
        if (asked.interfaceName == m_answered->interfaceName &&
            asked.received >= m_answered->received && asked.sent >= m_answered->sent) {
            const double seconds = std::chrono::duration<double>(interval).count();
            m_linkOverList = monitor::RatePoint{
                .download = static_cast<double>(asked.received - m_answered->received) / seconds,
                .upload = static_cast<double>(asked.sent - m_answered->sent) / seconds};
        }
    }
    m_answered = asked;
    ShowApplications(rates);
    Refresh();
}

void MonitorWindow::ShowApplications(const std::vector<applications::ApplicationRate>& rates) {
    m_applicationsNote->hide();
    if (m_applications->isHidden()) {
        // The lines take their room from the graph; a window left small grows by it.
        const int room = m_applications->sizeHint().height() + layout()->spacing();
        m_applications->show();
        if (isVisible() && m_graph->height() - room < kRoomyGraph) {
            resize(width(), height() + room);
        }
    }
    FillApplicationLines(rates);
}

void MonitorWindow::FillApplicationLines(const std::vector<applications::ApplicationRate>& rates) {
    for (std::size_t i = 0; i < m_applicationLines.size(); ++i) {
        const ApplicationLine& line = m_applicationLines[i];
        if (i >= rates.size()) {
            for (QLabel* label : {line.icon, line.name, line.download, line.upload}) {
                label->clear();
            }
            continue;
        }
        const platform::ApplicationLook& look = m_entries->Look(rates[i].application);
        line.icon->setPixmap(ApplicationIcon(look.icon).pixmap(16, 16));
        line.name->setText(FromUtf8(look.name));
        line.name->setToolTip(FromUtf8(rates[i].application));
        line.download->setText(QStringLiteral("↓ ") +
                               FromUtf8(monitor::FormatRate(rates[i].download)));
        line.upload->setText(QStringLiteral("↑ ") + FromUtf8(monitor::FormatRate(rates[i].upload)));
    }
}

QString MonitorWindow::ApplicationsText() const {
    if (m_applicationsNote->isVisibleTo(this)) {
        return m_applicationsNote->text();
    }
    QStringList lines;
    for (const ApplicationLine& line : m_applicationLines) {
        if (m_applications->isVisibleTo(this) && !line.name->text().isEmpty()) {
            lines << line.name->text() + QLatin1Char(' ') + line.download->text() +
                         QLatin1Char(' ') + line.upload->text();
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QWidget& MonitorWindow::Graph() const {
    return *m_graph;
}

void MonitorWindow::ShowNetwork(const platform::Network& network) {
    m_network->setText(FromUtf8(presentation::NetworkDescription(network)));
    m_network->setVisible(network.Known());
}

QString MonitorWindow::NetworkText() const {
    return m_network->isVisible() ? m_network->text() : QString();
}

QString MonitorWindow::FiguresText() const {
    return m_download->text() + QLatin1Char('\n') + m_upload->text();
}

monitor::Span MonitorWindow::CurrentSpan() const {
    return m_span->currentIndex() == 1 ? monitor::Span::OneHour : monitor::Span::TwoMinutes;
}

void MonitorWindow::SetOnTop(bool onTop) {
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    show(); // changing the flags takes the window off the screen
}

monitor::MonitorSettings MonitorWindow::CurrentSettings() const {
    const QRect place = geometry();
    return {.left = place.x(),
            .top = place.y(),
            .width = place.width(),
            .height = place.height(),
            .onTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint),
            .span = CurrentSpan(),
            .startWithMeter = !m_notWithMeter->isChecked()};
}

void MonitorWindow::SaveGeometry() const {
    m_writes.window(CurrentSettings());
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
    SaveGeometry();
    event->accept();
}

void MonitorWindow::contextMenuEvent(QContextMenuEvent* event) {
    m_menu.exec(event->globalPos());
}

} // namespace quantiro::ui
