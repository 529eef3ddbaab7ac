#include "ui/OptionsWindow.h"

#include "platform/Autostart.h"
#include "ui/Icons.h"
#include "ui/QtText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

namespace quantiro::ui {

namespace {

using options::Kind;
using options::Page;

struct Preset {
    const char* caption;
    std::int64_t kilobits;
};

// Common links; 10 Gbit/s is beyond what the bars can scale to, so it gets the most they can.
constexpr std::array kPresets{
    Preset{"1 Mbit/s", 1'000},       Preset{"2 Mbit/s", 2'000},     Preset{"10 Mbit/s", 10'000},
    Preset{"20 Mbit/s", 20'000},     Preset{"50 Mbit/s", 50'000},   Preset{"100 Mbit/s", 100'000},
    Preset{"300 Mbit/s", 300'000},   Preset{"600 Mbit/s", 600'000}, Preset{"1 Gbit/s", 1'000'000},
    Preset{"2,5 Gbit/s", 2'500'000}, Preset{"5 Gbit/s", 5'000'000}, Preset{"10 Gbit/s", 9'761'289},
};

constexpr const char* kPageTitles[] = {"&Okno", "&Połączenie", "O&strzeżenia"};

} // namespace

OptionsWindow::OptionsWindow(platform::SettingsStore& settings, std::string configHome,
                             std::function<std::int64_t(const std::string&)> linkSpeed,
                             NetworksPage::OpenRecords openNetworks)
    : m_settings(settings)
    , m_configHome(std::move(configHome))
    , m_linkSpeed(std::move(linkSpeed))
    , m_loaded(options::Load(settings)) {
    setWindowTitle(QStringLiteral("Quantiro – ustawienia"));
    setWindowIcon(MeterIcon());
    auto* layout = new QVBoxLayout(this);
    auto* pages = new QTabWidget(this);
    for (const Page page : {Page::Window, Page::Connection, Page::Warnings}) {
        pages->addTab(MakePage(page), QString::fromUtf8(kPageTitles[static_cast<int>(page)]));
    }
    // Plans are written by the page's own button, each network's on its own.
    m_networks = new NetworksPage(settings, std::move(openNetworks));
    pages->addTab(m_networks, QStringLiteral("S&ieci"));
    layout->addWidget(pages);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Anuluj"));
    buttons->button(QDialogButtonBox::Apply)->setText(QStringLiteral("&Zastosuj"));
    connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
        if (ApplyChanges()) {
            close();
        }
    });
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            [this] { ApplyChanges(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    layout->addWidget(buttons);
}

QWidget* OptionsWindow::MakePage(Page page) {
    auto* widget = new QWidget;
    auto* form = new QFormLayout(widget);
    for (const options::Setting& setting : options::Catalog()) {
        if (setting.page != page) {
            continue;
        }
        const std::string value = m_loaded.values.at(std::string(setting.name));
        QWidget* editor = MakeEditor(setting, value);
        auto* reason = new QLabel(widget);
        reason->setStyleSheet(QStringLiteral("color: #b00000"));
        reason->setWordWrap(true);
        if (m_loaded.marked.contains(setting.name)) {
            reason->setText(
                QStringLiteral("W pliku ustawień była tu niepoprawna wartość; pokazano domyślną."));
        } else if (setting.atNextStart) {
            reason->setStyleSheet({});
            reason->setText(QStringLiteral("Zmiana zadziała po ponownym uruchomieniu miernika."));
        }
        reason->setVisible(!reason->text().isEmpty());
        auto* column = new QVBoxLayout;
        column->addWidget(editor);
        if (!setting.note.empty()) {
            auto* note = new QLabel(FromUtf8(setting.note), widget);
            note->setWordWrap(true);
            column->addWidget(note);
        }
        column->addWidget(reason);
        if (setting.kind == Kind::Flag) {
            form->addRow(column); // the check box carries its own label
        } else {
            auto* label = new QLabel(FromUtf8(setting.label), widget);
            label->setBuddy(editor->focusProxy() ? editor->focusProxy() : editor);
            form->addRow(label, column);
        }
        m_fields.emplace(std::string(setting.name), FieldWidgets{&setting, editor, reason});
    }
    if (page == Page::Window) {
        m_autostart = new QCheckBox(QStringLiteral("Uruchamiaj razem z s&esją"), widget);
        m_autostart->setChecked(platform::autostart::IsOn(m_configHome));
        form->addRow(m_autostart);
    }
    if (page == Page::Connection) {
        auto* detect = new QPushButton(QStringLiteral("Wy&krywaj szybkość łącza"), widget);
        m_detected = new QLabel(widget);
        connect(detect, &QPushButton::clicked, this, [this] { DetectSpeed(); });
        form->addRow(detect, m_detected);
    }
    return widget;
}

QWidget* OptionsWindow::MakeEditor(const options::Setting& setting, const std::string& value) {
    if (setting.kind == Kind::Flag) {
        auto* box = new QCheckBox(FromUtf8(setting.label));
        box->setChecked((value == "true") != setting.shownInverted);
        return box;
    }
    if (!setting.choices.empty()) {
        auto* list = new QComboBox;
        for (const options::Choice& choice : setting.choices) {
            list->addItem(FromUtf8(choice.caption), choice.value);
        }
        list->setCurrentIndex(list->findData(std::stoi(value)));
        return list;
    }
    if (setting.name == "Interfejs") {
        auto* list = new QComboBox;
        list->addItem(QStringLiteral("automatycznie"), QString());
        for (const QNetworkInterface& present : QNetworkInterface::allInterfaces()) {
            QStringList addresses;
            for (const QNetworkAddressEntry& entry : present.addressEntries()) {
                addresses << entry.ip().toString();
            }
            list->addItem(addresses.isEmpty()
                              ? present.name()
                              : QStringLiteral("%1 (%2)").arg(present.name(), addresses.join(", ")),
                          present.name());
        }
        const QString chosen = QString::fromStdString(value);
        if (list->findData(chosen) < 0) {
            list->addItem(QStringLiteral("%1 (nieobecny)").arg(chosen), chosen);
        }
        list->setCurrentIndex(list->findData(chosen));
        return list;
    }
    if (setting.name == "Download" || setting.name == "Upload") {
        return MakeSpeedEditor(value);
    }
    if (setting.directory) {
        return MakeDirectoryEditor(value);
    }
    return new QLineEdit(QString::fromStdString(value));
}

QWidget* OptionsWindow::MakeDirectoryEditor(const std::string& value) {
    // The path itself, and a button that picks a directory for it.
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* edit = new QLineEdit(QString::fromStdString(value), row);
    auto* pick = new QPushButton(QStringLiteral("Wy&bierz…"), row);
    connect(pick, &QPushButton::clicked, row, [this, edit] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Katalog metryk Prometheusa"), edit->text());
        if (!chosen.isEmpty()) {
            edit->setText(chosen);
        }
    });
    layout->addWidget(edit, 1);
    layout->addWidget(pick);
    row->setFocusProxy(edit);
    return row;
}

QWidget* OptionsWindow::MakeSpeedEditor(const std::string& value) {
    // The number itself, and common links that fill it in.
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* edit = new QLineEdit(QString::fromStdString(value), row);
    auto* presets = new QComboBox(row);
    presets->addItem(QStringLiteral("typowe łącza…"));
    for (const Preset& preset : kPresets) {
        presets->addItem(QString::fromUtf8(preset.caption), QVariant::fromValue(preset.kilobits));
    }
    connect(presets, &QComboBox::activated, row, [edit, presets](int index) {
        if (index > 0) {
            edit->setText(QString::number(presets->itemData(index).toLongLong()));
        }
        presets->setCurrentIndex(0);
    });
    layout->addWidget(edit, 1);
    layout->addWidget(presets);
    row->setFocusProxy(edit);
    return row;
}

std::string OptionsWindow::ValueOf(const FieldWidgets& field) const {
    if (auto* box = qobject_cast<QCheckBox*>(field.editor)) {
        return box->isChecked() != field.setting->shownInverted ? "true" : "false";
    }
    if (auto* list = qobject_cast<QComboBox*>(field.editor)) {
        const QVariant chosen = list->currentData();
        return chosen.typeId() == QMetaType::QString ? chosen.toString().toStdString()
                                                     : std::to_string(chosen.toInt());
    }
    auto* edit = qobject_cast<QLineEdit*>(field.editor->focusProxy() ? field.editor->focusProxy()
                                                                     : field.editor);
    return edit->text().trimmed().toStdString();
}

bool OptionsWindow::ApplyChanges() {
    options::Values edited;
    std::map<std::string, std::string, std::less<>> reasons;
    for (const auto& [name, field] : m_fields) {
        options::Parsed parsed = options::Parse(*field.setting, ValueOf(field));
        if (parsed.problem.empty()) {
            edited[name] = std::move(parsed.text);
        } else {
            reasons[name] = std::move(parsed.problem);
        }
    }
    for (options::Problem& problem : options::Check(edited)) {
        reasons.emplace(std::move(problem.name), std::move(problem.reason));
    }
    for (const auto& [name, field] : m_fields) {
        const auto reason = reasons.find(name);
        if (reason != reasons.end()) {
            field.reason->setStyleSheet(QStringLiteral("color: #b00000"));
            field.reason->setText(QString::fromStdString(reason->second));
            field.reason->show();
        } else if (!field.setting->atNextStart) {
            field.reason->hide();
        }
    }
    if (!reasons.empty()) {
        return false;
    }
    try {
        options::Apply(m_settings, m_loaded.values, edited);
        if (m_autostart->isChecked() != platform::autostart::IsOn(m_configHome)) {
            platform::autostart::Set(m_configHome, m_autostart->isChecked());
        }
    } catch (const std::exception& error) {
        QMessageBox::warning(this, windowTitle(), QString::fromUtf8(error.what()));
        return false;
    }
    m_loaded.values = std::move(edited);
    m_loaded.marked.clear();
    return true;
}

void OptionsWindow::DetectSpeed() {
    const std::int64_t kilobits = m_linkSpeed(ValueOf(m_fields.at("Interfejs")));
    if (kilobits <= 0) {
        m_detected->setText(QStringLiteral("Nie można odczytać szybkości tego łącza."));
        return;
    }
    const QString text = QString::number(std::min<std::int64_t>(kilobits, 9'761'289));
    for (const char* name : {"Download", "Upload"}) {
        qobject_cast<QLineEdit*>(m_fields.at(name).editor->focusProxy())->setText(text);
    }
    m_detected->setText(QStringLiteral("Łącze: %1 kbit/s").arg(kilobits));
}

QWidget* OptionsWindow::Field(std::string_view name) const {
    const auto found = m_fields.find(name);
    return found == m_fields.end() ? nullptr : found->second.editor;
}

QString OptionsWindow::Reason(std::string_view name) const {
    const auto found = m_fields.find(name);
    return found == m_fields.end() || found->second.reason->isHidden()
               ? QString()
               : found->second.reason->text();
}

} // namespace quantiro::ui
