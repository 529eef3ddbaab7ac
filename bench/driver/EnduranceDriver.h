#pragma once

// Drives the meter's whole core (start-up, the tick, the records, the monthly sum,
// the exit path) on a real database and settings file with a simulated clock and
// simulated counters, and keeps its own account of what the counters carried, by
// the counting rule, hour by hour.
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "records/RecordFields.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <utility>

namespace quantiro::testing {

struct EnduranceReport {
    std::vector<TrafficRow> expected; // by the counting rule, in the order hours were opened
    std::vector<TrafficRow> stored;   // what the database holds
    double expectedMonth = 0;         // downloads of the last day's month
    double monthBase = 0;             // what the next start sums
    std::int64_t ticks = 0;
    int wraps = 0;
    int losses = 0;
    long rssAfterFirstDayKb = 0;
    long rssAtEndKb = 0;
    std::size_t notices = 0; // messages the meter had to show (write failures)
};

inline long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            return value;
        }
    }
    return 0;
}

class EnduranceDriver {
public:
    // Simulated seconds since 1970 of the start; the clock runs at 10 ticks a second.
    EnduranceDriver(std::int64_t startSeconds, std::int64_t ticks, std::uint32_t seed)
        : m_tenths(startSeconds * 10)
        , m_ticks(ticks)
        , m_random(seed) {
        std::ofstream(system.programDirectory / "quantiro.par")
            << "\"a\",1,1,0\n\"b\",1,1,0\n\"c\",1000000,1000000,0\n";
        system.clock.SetTick(10'000'000);
        system.clock.SetNow(Now());
        m_rxKb = 12'345;
        m_txKb = 678;
        Publish();
    }

    EnduranceReport Run() {
        EnduranceReport report;
        auto meter = MakeMeter();
        meter->StartUp("/START");
        Open(report); // start-up opened (or found) the first hour's record
        std::int64_t lossUntil = -1;
        for (std::int64_t tick = 0; tick < m_ticks; ++tick) {
            Advance();
            // Every ninth simulated hour the interface goes away for five minutes
            // and comes back with its counters started again.
            if (tick % (9 * 36'000) == 18'000) {
                lossUntil = tick + 3'000;
                ++report.losses;
                system.table.rows.clear();
            }
            if (tick < lossUntil) {
                meter->OnTick(); // the timer fires on; the tick finds nothing
                continue;
            }
            std::int64_t dr = NextIncrement(tick);
            std::int64_t ds = NextIncrement(tick + 17) / 3;
            if (tick == lossUntil) {
                m_rxKb = 1; // a new device: counters from (almost) nothing
                m_txKb = 1;
                m_afterLoss = true;
            } else {
                report.wraps += Wraps(m_rxKb, dr) + Wraps(m_txKb, ds);
                m_rxKb += dr;
                m_txKb += ds;
            }
            Publish();
            meter->OnTick();
            Account(report, dr, ds);
            if (tick == 864'000) {
                report.rssAfterFirstDayKb = PeakRssKb();
            }
        }
        report.ticks = m_ticks;
        report.notices = ui.messages.size();

        // Leave as a system shutdown: the hour is written, no correction is left.
        meter->RequestClose(shell::CloseReason::SystemShutdown);
        meter.reset();
        const auto next = MakeMeter();
        next->StartUp("/START");
        report.monthBase = next->MonthReceived(); // nothing received yet: the records' month
        report.rssAtEndKb = PeakRssKb();

        report.stored = TrafficTable(system.Database()).Rows();
        const auto now = Now();
        for (const TrafficRow& row : report.expected) {
            if (row.data.substr(0, 7) == std::string(records::FormatRecordDate(now)).substr(0, 7)) {
                report.expectedMonth += static_cast<double>(row.download);
            }
        }
        return report;
    }

    TestSystem system;
    RecordingFrontEnd ui;

private:
    static constexpr std::int64_t kKbPerWrap = 4'194'304; // 2^32 bytes

    std::unique_ptr<shell::Meter> MakeMeter() {
        return std::make_unique<shell::Meter>(system.Parts(), ui.Parts());
    }

    platform::LocalDateTime Now() const {
        using namespace std::chrono;
        const sys_seconds when{seconds{m_tenths / 10}};
        const sys_days day = floor<days>(when);
        const year_month_day date{day};
        const hh_mm_ss time{when - day};
        return {static_cast<int>(date.year()),
                static_cast<int>(static_cast<unsigned>(date.month())),
                static_cast<int>(static_cast<unsigned>(date.day())),
                static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count())};
    }

    void Advance() {
        ++m_tenths;
        system.clock.Advance(100);
        system.clock.SetNow(Now());
    }

    // Bursts of traffic and idle spells; an idle tick moves by at most 1 kB, which
    // never counts. Never lands a counter exactly on a whole wrap, where the kB
    // sample would read as 0.
    std::int64_t NextIncrement(std::int64_t tick) {
        const std::int64_t phase = (tick / 6'000) % 5;
        std::int64_t kb = phase == 0 ? static_cast<std::int64_t>(m_random() % 2)
                                     : static_cast<std::int64_t>(m_random() % (phase * 300)) + 2;
        return kb;
    }

    int Wraps(std::int64_t& counter, std::int64_t& increment) {
        if ((counter + increment) % kKbPerWrap == 0) {
            ++increment;
        }
        return static_cast<int>((counter + increment) / kKbPerWrap - counter / kKbPerWrap);
    }

    void Publish() {
        if (system.table.rows.empty()) {
            system.table.rows = {{.name = "sim0"}};
        }
        system.table.SetCounters(static_cast<std::uint64_t>(m_rxKb) * 1024,
                                 static_cast<std::uint64_t>(m_txKb) * 1024);
    }

    void Open(EnduranceReport& report) {
        const auto now = Now();
        report.expected.push_back({records::FormatRecordDate(now), now.hour, 0, 0, 0});
        m_openHour = now.hour;
    }

    // The counting rule, kept apart from the meter's: a tick counts when it moved
    // more than 1 kB either way within less than a second of the previous sample;
    // the hour changes on a counting tick, after its traffic went to the old hour.
    void Account(EnduranceReport& report, std::int64_t dr, std::int64_t ds) {
        const bool firstAfterLoss = std::exchange(m_afterLoss, false);
        const bool gap = firstAfterLoss || m_firstTick;
        m_firstTick = false;
        if (gap || !(dr > 1 || ds > 1)) {
            return;
        }
        TrafficRow& hour = report.expected.back();
        hour.czas += 100;
        hour.download += dr;
        hour.upload += ds;
        if (Now().hour != m_openHour) {
            Open(report);
        }
    }

    std::int64_t m_tenths; // simulated time, in tenths of a second
    std::int64_t m_ticks;
    std::mt19937 m_random;
    std::int64_t m_rxKb = 0, m_txKb = 0;
    int m_openHour = 0;
    bool m_firstTick = true;
    bool m_afterLoss = false;
};

} // namespace quantiro::testing
