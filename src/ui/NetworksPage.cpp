#include "ui/NetworksPage.h"

#include "common/DecimalText.h"
#include "common/SettingsValues.h"
#include "options/NetworkOptions.h"
#include "ui/QtText.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quantiro::ui {

namespace {

// The plan kinds in the order the list offers them.
enum KindChoice { Shared, Monthly, Package, Unlimited };

QString Shown(const platform::StoredNetwork& stored) {
    return FromUtf8(stored.network.name.empty() ? stored.network.id : stored.network.name);
}

} // namespace

NetworksPage::NetworksPage(platform::SettingsStore& settings, OpenRecords openRecords,
                           QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_openRecords(std::move(openRecords)) {
    auto* layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Sieć"), QStringLiteral("Rodzaj"),
                                        QStringLiteral("Taryfowana"), QStringLiteral("Plan")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_table);

    auto* form = new QFormLayout;
    m_kind = new QComboBox(this);
    m_kind->addItems({QStringLiteral("plan wspólny (ustawienia na stronie Ostrzeżenia)"),
                      QStringLiteral("miesięczny od dnia rozliczeniowego"),
                      QStringLiteral("pakiet na liczbę dni"), QStringLiteral("bez limitu")});
    m_limit = new QLineEdit(this);
    m_limit->setPlaceholderText(QStringLiteral("np. 5GB albo 500MB"));
    m_direction = new QComboBox(this);
    m_direction->addItems({QStringLiteral("odebrane"), QStringLiteral("wysłane"),
                           QStringLiteral("odebrane i wysłane")});
    m_billingDay = new QSpinBox(this);
    m_billingDay->setRange(1, 31);
    m_start = new QLineEdit(this);
    m_start->setPlaceholderText(QStringLiteral("RRRR-MM-DD"));
    m_days = new QSpinBox(this);
    m_days->setRange(1, 3660);
    // Named for the tests, which fill them as a user would.
    m_kind->setObjectName(QStringLiteral("plan"));
    m_limit->setObjectName(QStringLiteral("limit"));
    m_direction->setObjectName(QStringLiteral("direction"));
    m_start->setObjectName(QStringLiteral("start"));
    m_days->setObjectName(QStringLiteral("days"));
    form->addRow(QStringLiteral("Pla&n sieci:"), m_kind);
    form->addRow(QStringLiteral("Limi&t:"), m_limit);
    form->addRow(QStringLiteral("Do limitu &liczą się:"), m_direction);
    form->addRow(QStringLiteral("Dzień &rozliczeniowy:"), m_billingDay);
    form->addRow(QStringLiteral("Początek pa&kietu:"), m_start);
    form->addRow(QStringLiteral("Pakiet na &dni:"), m_days);
    layout->addLayout(form);
    m_reason = new QLabel(this);
    m_reason->setStyleSheet(QStringLiteral("color: #b00000"));
    m_reason->setWordWrap(true);
    m_reason->hide();
    layout->addWidget(m_reason);

    auto* buttons = new QHBoxLayout;
    auto* save = new QPushButton(QStringLiteral("Zapisz &plan"), this);
    auto* forget = new QPushButton(QStringLiteral("Zapo&mnij sieć"), this);
    auto* merge = new QPushButton(QStringLiteral("Połą&cz z inną…"), this);
    buttons->addWidget(save);
    buttons->addStretch();
    buttons->addWidget(forget);
    buttons->addWidget(merge);
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, [this] { SavePlan(); });
    connect(forget, &QPushButton::clicked, this, [this] { ForgetSelected(); });
    connect(merge, &QPushButton::clicked, this, [this] { MergeSelected(); });
    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) { ShowPlanOf(row); });
    auto enableFields = [this] {
        const int kind = m_kind->currentIndex();
        for (QWidget* field :
             {static_cast<QWidget*>(m_limit), static_cast<QWidget*>(m_direction)}) {
            field->setEnabled(kind == Monthly || kind == Package);
        }
        m_billingDay->setEnabled(kind == Monthly);
        m_start->setEnabled(kind == Package);
        m_days->setEnabled(kind == Package);
    };
    connect(m_kind, &QComboBox::currentIndexChanged, this, enableFields);
    Reload();
    enableFields();
}

QString NetworksPage::Reason() const {
    return m_reason->isHidden() ? QString() : m_reason->text();
}

void NetworksPage::Refuse(const std::string& reason) {
    m_reason->setText(FromUtf8(reason));
    m_reason->setVisible(!reason.empty());
}

void NetworksPage::Reload() {
    const int selected = std::max(m_table->currentRow(), 0);
    m_networks.clear();
    try {
        if (m_openRecords) {
            m_networks = options::ListedNetworks(*m_openRecords(false), m_settings);
        }
    } catch (const platform::DatabaseError&) {
        // No database yet, or one that cannot be read now: no networks to show.
    }
    const std::string separator = EnvironmentDecimalSeparator();
    m_table->setRowCount(static_cast<int>(m_networks.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const platform::StoredNetwork& stored = m_networks[static_cast<std::size_t>(row)];
        const auto plan = limits::ReadNetworkPlan(m_settings, stored.network.id);
        const QString cells[] = {Shown(stored), FromUtf8(options::KindText(stored.network.kind)),
                                 stored.network.metered ? QStringLiteral("tak")
                                                        : QStringLiteral("nie"),
                                 FromUtf8(options::PlanSummary(stored.network, plan, separator))};
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(FromUtf8(stored.network.id));
            m_table->setItem(row, column, item);
        }
    }
    if (!m_networks.empty()) {
        m_table->setCurrentCell(std::min(selected, m_table->rowCount() - 1), 0);
    }
    ShowPlanOf(m_table->currentRow());
}

void NetworksPage::ShowPlanOf(int row) {
    Refuse("");
    const bool any = row >= 0 && row < static_cast<int>(m_networks.size());
    m_kind->setEnabled(any);
    if (!any) {
        return;
    }
    const auto plan =
        limits::ReadNetworkPlan(m_settings, m_networks[static_cast<std::size_t>(row)].network.id);
    const limits::NetworkPlan shown = plan.value_or(limits::NetworkPlan{});
    m_kind->setCurrentIndex(!plan                                     ? Shared
                            : shown.kind == limits::PlanKind::Monthly ? Monthly
                            : shown.kind == limits::PlanKind::Package ? Package
                                                                      : Unlimited);
    m_limit->setText(shown.limitMb <= 0          ? QString()
                     : shown.limitMb % 1024 == 0 ? QStringLiteral("%1GB").arg(shown.limitMb / 1024)
                                                 : QStringLiteral("%1MB").arg(shown.limitMb));
    m_direction->setCurrentIndex(limits::StoredDirection(shown.direction));
    m_billingDay->setValue(shown.billingDay);
    m_start->setText(shown.kind == limits::PlanKind::Package ? FromUtf8(FormatIsoDate(shown.start))
                                                             : QString());
    m_days->setValue(shown.days);
}

bool NetworksPage::SavePlan() {
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_networks.size())) {
        return false;
    }
    const std::string id = m_networks[static_cast<std::size_t>(row)].network.id;
    // The command line's own words, so the page checks exactly as it does.
    std::vector<std::string> arguments{"--network", id};
    const int kind = m_kind->currentIndex();
    const std::string direction = std::to_string(m_direction->currentIndex());
    const std::string limit = m_limit->text().trimmed().toStdString();
    if (kind == Shared) {
        arguments.push_back("--no-plan");
    } else if (kind == Unlimited) {
        arguments.push_back("--unlimited");
    } else if (kind == Monthly) {
        arguments.insert(arguments.end(),
                         {"--plan", limit, "--from-day", std::to_string(m_billingDay->value()),
                          "--direction", direction});
    } else {
        arguments.insert(arguments.end(),
                         {"--package", limit, "--start", m_start->text().trimmed().toStdString(),
                          "--days", std::to_string(m_days->value()), "--direction", direction});
    }
    const auto parsed = options::ParseNetworkCommand(arguments);
    if (const auto* refusal = std::get_if<options::Refusal>(&parsed)) {
        Refuse(refusal->reason);
        return false;
    }
    const auto& command = std::get<options::NetworkCommand>(parsed);
    try {
        if (command.action == options::NetworkCommand::Action::RemovePlan) {
            limits::RemoveNetworkPlan(m_settings, id);
        } else {
            limits::WriteNetworkPlan(m_settings, command.plan);
        }
        platform::Write(m_settings, values::kSettingsChanged, true);
    } catch (const platform::SettingsError& error) {
        Refuse(error.what());
        return false;
    }
    Reload();
    return true;
}

void NetworksPage::ForgetSelected() {
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_networks.size())) {
        return;
    }
    const platform::StoredNetwork& stored = m_networks[static_cast<std::size_t>(row)];
    if (QMessageBox::question(this, window()->windowTitle(),
                              QStringLiteral("Zapomnieć sieć „%1”? Jej plan zostanie usunięty, a "
                                             "sieć wróci na listę, gdy znów się pojawi. Zapisany "
                                             "ruch zostaje.")
                                  .arg(Shown(stored))) != QMessageBox::Yes) {
        return;
    }
    try {
        limits::ForgetNetwork(m_settings, stored.network.id, stored.last);
        platform::Write(m_settings, values::kSettingsChanged, true);
    } catch (const platform::SettingsError& error) {
        Refuse(error.what());
    }
    Reload();
}

void NetworksPage::MergeSelected() {
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_networks.size()) || m_networks.size() < 2) {
        return;
    }
    const platform::StoredNetwork kept = m_networks[static_cast<std::size_t>(row)];
    QStringList others;
    std::vector<platform::StoredNetwork> candidates;
    for (const platform::StoredNetwork& stored : m_networks) {
        if (stored.network.id != kept.network.id) {
            others << QStringLiteral("%1 (%2)").arg(Shown(stored), FromUtf8(stored.network.id));
            candidates.push_back(stored);
        }
    }
    bool chosen = false;
    const QString picked = QInputDialog::getItem(
        this, window()->windowTitle(),
        QStringLiteral("Która sieć jest tą samą co „%1”? Jej ruch przejdzie do „%1”.")
            .arg(Shown(kept)),
        others, 0, false, &chosen);
    if (!chosen) {
        return;
    }
    try {
        options::MergeNetworks(*m_openRecords(true), m_settings, kept,
                               candidates[static_cast<std::size_t>(others.indexOf(picked))]);
        platform::Write(m_settings, values::kSettingsChanged, true);
    } catch (const platform::DatabaseError& error) {
        Refuse(error.what());
    } catch (const platform::SettingsError& error) {
        Refuse(error.what());
    }
    Reload();
}

} // namespace quantiro::ui
