#pragma once

#include "limits/LimitCheck.h"
#include "reports/ReportRows.h"

#include <QWidget>

class QDateEdit;
class QLabel;
class QPushButton;
class QTabBar;
class QTableWidget;

namespace quantiro::ui {

class LimitBar;
class TrafficChart;

// The reports window: the traffic of the hours of a day, the days of a month, the
// months of a year or of every year, as a chart and a table with the period's
// totals; previous and next, a calendar to pick the period; and the billing
// period against the limit with its estimate.
class ReportsWindow final : public QWidget {
public:
    // `problem`, when not empty, says why there are no records to show.
    ReportsWindow(reports::TrafficHistory history, const limits::LimitSettings& settings,
                  const CalendarDate& today, reports::Grouping view, const QString& problem = {});

    void ShowPeriod(const reports::ShownPeriod& period);
    const reports::ShownPeriod& Shown() const { return m_shown; }

    TrafficChart& Chart() const { return *m_chart; }
    QTableWidget& Table() const { return *m_table; }
    QString TotalsText() const;
    QString PeriodText() const;

private:
    void BuildBillingPeriod();

    reports::TrafficHistory m_history;
    limits::LimitSettings m_settings;
    CalendarDate m_today;
    reports::ShownPeriod m_shown;
    std::string m_separator;

    QTabBar* m_views = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QLabel* m_title = nullptr;
    QDateEdit* m_calendar = nullptr;
    TrafficChart* m_chart = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_totals = nullptr;
    QLabel* m_period = nullptr;
    LimitBar* m_limitBar = nullptr;
};

} // namespace quantiro::ui
