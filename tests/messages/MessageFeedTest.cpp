#include "messages/MessageFeed.h"

#include "fakes/TestHttpServer.h"
#include "fakes/TestMeter.h"
#include "platform/linux/FetchHelperDownloader.h"
#include "shell/MeterSettings.h"

#include <thread>

#include <gtest/gtest.h>

namespace quantiro::messages {
namespace {

using namespace std::chrono_literals;

// One run's notice check against a real server on 127.0.0.1.
struct Feed {
    explicit Feed(std::string address)
        : server(std::move(address)) {
        system.clock.SetNow({2026, 12, 5, 10, 0, 0});
    }
    // The pages shown by one run's check.
    std::vector<std::string> Run() {
        testing::RecordingFrontEnd browser;
        shell::MeterSettingsFile shown(system.settings, shapes::kFull);
        MessageFeed feed(system.cacheDirectory, server, system.downloader, shown, system.clock,
                         browser);
        feed.ShowNewNotice();
        testing::FinishFetches(system.downloader);
        std::vector<std::string> pages;
        for (const std::string& entry : browser.log) {
            pages.push_back(entry.substr(std::string("notice ").size()));
        }
        return pages;
    }

    std::string server;
    testing::TestSystem system;
};

TEST(MessageFeedTest, TheFirstNewUnexpiredNoticeIsShownOncePerRun) {
    struct Case {
        const char* name;
        const char* list;
        std::vector<std::vector<std::string>> runs; // pages shown, run by run
    };
    const Case cases[] = {
        {"expiry today is not shown", "\"http://a/1\",1,2026-12-05\n", {{}}},
        {"expiry tomorrow is shown", "\"http://a/1\",1,2026-12-06\n", {{"http://a/1"}, {}}},
        {"two new notices, one a run",
         "http://a/1,1,2027-01-01\nhttp://a/2,2,2027-01-01\n",
         {{"http://a/1"}, {"http://a/2"}, {}}},
        {"a date between #", "https://a/3,3,#2027-01-01#\n", {{"https://a/3"}}},
        {"not a web page: the next",
         "\"file:///etc/passwd\",4,2027-01-01\nhttp://a/5,5,2027-01-01\n",
         {{"http://a/5"}}},
        {"nothing after a malformed record",
         "http://a/6,6,2027-13-01\nhttp://a/7,7,2027-01-01\n",
         {{}}},
        {"an identifier beyond 16 bits", "http://a/8,40000,2027-01-01\n", {{}}},
        {"a missing field", "http://a/9,9\n", {{}}},
        {"a negative identifier", "http://a/10,-10,2027-01-01\n", {{"http://a/10"}, {}}},
    };
    for (const Case& c : cases) {
        testing::TestHttpServer server("/software_update/messages.cfg", c.list);
        Feed feed(server.BaseUrl());
        for (std::size_t run = 0; run < c.runs.size(); ++run) {
            EXPECT_EQ(feed.Run(), c.runs[run]) << c.name << ", run " << run + 1;
        }
        if (c.runs.front().empty()) {
            EXPECT_EQ(testing::FileText(feed.system.SettingsFile()).find("mID_"), std::string::npos)
                << c.name;
        }
    }
}

TEST(MessageFeedTest, AnUnreachableOrSlowServerShowsNothingAndKeepsNoStaleList) {
    Feed down("http://127.0.0.1:9"); // nothing listens there
    { std::ofstream(down.system.cacheDirectory / "messages.cfg") << "http://a/1,1,2027-01-01\n"; }
    EXPECT_TRUE(down.Run().empty());
    EXPECT_FALSE(std::filesystem::exists(down.system.cacheDirectory / "messages.cfg"));

    testing::TestHttpServer silent; // connects, never answers
    Feed slow(silent.BaseUrl());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(slow.Run().empty());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 9s);
    EXPECT_LT(took, 14s); // the ten-second bound
    testing::TestHttpServer server("/software_update/messages.cfg", "http://a/1,1,2027-01-01\n");
    slow.server = server.BaseUrl();
    EXPECT_EQ(slow.Run(), std::vector<std::string>{"http://a/1"}); // and the next check works
}

// A reply that declares no length and never ends stops at the limit, well before
// the time-out, and leaves nothing behind.
TEST(MessageFeedTest, AnEndlessReplyStopsAtItsLimitAndLeavesNoFile) {
    testing::TestHttpServer endless(testing::TestHttpServer::EndlessTag{},
                                    "/software_update/messages.cfg");
    Feed feed(endless.BaseUrl());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(feed.Run().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    EXPECT_TRUE(std::filesystem::is_empty(feed.system.cacheDirectory));
}

// The meter ends while a fetch hangs in a helper that does not obey SIGTERM (stuck
// in a name lookup): the close waits a moment, then the helper and its file go.
TEST(MessageFeedTest, EndingDuringAStuckFetchWaitsBriefly) {
    testing::TempDir dir;
    const std::filesystem::path helper = dir.Path() / "stuck-fetch";
    std::ofstream(helper) << "#!/bin/sh\ntrap '' TERM\n: > \"$2\"\nexec sleep 60\n";
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    const std::filesystem::path partial = dir.Path() / "messages.cfg.part";
    platform::linux_impl::FetchHelperDownloader downloader(helper.string());
    downloader.Fetch("http://127.0.0.1:9/", partial.string(), 1000, [](bool) {});
    for (int i = 0; i < 500 && !std::filesystem::exists(partial); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(std::filesystem::exists(partial));
    const auto started = std::chrono::steady_clock::now();
    downloader.CancelAll();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_FALSE(std::filesystem::exists(partial));
    EXPECT_FALSE(downloader.Busy());
}

} // namespace
} // namespace quantiro::messages
