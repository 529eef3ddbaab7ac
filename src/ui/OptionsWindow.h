#pragma once

#include "options/OptionsCatalog.h"
#include "platform/Settings.h"
#include "ui/NetworksPage.h"

#include <QWidget>
#include <functional>
#include <map>
#include <string>

class QCheckBox;
class QLabel;
class QTabWidget;

namespace quantiro::ui {

// The options program's window: every setting of the catalog on three pages,
// starting with the session, and the networks' plans on a page of their own. Nothing is written
// until every field is valid; then only the values that changed, and the running meter is told to
// reload.
class OptionsWindow final : public QWidget {
public:
    // `linkSpeed` gives the speed in kbit/s of an interface (empty: the one the meter
    // would choose), 0 when unknown. `openNetworks` opens the networks' records for
    // the page "Sieci"; none: the page lists no networks.
    OptionsWindow(platform::SettingsStore& settings, std::string configHome,
                  std::function<std::int64_t(const std::string&)> linkSpeed,
                  NetworksPage::OpenRecords openNetworks = nullptr);

    // Checks every field and writes what changed. False, with the reasons shown
    // beside the fields, when something was refused.
    bool ApplyChanges();

    // For the tests: a field by setting name, and the reason shown beside it.
    QWidget* Field(std::string_view name) const;
    QString Reason(std::string_view name) const;
    QCheckBox* AutostartBox() const { return m_autostart; }
    NetworksPage* Networks() const { return m_networks; }

private:
    struct FieldWidgets {
        const options::Setting* setting = nullptr;
        QWidget* editor = nullptr;
        QLabel* reason = nullptr;
    };

    QWidget* MakePage(options::Page page);
    QWidget* MakeEditor(const options::Setting& setting, const std::string& value);
    QWidget* MakeSpeedEditor(const std::string& value);
    QWidget* MakeDirectoryEditor(const std::string& value);
    std::string ValueOf(const FieldWidgets& field) const;
    void DetectSpeed();

    platform::SettingsStore& m_settings;
    std::string m_configHome;
    std::function<std::int64_t(const std::string&)> m_linkSpeed;
    options::Loaded m_loaded;
    std::map<std::string, FieldWidgets, std::less<>> m_fields;
    QCheckBox* m_autostart = nullptr;
    QLabel* m_detected = nullptr;
    NetworksPage* m_networks = nullptr;
};

} // namespace quantiro::ui
