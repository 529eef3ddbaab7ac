#include "ui/ReportsWindow.h"

#include "common/DecimalText.h"
#include "common/FamilyPaths.h"
#include "platform/Files.h"
#include "presentation/AmountFormat.h"
#include "reports/Exports.h"
#include "reports/PeriodUse.h"
#include "ui/ApplicationChart.h"
#include "ui/Icons.h"
#include "ui/QtText.h"
#include "ui/TrafficChart.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

namespace quantiro::ui {

namespace {

// A window frame and title bar, at most.
constexpr QSize kFrameRoom(16, 48);

constexpr std::array kViews{reports::Grouping::Hour, reports::Grouping::Day,
                            reports::Grouping::Month, reports::Grouping::Year};
// The tabs after the four groupings, and their pages.
constexpr int kApplicationsTab = static_cast<int>(reports::View::Applications);
constexpr int kNetworksTab = static_cast<int>(reports::View::Networks);
constexpr int kApplicationsPage = 1;
constexpr int kNetworksPage = 2;

QTableWidget* NewTable(const QStringList& headers) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One line a row, and rows that high, for a short window to show more of
    // them: a narrow window elides a long name rather than wrap it.
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return table;
}

QTableWidgetItem* AmountItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString ChartLabel(const reports::Row& row, reports::Grouping by) {
    switch (by) {
    case reports::Grouping::Hour:
        return QString::number(row.hour);
    case reports::Grouping::Day:
        return QString::number(row.first.day);
    case reports::Grouping::Month:
        return FromUtf8(reports::MonthName(row.first.month)).left(3);
    case reports::Grouping::Year:
        break;
    }
    return QString::number(row.first.year);
}

QDate ToQDate(const CalendarDate& date) {
    return {date.year, date.month, date.day};
}

// The local network's column says whether its amounts are in the others or beside them.
QString LocalHeader(reports::LocalCounting counting) {
    QString label = FromUtf8(reports::LocalLabel(counting));
    label[0] = label[0].toUpper();
    return label;
}

// An amount that a wrapping label keeps on one line.
QString Unbroken(const std::string& amount) {
    return FromUtf8(amount).replace(QLatin1Char(' '), QChar(0x00A0));
}

// "; sieć lokalna, nie wliczona: 7,04 GB" after a figure; empty when nothing is local.
QString LocalSuffix(std::int64_t kilobytes, reports::LocalCounting counting,
                    const std::string& separator) {
    if (kilobytes <= 0) {
        return {};
    }
    return QStringLiteral("; %1: %2")
        .arg(FromUtf8(reports::LocalLabel(counting)),
             Unbroken(presentation::FormatMonthAmount(static_cast<double>(kilobytes), separator)));
}

// The local network's column after the others, as wide as its long header; hidden
// while the period shown has nothing local.
void AddLocalColumn(QTableWidget& table, reports::LocalCounting counting) {
    const int column = table.columnCount();
    table.setColumnCount(column + 1);
    table.setHorizontalHeaderItem(column, new QTableWidgetItem(LocalHeader(counting)));
    table.horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

} // namespace

ReportsWindow::ReportsWindow(reports::TrafficHistory history,
                             reports::ApplicationHistory applications,
                             platform::DesktopEntries& entries,
                             const limits::LimitSettings& settings, reports::LocalCounting counting,
                             const limits::Moment& now, reports::View view, const QString& problem,
                             NetworkSource networks)
    : m_allHistory(history)
    , m_allApplications(applications)
    , m_history(std::move(history))
    , m_applications(std::move(applications))
    , m_entries(entries)
    , m_range{.anchor = now.today, .billingDay = settings.billingDay}
    , m_settings(settings)
    , m_counting(counting)
    , m_today(now.today)
    // The applications' and networks' views leave the traffic's page on the days of
    // the month.
    , m_shown{view == reports::View::Applications || view == reports::View::Networks
                  ? reports::Grouping::Day
                  : kViews[static_cast<std::size_t>(view)],
              now.today}
    , m_separator(EnvironmentDecimalSeparator())
    , m_networkSource(std::move(networks))
    , m_networkRange{.span = reports::ApplicationRange::Span::Month,
                     .anchor = now.today,
                     .billingDay = settings.billingDay} {
    auto* layout = new QVBoxLayout(this);
    QPushButton* exportButton = BuildControls(*layout);
    // The traffic's page and the applications' page share the bar above.
    m_pages = new QStackedWidget;
    m_pages->addWidget(BuildTrafficPage());
    m_pages->addWidget(BuildApplicationsPage());
    m_pages->addWidget(BuildNetworksPage());
    layout->addWidget(m_pages, 1);
    m_period = new QLabel;
    m_period->setWordWrap(true);
    layout->addWidget(m_period);
    m_limitBar = new LimitBar;
    layout->addWidget(m_limitBar);
    AddNotes(*layout, problem);
    BuildBillingPeriod(now);
    FitToScreen();
    ConnectControls(exportButton);
    if (view == reports::View::Applications) {
        ShowApplications(m_range);
    } else if (view == reports::View::Networks) {
        ShowNetworks(m_networkRange);
    } else {
        ShowPeriod(m_shown);
    }
}

QPushButton* ReportsWindow::BuildControls(QVBoxLayout& layout) {
    auto* bar = new QHBoxLayout;
    m_views = new QTabBar;
    for (const char* name : {"Godziny", "Dni", "Miesiące", "Lata", "Aplikacje", "Sieci"}) {
        m_views->addTab(QString::fromUtf8(name));
    }
    m_previous = new QPushButton(QStringLiteral("◀ Poprzedni"));
    m_next = new QPushButton(QStringLiteral("Następny ▶"));
    m_title = new QLabel;
    m_title->setAlignment(Qt::AlignCenter);
    // A long title, the billing period's, breaks rather than widen the window.
    m_title->setWordWrap(true);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_calendar = new QDateEdit;
    m_calendar->setCalendarPopup(true);
    m_calendar->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_calendar->setToolTip(QStringLiteral("Pokaż okres, w którym leży ten dzień"));
    m_span = new QComboBox;
    m_span->addItems({QStringLiteral("Dzień"), QStringLiteral("Miesiąc"),
                      QStringLiteral("Okres rozliczeniowy")});
    auto* exportButton = new QPushButton(QStringLiteral("Eksportuj…"));
    exportButton->setToolTip(QStringLiteral("Zapisz pokazany widok jako CSV albo JSON"));
    // The views above, the period's choice below: one row would not fit a small
    // screen. The applications' span sits on their own page, for the window to
    // narrow to 480 px.
    m_views->setUsesScrollButtons(false);
    // Six views fill the row: the export goes with the period's choice, whose title
    // wraps.
    bar->addWidget(m_views);
    bar->addStretch();
    layout.addLayout(bar);
    auto* periodBar = new QHBoxLayout;
    periodBar->addWidget(m_previous);
    periodBar->addWidget(m_title, 1);
    periodBar->addWidget(m_next);
    periodBar->addWidget(m_calendar);
    periodBar->addWidget(exportButton);
    layout.addLayout(periodBar);
    // Under the period's choice, for the traffic's and the applications' pages;
    // shown once there are networks to choose.
    m_filterBar = new QWidget;
    auto* filterLayout = new QHBoxLayout(m_filterBar);
    filterLayout->setContentsMargins(0, 0, 0, 0);
    m_networkFilter = new QComboBox;
    m_networkFilter->addItem(QStringLiteral("wszystkie"));
    m_networkFilter->setToolTip(QStringLiteral("Pokaż ruch tylko tej sieci"));
    m_networkFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* filterLabel = new QLabel(QStringLiteral("Sieć:"));
    filterLabel->setBuddy(m_networkFilter);
    filterLayout->addWidget(filterLabel);
    filterLayout->addWidget(m_networkFilter);
    filterLayout->addStretch();
    m_filterBar->hide();
    layout.addWidget(m_filterBar);
    return exportButton;
}

QWidget* ReportsWindow::BuildTrafficPage() {
    auto* trafficPage = new QWidget;
    auto* trafficLayout = new QVBoxLayout(trafficPage);
    trafficLayout->setContentsMargins(0, 0, 0, 0);
    m_chart = new TrafficChart;
    trafficLayout->addWidget(m_chart, 3);
    m_table =
        NewTable({QStringLiteral("Okres"), QStringLiteral("Odebrano"), QStringLiteral("Wysłano"),
                  QStringLiteral("Razem"), QStringLiteral("Czas online")});
    AddLocalColumn(*m_table, m_counting);
    trafficLayout->addWidget(m_table, 2);
    m_totals = new QLabel;
    m_totals->setWordWrap(true);
    trafficLayout->addWidget(m_totals);
    return trafficPage;
}

QWidget* ReportsWindow::BuildApplicationsPage() {
    auto* applicationsPage = new QWidget;
    auto* applicationsLayout = new QVBoxLayout(applicationsPage);
    applicationsLayout->setContentsMargins(0, 0, 0, 0);
    m_applicationNote = new QLabel(FromUtf8(reports::kApplicationsNeedCollector));
    m_applicationNote->setWordWrap(true);
    auto* spanBar = new QHBoxLayout;
    spanBar->addWidget(m_span);
    spanBar->addWidget(m_applicationNote, 1);
    spanBar->addStretch();
    applicationsLayout->addLayout(spanBar);
    m_applicationChart = new ApplicationChart;
    applicationsLayout->addWidget(m_applicationChart, 3);
    m_applicationTable = NewTable({QStringLiteral("Aplikacja"), QStringLiteral("Odebrano"),
                                   QStringLiteral("Wysłano"), QStringLiteral("Udział")});
    AddLocalColumn(*m_applicationTable, m_counting);
    // The amounts as wide as they are, the names all the rest.
    for (int column = 1; column <= 3; ++column) {
        m_applicationTable->horizontalHeader()->setSectionResizeMode(column,
                                                                     QHeaderView::ResizeToContents);
    }
    applicationsLayout->addWidget(m_applicationTable, 2);
    return applicationsPage;
}

QWidget* ReportsWindow::BuildNetworksPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    m_networkSpan = new QComboBox;
    m_networkSpan->addItems({QStringLiteral("Dzień"), QStringLiteral("Miesiąc"),
                             QStringLiteral("Okres rozliczeniowy")});
    auto* spanBar = new QHBoxLayout;
    spanBar->addWidget(m_networkSpan);
    spanBar->addStretch();
    layout->addLayout(spanBar);
    m_networkChart = new ApplicationChart;
    layout->addWidget(m_networkChart, 3);
    m_networkTable =
        NewTable({QStringLiteral("Sieć"), QStringLiteral("Rodzaj"), QStringLiteral("Odebrano"),
                  QStringLiteral("Wysłano"), QStringLiteral("Udział")});
    AddLocalColumn(*m_networkTable, m_counting);
    // Over billing periods, the period each row sums.
    m_networkTable->setColumnCount(7);
    m_networkTable->setHorizontalHeaderItem(6, new QTableWidgetItem(QStringLiteral("Okres")));
    for (int column : {2, 3, 4, 6}) {
        m_networkTable->horizontalHeader()->setSectionResizeMode(column,
                                                                 QHeaderView::ResizeToContents);
    }
    layout->addWidget(m_networkTable, 2);
    m_networkTotals = new QLabel;
    m_networkTotals->setWordWrap(true);
    layout->addWidget(m_networkTotals);
    return page;
}

void ReportsWindow::AddNotes(QVBoxLayout& layout, const QString& problem) {
    QString notes = problem;
    if (const std::string skipped = reports::SkippedNote(m_history); !skipped.empty()) {
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("(!) ") +
                 FromUtf8(skipped);
    }
    if (!notes.isEmpty()) {
        auto* note = new QLabel(notes);
        note->setStyleSheet(QStringLiteral("color: #b00000"));
        note->setWordWrap(true);
        layout.addWidget(note);
    }
}

void ReportsWindow::FitToScreen() {
    // On a small screen (1366 x 768, 1280 x 800) the window keeps inside the area
    // the panels leave, with room for its frame.
    QSize size(760, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() - kFrameRoom);
    }
    resize(size.expandedTo(minimumSizeHint()));
}

void ReportsWindow::ConnectControls(QPushButton* exportButton) {
    connect(m_views, &QTabBar::currentChanged, this, [this](int index) {
        if (index == kApplicationsTab) {
            ShowApplications({m_range.span, ShownAnchor(), m_settings.billingDay});
        } else if (index == kNetworksTab) {
            ShowNetworks({m_networkRange.span, ShownAnchor(), m_settings.billingDay});
        } else {
            ShowPeriod({kViews[static_cast<std::size_t>(index)], ShownAnchor()});
        }
    });
    const auto step = [this](int direction) {
        if (ShowsApplications()) {
            ShowApplications(m_range.Step(direction));
        } else if (ShowsNetworks()) {
            ShowNetworks(m_networkRange.Step(direction));
        } else {
            ShowPeriod(m_shown.Step(direction));
        }
    };
    connect(m_previous, &QPushButton::clicked, this, [step] { step(-1); });
    connect(m_next, &QPushButton::clicked, this, [step] { step(+1); });
    connect(m_calendar, &QDateEdit::dateChanged, this, [this](QDate date) {
        const CalendarDate day{date.year(), date.month(), date.day()};
        if (ShowsApplications()) {
            ShowApplications({m_range.span, day, m_settings.billingDay});
        } else if (ShowsNetworks()) {
            ShowNetworks({m_networkRange.span, day, m_settings.billingDay});
        } else {
            ShowPeriod({m_shown.by, day});
        }
    });
    connect(m_networkSpan, &QComboBox::currentIndexChanged, this, [this](int index) {
        ShowNetworks({static_cast<reports::ApplicationRange::Span>(index), m_networkRange.anchor,
                      m_settings.billingDay});
    });
    connect(m_span, &QComboBox::currentIndexChanged, this, [this](int index) {
        ShowApplications({static_cast<reports::ApplicationRange::Span>(index), m_range.anchor,
                          m_settings.billingDay});
    });
    connect(m_networkFilter, &QComboBox::currentIndexChanged, this,
            [this](int index) { FilterByNetwork(index); });
    connect(exportButton, &QPushButton::clicked, this, [this] { Export(); });
}

bool ReportsWindow::ShowsApplications() const {
    return m_pages->currentIndex() == kApplicationsPage;
}

bool ReportsWindow::ShowsNetworks() const {
    return m_pages->currentIndex() == kNetworksPage;
}

CalendarDate ReportsWindow::ShownAnchor() const {
    return ShowsApplications() ? m_range.anchor
           : ShowsNetworks()   ? m_networkRange.anchor
                               : m_shown.anchor;
}

void ReportsWindow::OfferNetworks(const std::vector<platform::Network>& networks,
                                  NetworkRecordsSource source) {
    m_networkRecords = std::move(source);
    for (const platform::Network& network : networks) {
        m_networkFilter->addItem(FromUtf8(reports::NetworkName({.network = network})),
                                 FromUtf8(network.id));
    }
    m_filterBar->setVisible(m_networkFilter->count() > 1 && !ShowsNetworks());
}

void ReportsWindow::FilterByNetwork(int index) {
    if (index <= 0 || !m_networkRecords) {
        m_history = m_allHistory;
        m_applications = m_allApplications;
    } else {
        NetworkRecords records =
            m_networkRecords(m_networkFilter->itemData(index).toString().toStdString());
        m_history = std::move(records.history);
        m_applications = std::move(records.applications);
    }
    if (ShowsApplications()) {
        ShowApplications(m_range);
    } else if (!ShowsNetworks()) {
        ShowPeriod(m_shown);
    }
}

void ReportsWindow::ShowNetworks(const reports::ApplicationRange& range) {
    m_networkRange = range;
    const QSignalBlocker viewsQuiet(m_views), calendarQuiet(m_calendar), spanQuiet(m_networkSpan);
    m_views->setCurrentIndex(kNetworksTab);
    m_pages->setCurrentIndex(kNetworksPage);
    // Every network's row is here: the filter is the other views'.
    m_filterBar->hide();
    m_networkSpan->setCurrentIndex(static_cast<int>(range.span));
    m_calendar->setDate(ToQDate(range.anchor));
    for (QWidget* control : {static_cast<QWidget*>(m_calendar), static_cast<QWidget*>(m_previous),
                             static_cast<QWidget*>(m_next)}) {
        control->setEnabled(true);
    }
    m_title->setText(FromUtf8(range.Title()));
    setWindowTitle(QStringLiteral("Quantiro – sieci – ") + m_title->text());

    const reports::NetworkShares shares =
        m_networkSource ? m_networkSource(range) : reports::NetworkShares{};
    m_networkTable->setRowCount(static_cast<int>(shares.rows.size()));
    std::vector<ApplicationChart::Bar> bars;
    for (std::size_t i = 0; i < shares.rows.size(); ++i) {
        const reports::NetworkShare& row = shares.rows[i];
        const int at = static_cast<int>(i);
        const QString name = FromUtf8(reports::NetworkName(row));
        auto* nameItem = new QTableWidgetItem(name);
        nameItem->setToolTip(FromUtf8(row.network.id));
        m_networkTable->setItem(at, 0, nameItem);
        m_networkTable->setItem(at, 1,
                                new QTableWidgetItem(FromUtf8(reports::KindText(row.network))));
        m_networkTable->setItem(at, 2, AmountItem(Amount(row.download)));
        m_networkTable->setItem(at, 3, AmountItem(Amount(row.upload)));
        m_networkTable->setItem(
            at, 4, AmountItem(FromUtf8(reports::FormatShare(row.shareTenths, m_separator))));
        m_networkTable->setItem(
            at, 5, AmountItem(row.local.Total() > 0 ? Amount(row.local.Total()) : QString()));
        m_networkTable->setItem(
            at, 6,
            new QTableWidgetItem(row.period ? FromUtf8(reports::ShortPeriodText(*row.period))
                                            : QString()));
        AddBar(bars, name, row.download, row.upload, row.local.Total());
    }
    m_networkChart->SetBars(std::move(bars));
    m_networkTable->setColumnHidden(5, shares.local.Total() <= 0);
    m_networkTable->setColumnHidden(6,
                                    range.span != reports::ApplicationRange::Span::BillingPeriod);
    m_networkTotals->setText(shares.rows.empty()
                                 ? QStringLiteral("Razem: brak ruchu w tym okresie")
                                 : QStringLiteral("Razem: odebrano %1, wysłano %2")
                                           .arg(Amount(shares.download), Amount(shares.upload)) +
                                       LocalSuffix(shares.local.Total(), m_counting, m_separator));
}

QString ReportsWindow::NetworksTotals() const {
    return m_networkTotals->text();
}

void ReportsWindow::ShowApplications(const reports::ApplicationRange& range) {
    m_range = range;
    const QSignalBlocker viewsQuiet(m_views), calendarQuiet(m_calendar), spanQuiet(m_span);
    m_views->setCurrentIndex(kApplicationsTab);
    m_pages->setCurrentIndex(kApplicationsPage);
    m_span->setCurrentIndex(static_cast<int>(range.span));
    m_calendar->setDate(ToQDate(range.anchor));
    for (QWidget* control : {static_cast<QWidget*>(m_calendar), static_cast<QWidget*>(m_previous),
                             static_cast<QWidget*>(m_next)}) {
        control->setEnabled(true);
    }
    m_title->setText(FromUtf8(range.Title()));
    setWindowTitle(QStringLiteral("Quantiro – aplikacje – ") + m_title->text());

    const reports::ApplicationShares shares =
        m_applications.Ranked(range.First(), range.Last(), reports::kNamedApplications, m_counting);
    m_applicationNote->setVisible(!shares.recorded);
    m_filterBar->setVisible(m_networkFilter->count() > 1);
    m_applicationTable->setRowCount(static_cast<int>(shares.rows.size()));
    std::vector<ApplicationChart::Bar> bars;
    for (std::size_t i = 0; i < shares.rows.size(); ++i) {
        const reports::ApplicationShare& row = shares.rows[i];
        const QString name = FromUtf8(reports::ShareName(row, m_entries));
        const int at = static_cast<int>(i);
        auto* nameItem = new QTableWidgetItem(name);
        if (row.kind != reports::ApplicationShare::Kind::Rest) {
            nameItem->setIcon(ApplicationIcon(m_entries.Look(row.application).icon));
            nameItem->setToolTip(FromUtf8(row.application));
        }
        m_applicationTable->setItem(at, 0, nameItem);
        m_applicationTable->setItem(at, 1, AmountItem(Amount(row.download)));
        m_applicationTable->setItem(at, 2, AmountItem(Amount(row.upload)));
        m_applicationTable->setItem(
            at, 3, AmountItem(FromUtf8(reports::FormatShare(row.shareTenths, m_separator))));
        m_applicationTable->setItem(
            at, 4, AmountItem(row.local.Total() > 0 ? Amount(row.local.Total()) : QString()));
        // Every row that moved something has its bar, the rest and the traffic no
        // program was seen to move too.
        AddBar(bars, name, row.download, row.upload, row.local.Total());
    }
    m_applicationChart->SetBars(std::move(bars));
    m_applicationTable->setColumnHidden(4, shares.local.Total() <= 0);
}

void ReportsWindow::AddBar(std::vector<ApplicationChart::Bar>& bars, const QString& name,
                           std::int64_t download, std::int64_t upload, std::int64_t local) const {
    // Left out of the figures, the local part is drawn after them; counted in them,
    // it is inside the bar already.
    const std::int64_t beside = m_counting == reports::LocalCounting::LeftOut ? local : 0;
    if (download + upload + beside > 0) {
        bars.push_back({.name = name,
                        .downloadKb = static_cast<double>(download),
                        .uploadKb = static_cast<double>(upload),
                        .amount = Amount(download + upload) +
                                  (beside > 0 ? QStringLiteral(" + ") + Amount(beside) : QString()),
                        .localKb = static_cast<double>(beside)});
    }
}

void ReportsWindow::ShowPeriod(const reports::ShownPeriod& period) {
    m_shown = period;
    const QSignalBlocker viewsQuiet(m_views), calendarQuiet(m_calendar);
    m_pages->setCurrentIndex(0);
    m_filterBar->setVisible(m_networkFilter->count() > 1);
    m_views->setCurrentIndex(static_cast<int>(period.by));
    m_calendar->setDate(ToQDate(period.anchor));
    m_calendar->setEnabled(period.CanStep());
    m_previous->setEnabled(period.CanStep());
    m_next->setEnabled(period.CanStep());
    m_title->setText(FromUtf8(period.Title()));
    setWindowTitle(QStringLiteral("Quantiro – raporty – ") + m_title->text());

    const std::vector<reports::Row> rows =
        reports::Rows(m_history, period.by, period.First(m_history), period.Last(m_history));
    std::vector<TrafficChart::Bar> bars;
    bars.reserve(rows.size());
    m_table->setRowCount(static_cast<int>(rows.size()));
    reports::Traffic total;
    std::int64_t totalLocal = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const reports::Row& row = rows[i];
        const reports::Traffic& traffic = row.traffic;
        const std::int64_t local = LocalOf(row, period.by);
        totalLocal += local;
        total.Add(traffic);
        bars.push_back({.label = ChartLabel(row, period.by),
                        .recorded = traffic.recorded,
                        .downloadKb = static_cast<double>(traffic.download),
                        .uploadKb = static_cast<double>(traffic.upload),
                        .onlineHours = static_cast<double>(traffic.onlineMs) / 3'600'000.0});
        FillPeriodRow(static_cast<int>(i), row, period.by, local);
    }
    m_chart->SetBars(std::move(bars));
    m_table->setColumnHidden(5, totalLocal <= 0);
    m_totals->setText(TotalsLine(total, totalLocal));
}

std::int64_t ReportsWindow::LocalOf(const reports::Row& row, reports::Grouping by) const {
    return (by == reports::Grouping::Hour ? m_applications.LocalHour(row.first, row.hour)
                                          : m_applications.Local(row.first, row.last))
        .Total();
}

void ReportsWindow::FillPeriodRow(int at, const reports::Row& row, reports::Grouping by,
                                  std::int64_t local) {
    const reports::Traffic& traffic = row.traffic;
    const QString label = by == reports::Grouping::Hour
                              ? QStringLiteral("%1:00").arg(row.hour, 2, 10, QLatin1Char('0'))
                              : FromUtf8(reports::RowLabel(row, by));
    m_table->setItem(at, 0, new QTableWidgetItem(label));
    // An hour without a record is left empty: nothing was measured then.
    const QStringList cells =
        traffic.recorded ? QStringList{Amount(traffic.download), Amount(traffic.upload),
                                       Amount(traffic.download + traffic.upload),
                                       FromUtf8(reports::FormatOnlineTime(traffic.onlineMs))}
                         : QStringList{QString(), QString(), QString(), QString()};
    for (int column = 1; column <= 4; ++column) {
        m_table->setItem(at, column, AmountItem(cells[column - 1]));
    }
    m_table->setItem(at, 5, AmountItem(local > 0 ? Amount(local) : QString()));
}

QString ReportsWindow::TotalsLine(const reports::Traffic& total, std::int64_t totalLocal) const {
    const QString totals = total.recorded
                               ? QStringLiteral("Razem: odebrano %1, wysłano %2, czas online %3")
                                     .arg(Amount(total.download), Amount(total.upload),
                                          FromUtf8(reports::FormatOnlineTime(total.onlineMs)))
                               : QStringLiteral("Razem: brak zapisów w tym okresie");
    return totals + LocalSuffix(totalLocal, m_counting, m_separator);
}

QString ReportsWindow::Amount(std::int64_t kilobytes) const {
    return FromUtf8(presentation::FormatMonthAmount(static_cast<double>(kilobytes), m_separator));
}

QString ReportsWindow::TotalsText() const {
    return m_totals->text();
}

QString ReportsWindow::PeriodText() const {
    return m_period->text();
}

QString ReportsWindow::ApplicationsNote() const {
    return m_applicationNote->isVisibleTo(this) ? m_applicationNote->text() : QString();
}

std::string ReportsWindow::ExportText(bool json) const {
    if (ShowsNetworks()) {
        const reports::NetworkShares shares =
            m_networkSource ? m_networkSource(m_networkRange) : reports::NetworkShares{};
        return json ? reports::NetworksJson(shares) : reports::NetworksCsv(shares);
    }
    if (ShowsApplications()) {
        return json ? reports::ApplicationsJson(m_applications.All(m_range.First(), m_range.Last()),
                                                m_entries)
                    : reports::ApplicationsCsv(
                          m_applications.Ranked(m_range.First(), m_range.Last(),
                                                reports::kNamedApplications, m_counting),
                          m_entries);
    }
    const CalendarDate first = m_shown.First(m_history), last = m_shown.Last(m_history);
    if (!json) {
        return reports::CsvReport(m_history, m_shown.by, first, last);
    }
    const QTime now = QTime::currentTime();
    return reports::JsonReport(m_history, m_shown.by, first, last,
                               {"default", m_today, now.hour(), now.minute()});
}

void ReportsWindow::Export() {
    const QString csvFilter = QStringLiteral("CSV (*.csv)");
    const QString jsonFilter = QStringLiteral("JSON (*.json)");
    QString chosenFilter = csvFilter;
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Eksportuj widok"),
                                     QStringLiteral("quantiro-%1.csv")
                                         .arg(ShowsApplications() ? QStringLiteral("aplikacje")
                                              : ShowsNetworks()   ? QStringLiteral("sieci")
                                                                  : QStringLiteral("ruch")),
                                     csvFilter + QStringLiteral(";;") + jsonFilter, &chosenFilter);
    if (path.isEmpty()) {
        return;
    }
    const bool json =
        chosenFilter == jsonFilter || path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    try {
        platform::WriteFileWhole(path.toStdString(), ExportText(json));
    } catch (const paths::PathError& error) {
        QMessageBox::warning(this, QStringLiteral("Quantiro – raporty"), FromUtf8(error.what()));
    }
}

void ReportsWindow::BuildBillingPeriod(const limits::Moment& now) {
    const reports::PeriodUse use = reports::UseOfPeriod(m_history, m_settings, now);
    const auto amount = [&](double kilobytes) {
        return Unbroken(presentation::FormatMonthAmount(kilobytes, m_separator));
    };
    QString text = QStringLiteral("Okres rozliczeniowy %1 – %2: ")
                       .arg(FromUtf8(FormatIsoDate(use.period.first)),
                            FromUtf8(FormatIsoDate(use.period.last)));
    if (use.limitKb > 0) {
        text += QStringLiteral("wykorzystano %1 z %2 (%3 %)")
                    .arg(amount(use.usedKb), amount(use.limitKb))
                    .arg(static_cast<int>(use.usedKb * 100 / use.limitKb));
    } else {
        text += QStringLiteral("%1 (limit nie jest ustawiony)").arg(amount(use.usedKb));
    }
    // Of what counts against the limit: received, sent or both, as the used figure.
    const reports::LocalTraffic local = m_applications.Local(use.period.first, m_today);
    const double localKb = reports::CountedKb({.download = local.download, .upload = local.upload},
                                              m_settings.direction);
    text += LocalSuffix(static_cast<std::int64_t>(localKb), m_counting, m_separator);
    text += use.estimateKb
                ? QStringLiteral("; prognoza na koniec okresu: %1 %2")
                      .arg(amount(*use.estimateKb), FromUtf8(reports::EstimateBasis(use.days)))
                : QStringLiteral("; prognoza od drugiego dnia okresu");
    m_period->setText(text);
    m_limitBar->SetUse(use.usedKb, use.estimateKb, use.limitKb);
    // A bar measures against a limit; without one it would only look like a gauge.
    m_limitBar->setVisible(use.limitKb > 0);
}

} // namespace quantiro::ui
