// The metrics file in directories where another user, or something planted there,
// could make the meter write elsewhere or wait.
#include "metrics/MetricsFile.h"

#include "fakes/FakeClock.h"
#include "fakes/TempDir.h"
#include "platform/Files.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::metrics {
namespace {

struct Messages final : platform::Notifier {
    void ShowMessage(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

TEST(MetricsFileTest, NothingPlantedBesideTheFileIsFollowedOrWaitedOn) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& directory)> plant;
        bool written;
    };
    const Case cases[] = {
        {"a link under the old temporary name",
         [](const std::filesystem::path& d) {
             std::filesystem::create_symlink(d / "target", d / "quantiro.prom.tmp");
         },
         true},
        {"a FIFO under the old temporary name",
         [](const std::filesystem::path& d) {
             ASSERT_EQ(::mkfifo((d / "quantiro.prom.tmp").c_str(), 0600), 0);
         },
         true},
        {"a directory every user may write",
         [](const std::filesystem::path& d) {
             std::filesystem::permissions(d, std::filesystem::perms::all);
         },
         false},
    };
    ::alarm(60); // a write that waits on a FIFO ends the test instead of hanging it
    for (const Case& c : cases) {
        testing::TempDir dir;
        std::filesystem::create_directory(dir.Path() / "metrics");
        const std::filesystem::path directory = dir.Path() / "metrics";
        platform::WriteFileWhole((directory / "target").string(), "the user's own file\n");
        c.plant(directory);
        testing::FakeClock clock;
        Messages messages;
        MetricsFile file(clock, messages, "1.0");
        file.SetDirectory(directory.string());
        for (int tick = 0; tick < 3; ++tick) { // three offers: each a tick's worth
            file.Offer({.device = "eth0", .receivedKb = 1.0 + tick});
            clock.Advance(15'000);
        }
        EXPECT_EQ(platform::ReadFileWhole((directory / "target").string()), "the user's own file\n")
            << c.name;
        EXPECT_EQ(std::filesystem::exists(directory / "quantiro.prom"), c.written) << c.name;
        EXPECT_EQ(messages.shown.size(), c.written ? 0u : 1u) << c.name;
        std::size_t leftovers = 0;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            leftovers += entry.path().filename().string().starts_with("quantiro.prom.tmp.");
        }
        EXPECT_EQ(leftovers, 0u) << c.name;
    }
    ::alarm(0);
}

} // namespace
} // namespace quantiro::metrics
