#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "limits/NetworkPlans.h"
#include "options/OptionsCatalog.h"
#include "options/OptionsCommandLine.h"
#include "platform/linux/SqliteDatabase.h"
#include "ui/OptionsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <sstream>

#include <gtest/gtest.h>

namespace quantiro::options {
namespace {

struct Store {
    Store() { std::filesystem::create_directories(system.SettingsFile().parent_path()); }
    void Holds(const std::string& lines) {
        std::ofstream(system.SettingsFile()) << "[General]\n" << lines;
        settings = system.OtherProgram();
    }
    int Run(std::vector<std::string> arguments) {
        std::ostringstream out, errors;
        return RunCommandLine(arguments, *settings, out, errors, "Użycie: quantiro-options\n");
    }
    std::string File() const { return testing::FileText(system.SettingsFile()); }

    testing::TestSystem system;
    std::unique_ptr<platform::linux_impl::IniSettingsStore> settings;
};

TEST(OptionsTest, ARefusedValueWritesNothingAndAnAcceptedOneOnlyWhatChanged) {
    struct Case {
        std::vector<std::string> set;
        int status;
        std::vector<std::string> written; // lines the file gains
    };
    const Case cases[] = {
        {{"--set", "Download=0"}, 2, {}},
        {{"--set", "Download=9761290"}, 2, {}},
        {{"--set", "Upload=12abc"}, 2, {}},
        {{"--set", "ExtErrorValue=1001"}, 2, {}},
        {{"--set", "LimitProg1=95"}, 2, {}}, // above the second threshold
        {{"--set", "DzienRozliczeniowy=32"}, 2, {}},
        {{"--set", "LimitMiesieczny=2147483648"}, 2, {}},
        {{"--set", "OnTop=maybe"}, 2, {}},
        {{"--set", "Bogus=1"}, 2, {}},
        {{"--set", "Download=1000", "Size"}, 2, {}}, // all or nothing
        {{"--get"}, 2, {}},
        {{"--get", "Download", "Bogus"}, 2, {}},
        {{"--set", "Download=1000", "--set", "Bogus=1"}, 2, {}},
        {{"--set", "Download=1000", "--set", "OnTop=0"},
         0,
         {"Download=1000", "OnTop=false", "WasChanged=true"}},
        {{"--set", "Download=9 761 289", "OnTop=0", "LimitProg1=0", "LimitProg2=0"},
         0,
         {"Download=9761289", "OnTop=false", "LimitProg1=0", "LimitProg2=0", "WasChanged=true"}},
        {{"--set", "Upload=128", "Interfejs=eth1"}, 0, {"Interfejs=eth1", "WasChanged=true"}},
        {{"--set", "ZliczanieDokladne=0"}, 0, {"ZliczanieDokladne=false", "WasChanged=true"}},
        {{"--set", "TylkoInternet=tak"}, 0, {"TylkoInternet=true", "WasChanged=true"}},
        {{"--set", "ZliczanieDokladne=NIE", "Hide=Tak"},
         0,
         {"ZliczanieDokladne=false", "Hide=true", "WasChanged=true"}},
        {{"--set", "Hide=takk"}, 2, {}},
        {{"--set", "SiecLokalna=10.9.0.0/16, fd12::/16", "TylkoInternet=1"},
         0,
         {"SiecLokalna=\"10.9.0.0/16, fd12::/16\"", "TylkoInternet=true", "WasChanged=true"}},
        {{"--set", "SiecLokalna=10.9.0.0/16,10.300.0.0/16"}, 2, {}},
        {{"--set", "KatalogMetryk=metryki"}, 2, {}}, // not from the root
        {{"--set", "KatalogMetryk=/var/lib/prometheus/node-exporter"},
         0,
         {"KatalogMetryk=/var/lib/prometheus/node-exporter", "WasChanged=true"}},
    };
    for (const Case& c : cases) {
        const std::string label = ::testing::PrintToString(c.set);
        Store store;
        store.Holds("Upload=128\nLeftP=1500\n");
        const std::string before = store.File();
        EXPECT_EQ(store.Run(c.set), c.status) << label;
        std::string expected = before;
        for (const std::string& line : c.written) {
            expected += line + "\n";
        }
        // QSettings keeps the keys sorted; compare as sets of lines.
        auto lines = [](const std::string& text) {
            std::multiset<std::string> all;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);) {
                all.insert(line);
            }
            return all;
        };
        EXPECT_EQ(lines(store.File()), lines(expected)) << label;
    }
}

TEST(OptionsTest, TheWindowKeepsAnotherProgramsChangeAndShowsWhyItRefuses) {
    Store store;
    store.Holds("Download=12abc\nLimitProg3=500\n");
    ui::OptionsWindow window(*store.settings, store.system.configHome.string(),
                             [](const std::string&) { return 0; });
    // Values the file holds wrongly are shown as their defaults, and marked.
    EXPECT_EQ(qobject_cast<QLineEdit*>(window.Field("Download")->focusProxy())->text(), "512");
    EXPECT_FALSE(window.Reason("LimitProg3").isEmpty());

    // Another program changes a value while the window is open.
    platform::Write(*store.system.OtherProgram(), values::kStartHidden, true);
    auto* tolerance = qobject_cast<QLineEdit*>(window.Field("ExtErrorValue"));
    for (const char* bad : {"0", "1001", "dużo", ""}) {
        tolerance->setText(QString::fromUtf8(bad));
        EXPECT_FALSE(window.ApplyChanges()) << bad;
        EXPECT_FALSE(window.Reason("ExtErrorValue").isEmpty()) << bad;
    }
    EXPECT_FALSE(platform::Read(*store.system.OtherProgram(), values::kSettingsChanged));
    tolerance->setText(QStringLiteral("150"));
    qobject_cast<QCheckBox*>(window.Field("InfoFile"))->setChecked(false); // no summary
    window.AutostartBox()->setChecked(true);
    ASSERT_TRUE(window.ApplyChanges());
    const auto meter = store.system.OtherProgram();
    EXPECT_EQ(platform::Read(*meter, values::kRateTolerancePercent), 150);
    EXPECT_TRUE(platform::Read(*meter, values::kNoStartSummary));
    EXPECT_TRUE(platform::Read(*meter, values::kStartHidden)); // not overwritten
    EXPECT_TRUE(platform::Read(*meter, values::kSettingsChanged));
    EXPECT_EQ(store.File().find("Download="), store.File().find("Download=12abc")); // untouched
    EXPECT_TRUE(std::filesystem::exists(store.system.configHome / "autostart/quantiro.desktop"));
}

// The page's fields reach the plan as the command line's words would.
TEST(OptionsTest, TheNetworksPageWritesThePlanItsFieldsHoldOrSaysWhyNot) {
    Store store;
    store.Holds("LimitMiesieczny=100\n");
    const std::string database = store.system.Database().string();
    platform::linux_impl::OpenTrafficDatabase(database); // made with the networks' tables
    testing::TrafficTable(database).Exec(
        "INSERT INTO sieci VALUES ('nm:dom', 'Dom', 'wifi', 0, '2026-12-01', '2026-12-07', ''),"
        "('nm:modem', 'Modem', 'mobile', 1, '2026-12-01', '2026-12-07', '')");
    ui::OptionsWindow window(
        *store.settings, store.system.configHome.string(), [](const std::string&) { return 0; },
        [&](bool forMerging) {
            return platform::linux_impl::OpenNetworkRecords(database, forMerging);
        });
    ui::NetworksPage& page = *window.Networks();
    ASSERT_EQ(page.Table()->rowCount(), 2);
    EXPECT_EQ(page.Table()->item(1, 3)->text(), QStringLiteral("taryfowana, bez planu"));
    page.Table()->setCurrentCell(1, 0);
    page.findChild<QComboBox*>("plan")->setCurrentIndex(2); // a package
    page.findChild<QComboBox*>("direction")->setCurrentIndex(0);
    page.findChild<QLineEdit*>("limit")->setText(QStringLiteral("-10GB"));
    page.findChild<QLineEdit*>("start")->setText(QStringLiteral("2026-12-20"));
    page.findChild<QSpinBox*>("days")->setValue(30);
    EXPECT_FALSE(page.SavePlan());
    EXPECT_TRUE(page.Reason().contains(QStringLiteral("ujemny"))) << page.Reason().toStdString();
    page.findChild<QLineEdit*>("limit")->setText(QStringLiteral("10GB"));
    ASSERT_TRUE(page.SavePlan());
    EXPECT_EQ(limits::ReadNetworkPlan(*store.system.OtherProgram(), "nm:modem"),
              (limits::NetworkPlan{.network = "nm:modem",
                                   .kind = limits::PlanKind::Package,
                                   .limitMb = 10240,
                                   .direction = limits::CountedDirection::Received,
                                   .start = {2026, 12, 20},
                                   .days = 30}));
    EXPECT_TRUE(
        page.Table()->item(1, 3)->text().endsWith(QStringLiteral("na 30 dni od 2026-12-20")));
}

} // namespace
} // namespace quantiro::options
