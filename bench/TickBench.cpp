// What one tick costs on this machine's own interfaces, against the floor of one
// raw RTM_GETLINK dump: the tick takes two snapshots and two settings reads.
#include "common/FamilyPaths.h"
#include "ifstats/InterfaceTableReader.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/NetlinkSocket.h"
#include "platform/linux/SystemClock.h"
#include "sampling/Sampler.h"
#include "shell/MeterSettings.h"

#include <filesystem>

#include <benchmark/benchmark.h>
#include <linux/rtnetlink.h>
#include <stdlib.h>
#include <sys/socket.h>

namespace {

using namespace quantiro;

class SilentNotifier final : public platform::Notifier {
public:
    void ShowMessage(std::string_view) override {}
};

class NullDisplay final : public sampling::RateDisplay {
public:
    void RefreshDetails(const platform::InterfaceRow&, const platform::InterfaceRow&) override {}
    void ShowErrorMarker(bool) override {}
    void ShowRates(double d, double u) override { benchmark::DoNotOptimize(d + u); }
    void ShowAmounts(double, double, double) override {}
    void ShowWaiting() override {}
};

// What the meter's core answers the tick, with nothing to do; the settings are
// asked through the meter's own adapter, as in a running meter.
class Idle final : public sampling::HourRecords,
                   public sampling::SettingsReload,
                   public sampling::UpdateCheck,
                   public sampling::LimitWatcher {
public:
    explicit Idle(platform::SettingsStore& settings)
        : file(settings, shapes::kFull) {}
    void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) override {
        counted += downloadKb + uploadKb + onlineMs;
    }
    void Reject(double, double) override {}
    sampling::Totals Withheld() const override { return {}; }
    bool CountsEveryKilobyte() const override { return false; }
    bool HourChanged() override { return false; }
    void StartNextHour() override {}
    bool ChangedByFamily() override { return file.ChangedByFamily(); }
    void ReloadSettings() override {}
    bool LimitWarningsSilenced() override { return file.LimitWarningsSilenced(); }
    void RunUpdateCheck() override {}
    void StartLimitWatcher(bool, const sampling::Totals&) override {}
    shell::MeterSettingsFile file;
    double counted = 0;
};

struct TempConfigHome {
    TempConfigHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quantiro-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempConfigHome() { std::filesystem::remove_all(path); }
    std::string path;
};

void BM_RawDump(benchmark::State& state) {
    platform::linux_impl::NetlinkSocket socket;
    int messages = 0;
    for (auto _ : state) {
        socket.Dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr&) { ++messages; });
    }
    benchmark::DoNotOptimize(messages);
    state.counters["interfaces"] =
        static_cast<double>(messages) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RawDump);

void BM_Snapshot(benchmark::State& state) {
    platform::linux_impl::NetlinkInterfaceTable table;
    SilentNotifier notifier;
    ifstats::InterfaceTableReader reader(table, notifier);
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.Read().size());
    }
}
BENCHMARK(BM_Snapshot);

void BM_SettingsRead(benchmark::State& state) {
    TempConfigHome home;
    platform::linux_impl::IniSettingsStore settings(paths::SettingsFile(home.path));
    platform::Write(settings, values::kOnTop, true); // a file with something in it
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::Read(settings, values::kSettingsChanged));
    }
}
BENCHMARK(BM_SettingsRead);

void BM_WholeTick(benchmark::State& state) {
    TempConfigHome home;
    platform::linux_impl::IniSettingsStore settings(paths::SettingsFile(home.path));
    platform::Write(settings, values::kOnTop, true);
    platform::linux_impl::NetlinkInterfaceTable table;
    SilentNotifier notifier;
    ifstats::InterfaceTableReader reader(table, notifier);
    platform::linux_impl::SystemClock clock;
    NullDisplay display;
    Idle idle(settings);
    const sampling::TransferLimits limits(home.path + "/quantiro.par");
    sampling::Sampler sampler(reader, clock, limits, {display, idle, idle, idle, idle});
    for (auto _ : state) {
        sampler.OnTick();
    }
}
BENCHMARK(BM_WholeTick);

} // namespace

BENCHMARK_MAIN();
