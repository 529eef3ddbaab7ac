#pragma once

#include "platform/NetworkRecords.h"
#include "platform/Settings.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace quantiro::ui {

// The options program's page "Sieci": every network seen, its kind, whether it is
// metered, its plan; the selected network's plan edited, checked as the command
// line checks it and written at once; a network forgotten, or merged with another
// that is the same one.
class NetworksPage final : public QWidget {
public:
    // `openRecords(forMerging)` opens the networks' records; it may throw
    // platform::DatabaseError (no database yet), which shows as no networks.
    using OpenRecords = std::function<std::unique_ptr<platform::NetworkRecords>(bool forMerging)>;
    NetworksPage(platform::SettingsStore& settings, OpenRecords openRecords,
                 QWidget* parent = nullptr);

    // For the tests: the list and the plan's fields.
    QTableWidget* Table() const { return m_table; }
    QString Reason() const;
    // Writes the plan the fields hold for the selected network; false, with the
    // reason shown, when it was refused.
    bool SavePlan();

private:
    void Reload();
    void ShowPlanOf(int row);
    void ForgetSelected();
    void MergeSelected();
    void Refuse(const std::string& reason);

    platform::SettingsStore& m_settings;
    OpenRecords m_openRecords;
    std::vector<platform::StoredNetwork> m_networks;
    QTableWidget* m_table = nullptr;
    QComboBox* m_kind = nullptr;
    QLineEdit* m_limit = nullptr;
    QComboBox* m_direction = nullptr;
    QSpinBox* m_billingDay = nullptr;
    QLineEdit* m_start = nullptr;
    QSpinBox* m_days = nullptr;
    QLabel* m_reason = nullptr;
};

} // namespace quantiro::ui
