// Which program used the link and how much of it was billed, as the meter records
// it beside each hour. The counting service is a fake whose answers come as late
// as a case says; the sampler, the account, the records and the database are real.
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "limits/NetworkPlans.h"
#include "shell/Texts.h"

#include <gtest/gtest.h>

namespace quantiro::shell {
namespace {

constexpr std::uint64_t kKb = 1024;

// The counting service as the meter's reader sees it: a question is answered with
// the counters as they stood when it came, `answerAfter` polls later; a silent
// service takes no question.
struct FakeService final : platform::ApplicationCounterSource {
    std::optional<platform::ApplicationCounters> Poll(const platform::AskedInterface& interface,
                                                      bool ask) override {
        std::optional<platform::ApplicationCounters> answer;
        if (question && ++polls >= answerAfter) {
            answer = std::exchange(question, std::nullopt);
        }
        if (silent) {
            question.reset();
        } else if (ask && !question) {
            question = platform::ApplicationCounters{.interfaceName = interface.name, .run = run};
            for (const auto& [name, counter] : counters) {
                question->applications.push_back(counter);
            }
            polls = 0;
        }
        return answer;
    }
    bool Waiting() const override { return question.has_value(); }
    void SetLocalNetworks(const std::string& prefixes) override { localNetworks = prefixes; }
    bool TakeLocalNetworksRefused() override { return false; }

    int answerAfter = 1;
    int polls = 0;
    bool silent = false;
    std::string run = "first";
    std::string localNetworks;
    std::map<std::string, platform::ApplicationCounter> counters;
    std::optional<platform::ApplicationCounters> question;
};

// What one program receives in one tick, in kB, and the local network's part of it.
struct Flow {
    std::uint64_t kb = 0;
    std::uint64_t localKb = 0;
};
using Flows = std::map<std::string, Flow>;
// Per hour: each application's kB down and its local part, as "aplikacje" holds them.
using HourRows = std::map<long long, std::map<std::string, std::pair<long long, long long>>>;

// One meter over the fake service, a tick at a time.
struct MeterRun {
    MeterRun() { system.clock.SetNow({2026, 12, 7, 10, 0, 0}); }
    void Start() {
        auto parts = system.Parts();
        parts.applicationCounters = &service;
        parts.networks = networks;
        parts.runtimeDirectory = system.dir.Path().string();
        meter.emplace(parts, ui.Parts());
        ASSERT_EQ(meter->StartUp("/START"), Meter::StartUpResult::Running);
    }
    // The programs move their flows and the link carries them, with `unownedKb`
    // that no program's socket saw.
    void Ticks(int count, const Flows& flows = {}, std::uint64_t unownedKb = 0) {
        for (int i = 0; i < count; ++i) {
            for (const auto& [name, flow] : flows) {
                platform::ApplicationCounter& counter = service.counters[name];
                counter.application = name;
                counter.counters.received.billedBytes += (flow.kb - flow.localKb) * kKb;
                counter.counters.received.localBytes += flow.localKb * kKb;
                linkKb += flow.kb;
            }
            linkKb += unownedKb;
            system.table.SetCounters(linkKb * kKb, linkKb * kKb);
            system.clock.Advance(100);
            meter->OnTick();
            shown.push_back(ui.receivedAmount);
        }
    }
    // Closes the meter; what it showed last is what its records must hold.
    void Close() {
        meter->RequestClose(CloseReason::UserEnded);
        lastShown = meter->RunTotals().received;
        meter.reset();
    }

    testing::TestSystem system;
    FakeService service;
    platform::NetworkWatch* networks = nullptr;
    testing::RecordingFrontEnd ui;
    std::optional<Meter> meter;
    std::uint64_t linkKb = 50'000; // since boot, before the meter starts
    std::vector<double> shown;     // the received amount after each tick
    double lastShown = 0;
};

TEST(ApplicationsTest, EachHourHoldsItsOwnTicksBilledOnceAndItsRowsAddUpToIt) {
    struct Case {
        const char* name;
        std::function<void(MeterRun&)> act;
        HourRows expected;
        bool exact = true; // every tick counted: the records equal what was shown
    };
    const Flows firefox = {{"firefox.desktop", {.kb = 10}}};
    const Flows copyFromNas = {{"firefox.desktop", {.kb = 10}},
                               {"nautilus", {.kb = 50, .localKb = 50}}};
    auto internetOnly = [](MeterRun& run) {
        platform::Write(*run.system.OtherProgram(), values::kInternetOnly, true);
    };
    const Case cases[] = {
        {"what the service counted before the meter started is not the meter's",
         [&](MeterRun& run) {
             run.service.counters["firefox.desktop"] = {
                 .application = "firefox.desktop",
                 .counters = {.received = {.billedBytes = 70'000 * kKb}}};
             run.Start();
             run.Ticks(10);
             run.Ticks(20, firefox);
             run.Ticks(10, {{"curl", {.kb = 5}}}, 5);
             // A look-up of 300 bytes leaves no row of zeros behind.
             run.service.counters["quantiro-fetch"] = {
                 .application = "quantiro-fetch", .counters = {.received = {.billedBytes = 300}}};
             run.Ticks(10);
         },
         {{10, {{"firefox.desktop", {200, 0}}, {"curl", {50, 0}}, {"nieprzypisane", {50, 0}}}}}},
        {"the service restarted: its counters start from zero, nothing doubles",
         [&](MeterRun& run) {
             run.Start();
             run.Ticks(10);
             run.Ticks(10, firefox);
             run.service.run = "second";
             run.service.counters.clear();
             run.Ticks(20, firefox);
             run.Ticks(10);
         },
         // The old run's last second was never read: it stays unattributed.
         {{10, {{"firefox.desktop", {210, 0}}, {"nieprzypisane", {90, 0}}}}}},
        {"an hour change between question and answer: each hour keeps its own ticks' share",
         [&](MeterRun& run) {
             run.service.answerAfter = 5; // the answer comes after the hour closed
             run.Start();
             run.Ticks(10);
             run.Ticks(13, firefox);
             run.system.clock.SetNow({2026, 12, 7, 11, 0, 0});
             // The first counting tick of the new hour still goes to the old one.
             run.Ticks(27, firefox);
             run.Ticks(10);
         },
         {{10, {{"firefox.desktop", {140, 0}}, {"nieprzypisane", {0, 0}}}},
          {11, {{"firefox.desktop", {260, 0}}, {"nieprzypisane", {0, 0}}}}}},
        {"billed only, answers 1.5 s late: a copy from the NAS stays out of the hour and "
         "the totals, and is kept beside its program",
         [&](MeterRun& run) {
             internetOnly(run);
             run.system.OtherProgram()->WriteText(values::kLocalNetworks.name, "203.0.113.0/24");
             run.service.answerAfter = 15;
             run.Start();
             EXPECT_EQ(run.service.localNetworks, "203.0.113.0/24");
             run.Ticks(20);
             run.Ticks(40, copyFromNas);
             run.Ticks(30);
         },
         {{10,
           {{"firefox.desktop", {400, 0}}, {"nautilus", {0, 2000}}, {"nieprzypisane", {0, 0}}}}}},
        {"billed only, the service falls silent: what waits counts as billed after 3 s and "
         "is never taken back",
         [&](MeterRun& run) {
             internetOnly(run);
             run.Start();
             run.Ticks(20);
             run.Ticks(20, copyFromNas);
             run.service.silent = true;
             run.Ticks(60, copyFromNas);
             EXPECT_EQ(run.ui.messages,
                       std::vector<std::string>{std::string(texts::kInternetOnlyWithoutCollector)});
         },
         // What the last answer covered stays told apart; everything after is billed.
         {{10,
           {{"firefox.desktop", {110, 0}}, {"nautilus", {0, 550}}, {"nieprzypisane", {4140, 0}}}}}},
        {"billed only, counting by ticks over 1 kB: the hour never goes below zero",
         [&](MeterRun& run) {
             internetOnly(run);
             platform::Write(*run.system.OtherProgram(), values::kExactCounting, false);
             run.Start();
             run.Ticks(20);
             run.Ticks(20, {{"nautilus", {.kb = 5, .localKb = 5}}});
             run.Ticks(20, {{"nautilus", {.kb = 1, .localKb = 1}}}); // never counted
             run.Ticks(10);
             run.Ticks(20, copyFromNas);
             run.Ticks(20);
         },
         {{10,
           {{"firefox.desktop", {200, 0}}, {"nautilus", {0, 1120}}, {"nieprzypisane", {0, 0}}}}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeterRun run;
        c.act(run);
        run.Close();
        const auto fell = std::adjacent_find(run.shown.begin(), run.shown.end(), std::greater<>());
        EXPECT_EQ(fell, run.shown.end())
            << "the amount shown fell at tick " << fell - run.shown.begin();
        const HourRows rows = testing::TrafficTable(run.system.Database()).Applications();
        EXPECT_EQ(rows, c.expected);
        long long recorded = 0;
        for (const testing::TrafficRow& hour :
             testing::TrafficTable(run.system.Database()).Rows()) {
            long long sum = 0;
            for (const auto& [name, amounts] : rows.at(hour.godzina)) {
                sum += amounts.first;
            }
            EXPECT_EQ(sum, hour.download) << "hour " << hour.godzina << ": rows add up to it";
            recorded += hour.download;
        }
        if (c.exact) {
            EXPECT_EQ(static_cast<double>(recorded), run.lastShown)
                << "the records hold what was shown";
        }
    }
}

// The network the watch names, switched by the test between two ticks.
struct FakeNetworks final : platform::NetworkWatch {
    void Follow(const std::string&) override {}
    const platform::Network& Current() const override { return current; }
    platform::Network current;
};

TEST(ApplicationsTest, ASwitchSplitsTheHourAtItsTickAndEachNetworksRowsAddUpToTheRecord) {
    const platform::Network home{
        .id = "nm:d0d0", .otherId = "wifi:Dom", .name = "Dom", .kind = platform::NetworkKind::WiFi};
    const platform::Network phone{
        .id = "nm:7e7e", .name = "Telefon", .kind = platform::NetworkKind::WiFi, .metered = true};
    const Flows firefox = {{"firefox.desktop", {.kb = 10}}};
    const Flows copyFromNas = {{"firefox.desktop", {.kb = 10}},
                               {"nautilus", {.kb = 50, .localKb = 50}}};
    struct Case {
        const char* name;
        std::function<void(MeterRun&, FakeNetworks&)> act;
        // Data|Godzina|Siec|Download|Upload|DownloadLokalny of "ruch_sieci".
        std::vector<std::string> networkRows;
        // Godzina|Siec|Aplikacja|Download|DownloadLokalny of "aplikacje".
        std::vector<std::string> applicationRows;
        // Id|InnyId|Nazwa|Rodzaj|Taryfowana|Pierwsza|Ostatnia of "sieci".
        std::vector<std::string> networks;
    };
    const Case cases[] = {
        {"every byte counted, the answers come after the switch they span",
         [&](MeterRun& run, FakeNetworks& watch) {
             run.service.answerAfter = 5;
             watch.current = home;
             run.Start();
             run.Ticks(10);
             run.Ticks(23, firefox, 5);
             watch.current = phone;
             run.Ticks(17, firefox, 5);
             run.Ticks(15);
         },
         {"2026-12-07|10|nm:7e7e|255|255|0", "2026-12-07|10|nm:d0d0|345|345|0"},
         {"10|nm:7e7e|firefox.desktop|170|0", "10|nm:7e7e|nieprzypisane|85|0",
          "10|nm:d0d0|firefox.desktop|230|0", "10|nm:d0d0|nieprzypisane|115|0"},
         {"nm:7e7e||Telefon|wifi|1|2026-12-07|2026-12-07",
          "nm:d0d0|wifi:Dom|Dom|wifi|0|2026-12-07|2026-12-07"}},
        {"billed only, a copy from the NAS over the switch and the hour's end, answers 1.5 s "
         "late: each network keeps its billed part and its local part beside it",
         [&](MeterRun& run, FakeNetworks& watch) {
             platform::Write(*run.system.OtherProgram(), values::kInternetOnly, true);
             run.service.answerAfter = 15;
             watch.current = home;
             run.Start();
             run.Ticks(20);
             run.Ticks(25, copyFromNas);
             watch.current = phone;
             run.Ticks(5, copyFromNas);
             run.system.clock.SetNow({2026, 12, 7, 11, 0, 0});
             run.Ticks(10, copyFromNas);
             run.Ticks(30);
         },
         // The first tick of the new hour still goes to the old one.
         // Nothing is sent but what the link counts (the service sees only the copy).
         {"2026-12-07|10|nm:7e7e|60|360|300", "2026-12-07|10|nm:d0d0|250|1500|1250",
          "2026-12-07|11|nm:7e7e|90|540|450"},
         {"10|nm:7e7e|firefox.desktop|60|0", "10|nm:7e7e|nautilus|0|300",
          "10|nm:7e7e|nieprzypisane|0|0", "10|nm:d0d0|firefox.desktop|250|0",
          "10|nm:d0d0|nautilus|0|1250", "10|nm:d0d0|nieprzypisane|0|0",
          "11|nm:7e7e|firefox.desktop|90|0", "11|nm:7e7e|nautilus|0|450",
          "11|nm:7e7e|nieprzypisane|0|0"},
         {"nm:7e7e||Telefon|wifi|1|2026-12-07|2026-12-07",
          "nm:d0d0|wifi:Dom|Dom|wifi|0|2026-12-07|2026-12-07"}},
        {"seen first without NetworkManager, then with it and renamed, over a restart in the "
         "hour and a database from before networks: one network, one row, the new name",
         [&](MeterRun& run, FakeNetworks& watch) {
             testing::TrafficTable(run.system.Database())
                 .Exec("CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, "
                       "Download INTEGER, Upload INTEGER)");
             watch.current = {.id = "wifi:Dom", .name = "Dom", .kind = platform::NetworkKind::WiFi};
             run.Start();
             run.Ticks(10);
             run.Ticks(10, firefox);
             run.Close();
             watch.current = home;
             run.Start();
             run.Ticks(10);
             run.Ticks(10, firefox);
             watch.current.name = "Dom 5G";
             run.Ticks(10, firefox);
             run.Ticks(15);
         },
         // Each start takes the link's counters up, and the service's first answer
         // after it only notes its counters: that second stays unattributed.
         {"2026-12-07|10|wifi:Dom|300|300|0"},
         {"10|wifi:Dom|firefox.desktop|210|0", "10|wifi:Dom|nieprzypisane|90|0"},
         {"wifi:Dom|nm:d0d0|Dom 5G|wifi|0|2026-12-07|2026-12-07"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeterRun run;
        FakeNetworks watch;
        run.networks = &watch;
        c.act(run, watch);
        // What the limit watcher reads: the open hour's rows, a second after the last change.
        const std::string hourFile =
            testing::FileText(run.system.dir.Path() / "quantiro-networks.now");
        run.Close();
        testing::TrafficTable table(run.system.Database());
        EXPECT_EQ(table.Select("SELECT Data, Godzina, Siec, Download, Upload, DownloadLokalny "
                               "FROM ruch_sieci ORDER BY Godzina, Siec"),
                  c.networkRows);
        EXPECT_EQ(table.Select("SELECT Godzina, Siec, Aplikacja, Download, DownloadLokalny "
                               "FROM aplikacje ORDER BY Godzina, Siec, Aplikacja"),
                  c.applicationRows);
        EXPECT_EQ(table.Select("SELECT Id, InnyId, Nazwa, Rodzaj, Taryfowana, Pierwsza, Ostatnia "
                               "FROM sieci ORDER BY Id"),
                  c.networks);
        EXPECT_EQ(table.Select("SELECT t.Godzina FROM trafic t WHERE t.Download != (SELECT "
                               "SUM(r.Download) FROM ruch_sieci r WHERE r.Data = t.Data AND "
                               "r.Godzina = t.Godzina) OR t.Upload != (SELECT SUM(r.Upload) FROM "
                               "ruch_sieci r WHERE r.Data = t.Data AND r.Godzina = t.Godzina)"),
                  std::vector<std::string>{})
            << "an hour whose network rows do not add up to its record";
        const std::vector<std::string> lastHour = table.Select(
            "SELECT Download || char(9) || Upload || char(9) || DownloadLokalny || char(9) || "
            "UploadLokalny FROM ruch_sieci WHERE Godzina = (SELECT MAX(Godzina) FROM trafic) "
            "ORDER BY Siec");
        std::string expectedFile = "quantiro-networks 1\nhour " +
                                   table.Select("SELECT MAX(Data) || ' ' || MAX(Godzina) FROM "
                                                "trafic")[0] +
                                   "\n";
        std::istringstream lines(hourFile);
        std::string line;
        std::vector<std::string> fileFigures;
        for (int i = 0; std::getline(lines, line); ++i) {
            if (i >= 2) {
                fileFigures.push_back(line.substr(line.find('\t') + 1));
            }
        }
        std::sort(fileFigures.begin(), fileFigures.end());
        std::vector<std::string> sortedLastHour = lastHour;
        std::sort(sortedLastHour.begin(), sortedLastHour.end());
        EXPECT_EQ(hourFile.substr(0, expectedFile.size()), expectedFile);
        EXPECT_EQ(fileFigures, sortedLastHour) << hourFile;
    }
}

// A plan set while the meter runs counts what its network carried before it, this
// hour too, not only what comes after.
TEST(ApplicationsTest, APlanSetWhileTheMeterRunsCountsTheHourSoFar) {
    MeterRun run;
    FakeNetworks watch;
    watch.current = {.id = "nm:7e7e", .name = "Telefon", .metered = true};
    run.networks = &watch;
    run.Start();
    run.Ticks(20, {{"firefox.desktop", {.kb = 10}}}); // 200 kB each way
    const auto settings = run.system.OtherProgram();
    limits::WriteNetworkPlan(*settings, {.network = "nm:7e7e", .limitMb = 100});
    platform::Write(*settings, values::kSettingsChanged, true);
    run.Ticks(20, {{"firefox.desktop", {.kb = 10}}});
    const std::optional<limits::PlanWatch::Use> use = run.meter->CurrentPlanUse();
    ASSERT_TRUE(use.has_value());
    EXPECT_EQ(use->limitKb, 100 * 1024);
    EXPECT_NEAR(use->usedKb, 800, 20) << "both ways, before the plan and after";
    run.Close();
}

} // namespace
} // namespace quantiro::shell
