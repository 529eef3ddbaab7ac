#include "ui/ReportsWindow.h"

#include "common/DecimalText.h"
#include "presentation/AmountFormat.h"
#include "reports/PeriodUse.h"
#include "ui/QtText.h"
#include "ui/TrafficChart.h"

#include <QDateEdit>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quantiro::ui {

namespace {

// A window frame and title bar, at most.
constexpr QSize kFrameRoom(16, 48);

constexpr std::array kViews{reports::Grouping::Hour, reports::Grouping::Day,
                            reports::Grouping::Month, reports::Grouping::Year};

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

} // namespace

ReportsWindow::ReportsWindow(reports::TrafficHistory history, const limits::LimitSettings& settings,
                             const CalendarDate& today, reports::Grouping view,
                             const QString& problem)
    : m_history(std::move(history))
    , m_settings(settings)
    , m_today(today)
    , m_shown{view, today}
    , m_separator(EnvironmentDecimalSeparator()) {
    auto* layout = new QVBoxLayout(this);

    auto* bar = new QHBoxLayout;
    m_views = new QTabBar;
    for (const char* name : {"Godziny", "Dni", "Miesiące", "Lata"}) {
        m_views->addTab(QString::fromUtf8(name));
    }
    m_previous = new QPushButton(QStringLiteral("◀ Poprzedni"));
    m_next = new QPushButton(QStringLiteral("Następny ▶"));
    m_title = new QLabel;
    m_title->setAlignment(Qt::AlignCenter);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_calendar = new QDateEdit;
    m_calendar->setCalendarPopup(true);
    m_calendar->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_calendar->setToolTip(QStringLiteral("Pokaż okres, w którym leży ten dzień"));
    bar->addWidget(m_views);
    bar->addStretch();
    bar->addWidget(m_previous);
    bar->addWidget(m_title, 1);
    bar->addWidget(m_next);
    bar->addWidget(m_calendar);
    layout->addLayout(bar);

    m_chart = new TrafficChart;
    layout->addWidget(m_chart, 3);
    m_table = new QTableWidget(0, 5);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Okres"), QStringLiteral("Odebrano"),
                                        QStringLiteral("Wysłano"), QStringLiteral("Razem"),
                                        QStringLiteral("Czas online")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(m_table, 2);
    m_totals = new QLabel;
    layout->addWidget(m_totals);
    m_period = new QLabel;
    m_period->setWordWrap(true);
    layout->addWidget(m_period);
    m_limitBar = new LimitBar;
    layout->addWidget(m_limitBar);
    QString notes = problem;
    if (const std::string skipped = reports::SkippedNote(m_history); !skipped.empty()) {
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("(!) ") +
                 FromUtf8(skipped);
    }
    if (!notes.isEmpty()) {
        auto* note = new QLabel(notes);
        note->setStyleSheet(QStringLiteral("color: #b00000"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    BuildBillingPeriod();
    // On a small screen (1366 x 768, 1280 x 800) the window keeps inside the area
    // the panels leave, with room for its frame.
    QSize size(760, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() - kFrameRoom);
    }
    resize(size.expandedTo(minimumSizeHint()));

    connect(m_views, &QTabBar::currentChanged, this, [this](int index) {
        ShowPeriod({kViews[static_cast<std::size_t>(index)], m_shown.anchor});
    });
    connect(m_previous, &QPushButton::clicked, this, [this] { ShowPeriod(m_shown.Step(-1)); });
    connect(m_next, &QPushButton::clicked, this, [this] { ShowPeriod(m_shown.Step(+1)); });
    connect(m_calendar, &QDateEdit::dateChanged, this, [this](QDate date) {
        ShowPeriod({m_shown.by, {date.year(), date.month(), date.day()}});
    });
    ShowPeriod(m_shown);
}

void ReportsWindow::ShowPeriod(const reports::ShownPeriod& period) {
    m_shown = period;
    const QSignalBlocker viewsQuiet(m_views), calendarQuiet(m_calendar);
    m_views->setCurrentIndex(static_cast<int>(period.by));
    m_calendar->setDate(ToQDate(period.anchor));
    m_calendar->setEnabled(period.CanStep());
    m_previous->setEnabled(period.CanStep());
    m_next->setEnabled(period.CanStep());
    m_title->setText(FromUtf8(period.Title()));
    setWindowTitle(QStringLiteral("Quantiro – raporty – ") + m_title->text());

    const auto amount = [&](std::int64_t kilobytes) {
        return FromUtf8(
            presentation::FormatMonthAmount(static_cast<double>(kilobytes), m_separator));
    };
    const std::vector<reports::Row> rows =
        reports::Rows(m_history, period.by, period.First(m_history), period.Last(m_history));
    std::vector<TrafficChart::Bar> bars;
    bars.reserve(rows.size());
    m_table->setRowCount(static_cast<int>(rows.size()));
    reports::Traffic total;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const reports::Row& row = rows[i];
        const reports::Traffic& traffic = row.traffic;
        total.Add(traffic);
        bars.push_back({ChartLabel(row, period.by), traffic.recorded,
                        static_cast<double>(traffic.download), static_cast<double>(traffic.upload),
                        static_cast<double>(traffic.onlineMs) / 3'600'000.0});
        const int at = static_cast<int>(i);
        const QString label = period.by == reports::Grouping::Hour
                                  ? QStringLiteral("%1:00").arg(row.hour, 2, 10, QLatin1Char('0'))
                                  : FromUtf8(reports::RowLabel(row, period.by));
        m_table->setItem(at, 0, new QTableWidgetItem(label));
        // An hour without a record is left empty: nothing was measured then.
        const QStringList cells =
            traffic.recorded ? QStringList{amount(traffic.download), amount(traffic.upload),
                                           amount(traffic.download + traffic.upload),
                                           FromUtf8(reports::FormatOnlineTime(traffic.onlineMs))}
                             : QStringList{QString(), QString(), QString(), QString()};
        for (int column = 1; column <= 4; ++column) {
            auto* item = new QTableWidgetItem(cells[column - 1]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(at, column, item);
        }
    }
    m_chart->SetBars(std::move(bars));
    m_totals->setText(total.recorded
                          ? QStringLiteral("Razem: odebrano %1, wysłano %2, czas online %3")
                                .arg(amount(total.download), amount(total.upload),
                                     FromUtf8(reports::FormatOnlineTime(total.onlineMs)))
                          : QStringLiteral("Razem: brak zapisów w tym okresie"));
}

QString ReportsWindow::TotalsText() const {
    return m_totals->text();
}

QString ReportsWindow::PeriodText() const {
    return m_period->text();
}

void ReportsWindow::BuildBillingPeriod() {
    const reports::PeriodUse use = reports::UseOfPeriod(m_history, m_settings, m_today);
    const auto amount = [&](double kilobytes) {
        return FromUtf8(presentation::FormatMonthAmount(kilobytes, m_separator));
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
    text += use.estimateKb
                ? QStringLiteral("; prognoza na koniec okresu: %1").arg(amount(*use.estimateKb))
                : QStringLiteral("; prognoza po trzech pełnych dniach okresu");
    m_period->setText(text);
    m_limitBar->SetUse(use.usedKb, use.estimateKb, use.limitKb);
    // A bar measures against a limit; without one it would only look like a gauge.
    m_limitBar->setVisible(use.limitKb > 0);
}

} // namespace quantiro::ui
