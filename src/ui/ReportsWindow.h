#pragma once

#include "limits/LimitCheck.h"
#include "platform/DesktopEntries.h"
#include "reports/ApplicationUse.h"
#include "reports/NetworkUse.h"
#include "reports/ReportRows.h"
#include "ui/ApplicationChart.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTableWidget;
class QVBoxLayout;

namespace quantiro::ui {

class ApplicationChart;
class LimitBar;
class TrafficChart;

// The reports window: the traffic of the hours of a day, the days of a month, the
// months of a year or of every year, as a chart and a table with the period's
// totals; previous and next, a calendar to pick the period; and the billing
// period against the limit with its estimate. The "Aplikacje" view shows which
// applications moved the traffic of a day, a month or the billing period; the
// "Sieci" view which networks carried the traffic of a day, a month or each one's
// billing period. "Sieć:" narrows the other views to one network's traffic.
class ReportsWindow final : public QWidget {
public:
    // Each network's traffic of the range, read when the view asks.
    using NetworkSource = std::function<reports::NetworkShares(const reports::ApplicationRange&)>;
    // One network's records, for the views narrowed to it.
    struct NetworkRecords {
        reports::TrafficHistory history;
        reports::ApplicationHistory applications;
    };
    // By the network's id; "" the unknown network's.
    using NetworkRecordsSource = std::function<NetworkRecords(const std::string& networkId)>;

    // `problem`, when not empty, says why there are no records to show; `counting`
    // says how the local network's traffic stands to the figures; `networks`: none
    // leaves the "Sieci" view empty.
    ReportsWindow(reports::TrafficHistory history, reports::ApplicationHistory applications,
                  platform::DesktopEntries& entries, const limits::LimitSettings& settings,
                  reports::LocalCounting counting, const limits::Moment& now, reports::View view,
                  const QString& problem = {}, NetworkSource networks = {});

    void ShowPeriod(const reports::ShownPeriod& period);
    const reports::ShownPeriod& Shown() const { return m_shown; }
    void ShowApplications(const reports::ApplicationRange& range);
    const reports::ApplicationRange& ShownApplications() const { return m_range; }
    bool ShowsApplications() const;
    // The networks of the range: its span may be any the ranges have, a plan's period
    // too.
    void ShowNetworks(const reports::ApplicationRange& range);
    bool ShowsNetworks() const;
    // Offers the networks (an empty id: the unknown network) in "Sieć:" after
    // "wszystkie"; choosing one shows what `source` reads for it.
    void OfferNetworks(const std::vector<platform::Network>& networks, NetworkRecordsSource source);
    QComboBox& NetworkFilter() const { return *m_networkFilter; }

    TrafficChart& Chart() const { return *m_chart; }
    QTableWidget& Table() const { return *m_table; }
    ApplicationChart& ApplicationsChart() const { return *m_applicationChart; }
    QTableWidget& ApplicationsTable() const { return *m_applicationTable; }
    ApplicationChart& NetworksChart() const { return *m_networkChart; }
    QTableWidget& NetworksTable() const { return *m_networkTable; }
    QString NetworksTotals() const;
    QString TotalsText() const;
    QString PeriodText() const;
    QString ApplicationsNote() const;
    // What "Eksportuj" writes for the view shown: CSV, or JSON.
    std::string ExportText(bool json) const;

private:
    // The views' tabs, the span, previous and next, the title and the calendar;
    // returns the export button for ConnectControls.
    QPushButton* BuildControls(QVBoxLayout& layout);
    QWidget* BuildTrafficPage();
    QWidget* BuildApplicationsPage();
    QWidget* BuildNetworksPage();
    // The day the page shown is at, for another page to open on.
    CalendarDate ShownAnchor() const;
    // Why records are missing or were skipped, in red under everything else.
    void AddNotes(QVBoxLayout& layout, const QString& problem);
    void FitToScreen();
    void ConnectControls(QPushButton* exportButton);
    // The local network's kilobytes of a row of the traffic's table.
    std::int64_t LocalOf(const reports::Row& row, reports::Grouping by) const;
    void FillPeriodRow(int at, const reports::Row& row, reports::Grouping by, std::int64_t local);
    QString TotalsLine(const reports::Traffic& total, std::int64_t totalLocal) const;
    QString Amount(std::int64_t kilobytes) const;
    // A row's bar in an applications' or networks' chart; none for a row that moved
    // nothing.
    void AddBar(std::vector<ApplicationChart::Bar>& bars, const QString& name,
                std::int64_t download, std::int64_t upload, std::int64_t local) const;
    void BuildBillingPeriod(const limits::Moment& now);
    void Export();
    // The traffic's or the applications' view again, over the network chosen.
    void FilterByNetwork(int index);

    // Every network's records; m_history and m_applications are those shown.
    reports::TrafficHistory m_allHistory;
    reports::ApplicationHistory m_allApplications;
    reports::TrafficHistory m_history;
    reports::ApplicationHistory m_applications;
    platform::DesktopEntries& m_entries;
    reports::ApplicationRange m_range;
    limits::LimitSettings m_settings;
    reports::LocalCounting m_counting;
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
    QComboBox* m_span = nullptr;
    QStackedWidget* m_pages = nullptr;
    ApplicationChart* m_applicationChart = nullptr;
    QTableWidget* m_applicationTable = nullptr;
    QLabel* m_applicationNote = nullptr;
    NetworkSource m_networkSource;
    reports::ApplicationRange m_networkRange;
    QComboBox* m_networkSpan = nullptr;
    ApplicationChart* m_networkChart = nullptr;
    QTableWidget* m_networkTable = nullptr;
    QLabel* m_networkTotals = nullptr;
    QWidget* m_filterBar = nullptr;
    QComboBox* m_networkFilter = nullptr;
    NetworkRecordsSource m_networkRecords;
};

} // namespace quantiro::ui
