// The meter's end, whatever asks for it and whenever: the exit steps run once,
// after the handler that asked, and nothing is sampled or written after them.
#include "fakes/ScratchMount.h"
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "shell/Texts.h"

#include <optional>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace quantiro::shell {
namespace {

using namespace std::chrono_literals;

enum class Request { Menu, Variant, Shutdown, BrokenPipe };
enum class Moment { Idle, InsideTick, DialogOpen, Twice };

// A started meter whose hour has traffic to save; `beforeStart` may change its
// system first.
struct Meter {
    explicit Meter(const std::function<void(testing::TestSystem&)>& beforeStart = nullptr) {
        if (beforeStart) {
            beforeStart(system);
        }
        EXPECT_EQ(meter.StartUp(""), shell::Meter::StartUpResult::Running);
        for (int i = 1; i <= 2; ++i) {
            Traffic(i * 100'000);
        }
    }
    void Traffic(std::uint64_t bytes) {
        system.table.SetCounters(bytes, bytes / 10);
        system.clock.Advance(100);
        meter.OnTick();
    }
    int ExitWaits() const {
        return static_cast<int>(
            std::count(system.clock.sleeps.begin(), system.clock.sleeps.end(), 2000ms));
    }
    std::string Rows() {
        return ::testing::PrintToString(testing::TrafficTable(system.Database()).Rows());
    }

    testing::TestSystem system;
    testing::RecordingFrontEnd ui;
    shell::Meter meter{system.Parts(), ui.Parts()};
};

void Ask(Meter& m, Request request) {
    switch (request) {
    case Request::Menu:
        m.meter.RunMenuCommand(MenuCommand::End); // answered yes
        break;
    case Request::Variant: {
        const auto other = m.system.OtherProgram();
        platform::Write(*other, values::kWindowVariant, 1);
        platform::Write(*other, values::kSettingsChanged, true);
        m.meter.OnTick(); // the reload runs inside the tick
        break;
    }
    case Request::Shutdown:
        m.meter.RequestClose(CloseReason::SystemShutdown);
        break;
    case Request::BrokenPipe:
        m.meter.RequestClose(CloseReason::BrokenPipe);
        break;
    }
}

TEST(CloseTest, EveryRequestAtEveryMomentRunsTheExitStepsOnceAndNothingAfter) {
    for (const Request request :
         {Request::Menu, Request::Variant, Request::Shutdown, Request::BrokenPipe}) {
        for (const Moment moment :
             {Moment::Idle, Moment::InsideTick, Moment::DialogOpen, Moment::Twice}) {
            const std::string label = std::to_string(static_cast<int>(request)) + "/" +
                                      std::to_string(static_cast<int>(moment));
            Meter m;
            std::string settingsAtClose, rowsAtClose;
            int readsAtClose = 0;
            m.ui.afterClose = [&] {
                settingsAtClose = testing::FileText(m.system.SettingsFile());
                rowsAtClose = m.Rows();
                readsAtClose = m.system.table.reads;
            };
            auto askNowAndExpectItToWait = [&] {
                Ask(m, request);
                EXPECT_EQ(m.ExitWaits(), 0) << label;
            };
            switch (moment) {
            case Moment::Idle:
                Ask(m, request);
                break;
            case Moment::InsideTick:
                if (request == Request::Variant) {
                    // The reload that finds another variant runs at the tick's start.
                    const auto other = m.system.OtherProgram();
                    platform::Write(*other, values::kWindowVariant, 1);
                    platform::Write(*other, values::kSettingsChanged, true);
                    m.ui.duringRates = [&] {
                        EXPECT_EQ(m.ExitWaits(), 0) << label;
                    };
                } else {
                    m.ui.duringRates = askNowAndExpectItToWait;
                }
                m.Traffic(300'000);
                break;
            case Moment::DialogOpen:
                m.ui.duringDialog = askNowAndExpectItToWait; // the close notice is open
                m.meter.OnUserClose();
                break;
            case Moment::Twice:
                Ask(m, request);
                Ask(m, request);
                m.meter.RequestClose(CloseReason::SystemShutdown);
                break;
            }
            EXPECT_TRUE(m.meter.Finished()) << label;
            EXPECT_EQ(m.ExitWaits(), 1) << label;
            EXPECT_EQ(std::count(m.ui.log.begin(), m.ui.log.end(), "closed"), 1) << label;

            // Later events change nothing at all, an hour change included.
            m.system.clock.SetNow({2026, 12, 5, 11, 0, 0});
            m.Traffic(90'000'000);
            m.meter.RunMenuCommand(shell::MenuCommand::Hide);
            m.meter.OnUserClose();
            EXPECT_EQ(m.system.table.reads, readsAtClose) << label;
            EXPECT_EQ(testing::FileText(m.system.SettingsFile()), settingsAtClose) << label;
            EXPECT_EQ(m.Rows(), rowsAtClose) << label;

            const auto settings = m.system.OtherProgram();
            EXPECT_FALSE(platform::Read(*settings, values::kIsRunning)) << label;
            // The window that takes over reloads the settings itself.
            EXPECT_EQ(platform::Read(*settings, values::kSettingsChanged),
                      request == Request::Variant)
                << label;
            // Only a shutdown restarts the counters: it leaves no correction behind.
            EXPECT_EQ(platform::Read(*settings, values::kCorrectionPending),
                      request != Request::Shutdown)
                << label;
            const auto rows = testing::TrafficTable(m.system.Database()).Rows();
            ASSERT_EQ(rows.size(), 1u) << label;
            EXPECT_GT(rows[0].download, 0) << label;
        }
    }
}

TEST(CloseTest, ADatabaseLockedAtExitLeavesTheRestDoneAndSaysSoOnce) {
    Meter m;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(m.system.Database().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    m.meter.RequestClose(CloseReason::UserEnded);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    const auto settings = m.system.OtherProgram();
    EXPECT_FALSE(platform::Read(*settings, values::kIsRunning));
    EXPECT_TRUE(platform::Read(*settings, values::kCorrectionPending));
    EXPECT_GT(platform::Read(*settings, values::kCorrectionDownload), 0);
    ASSERT_EQ(m.ui.messages.size(), 1u);
    EXPECT_EQ(m.ui.messages[0].rfind(texts::kExitStepsFailed, 0), 0u) << m.ui.messages[0];
}

TEST(CloseTest, ASettingsFileThatCannotBeWrittenAtExitLeavesTheHourSavedAndSaysSoOnce) {
    if (!testing::ScratchMount::Why().empty()) {
        GTEST_SKIP() << testing::ScratchMount::Why();
    }
    std::optional<testing::ScratchMount> mount;
    Meter m([&](testing::TestSystem& system) { mount.emplace(system.configHome); });
    ASSERT_TRUE(mount->Mounted());
    ASSERT_TRUE(mount->SetReadOnly(true));
    m.meter.RequestClose(CloseReason::UserEnded);

    const auto rows = testing::TrafficTable(m.system.Database()).Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(rows[0].download, 0);
    EXPECT_EQ(std::count(m.ui.log.begin(), m.ui.log.end(), "tray removed"), 1);
    ASSERT_EQ(m.ui.messages.size(), 1u);
    EXPECT_NE(m.ui.messages[0].find("Quantiro.conf"), std::string::npos) << m.ui.messages[0];
    mount.reset();
}

} // namespace
} // namespace quantiro::shell
