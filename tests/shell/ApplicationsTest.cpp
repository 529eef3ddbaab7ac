// Which program used the link, as the meter records it beside each hour: the rows
// add up to the hour, and neither a restart of the counting service nor of the
// meter counts anything twice. The service is a fake; the database is real.
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"

#include <gtest/gtest.h>

namespace quantiro::shell {
namespace {

constexpr std::uint64_t kKb = 1024;

// The counting service as the meter sees it: counters the test sets, or none at all.
struct FakeService final : platform::ApplicationCounterSource {
    std::optional<platform::ApplicationCounters> Poll(const platform::AskedInterface& interface,
                                                      bool ask) override {
        if (!running || !ask) {
            return std::nullopt;
        }
        platform::ApplicationCounters answer{.interfaceName = interface.name, .run = run};
        for (const auto& [name, received] : receivedKb) {
            answer.applications.push_back({.application = name,
                                           .receivedBytes = received * kKb,
                                           .receivedLocalBytes = localKb[name] * kKb});
        }
        return answer;
    }
    bool Waiting() const override { return false; }
    void SetLocalNetworks(const std::string& prefixes) override { localNetworks = prefixes; }
    std::string localNetworks;
    bool running = true;
    std::string run = "first";
    std::map<std::string, std::uint64_t> receivedKb;
    std::map<std::string, std::uint64_t> localKb; // the part of it from the local network
};

TEST(ApplicationsTest, AnHoursApplicationsAddUpAndNothingIsCountedTwice) {
    testing::TestSystem system;
    system.clock.SetNow({2026, 12, 7, 10, 0, 0});
    FakeService service;
    std::uint64_t linkKb = 50'000; // since boot, before the meter starts
    std::optional<Meter> meter;
    testing::RecordingFrontEnd ui;
    auto start = [&] {
        auto parts = system.Parts();
        parts.applicationCounters = &service;
        meter.emplace(parts, ui.Parts());
        ASSERT_EQ(meter->StartUp("/START"), Meter::StartUpResult::Running);
    };
    // One second of ten ticks: the link moves `kb`, each named program its share.
    auto second = [&](std::uint64_t kb, const std::map<std::string, std::uint64_t>& shares) {
        for (const auto& [name, share] : shares) {
            service.receivedKb[name] += share;
        }
        for (int tick = 0; tick < 10; ++tick) {
            linkKb += kb / 10;
            system.table.SetCounters(linkKb * kKb, linkKb * kKb);
            system.clock.Advance(100);
            meter->OnTick();
        }
    };
    auto applications = [&] {
        return testing::TrafficTable(system.Database()).Applications();
    };

    struct Step {
        const char* name;
        std::function<void()> act;
        std::map<std::string, std::pair<long long, long long>> expected; // after a close
    };
    const Step steps[] = {
        {"what the service counted before the meter started is not the meter's",
         [&] {
             service.receivedKb = {{"firefox.desktop", 70'000}, {"curl", 900}};
             start();
             second(0, {});
             second(200, {{"firefox.desktop", 100}, {"curl", 50}});
             second(100, {{"firefox.desktop", 100}});
         },
         {{"firefox.desktop", {200, 0}}, {"curl", {50, 0}}, {"nieprzypisane", {50, 300}}}},
        {"the service restarted: its counters start from zero, nothing doubles",
         [&] {
             start();
             second(0, {});
             service.run = "second";
             service.receivedKb = {{"firefox.desktop", 30}};
             second(40, {});
         },
         {{"firefox.desktop", {230, 0}}, {"curl", {50, 0}}, {"nieprzypisane", {60, 340}}}},
        {"without the service the hour counts on, the programs do not",
         [&] {
             service.running = false;
             start();
             second(0, {});
             second(100, {});
         },
         {{"firefox.desktop", {230, 0}}, {"curl", {50, 0}}, {"nieprzypisane", {160, 440}}}},
        {"billed traffic only: a copy from the NAS stays out of the hour, the month and "
         "the totals, and is kept beside its program",
         [&] {
             platform::Write(*system.OtherProgram(), values::kInternetOnly, true);
             system.OtherProgram()->WriteText(values::kLocalNetworks.name, "203.0.113.0/24");
             service.running = true;
             service.run = "third";
             service.receivedKb = {};
             start();
             second(0, {});
             service.localKb["nautilus"] = 500;
             second(600, {{"nautilus", 500}, {"firefox.desktop", 100}});
             EXPECT_EQ(service.localNetworks, "203.0.113.0/24");
             EXPECT_EQ(meter->RunTotals().received, 100.0);
         },
         {{"firefox.desktop", {330, 0}},
          {"curl", {50, 0}},
          {"nautilus", {0, 0}},
          {"nieprzypisane", {160, 1040}}}},
    };
    for (const Step& step : steps) {
        step.act();
        meter->RequestClose(CloseReason::UserEnded);
        meter.reset();
        EXPECT_EQ(applications(), step.expected) << step.name;
        const auto hours = testing::TrafficTable(system.Database()).Rows();
        ASSERT_EQ(hours.size(), 1u) << step.name;
        long long download = 0;
        for (const auto& [name, amounts] : step.expected) {
            download += amounts.first;
        }
        EXPECT_EQ(hours.front().download, download) << step.name << ": rows add up to the hour";
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(system.Database().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* local = nullptr;
    sqlite3_prepare_v2(db, "SELECT DownloadLokalny FROM aplikacje WHERE Aplikacja = 'nautilus'", -1,
                       &local, nullptr);
    ASSERT_EQ(sqlite3_step(local), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int64(local, 0), 500) << "the local network's part, beside it";
    sqlite3_finalize(local);
    sqlite3_close(db);
}

} // namespace
} // namespace quantiro::shell
