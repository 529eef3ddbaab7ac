// Which program used the link and how much of it was billed, as the meter records
// it beside each hour. The counting service is a fake whose answers come as late
// as a case says; the sampler, the account, the records and the database are real.
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
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

} // namespace
} // namespace quantiro::shell
