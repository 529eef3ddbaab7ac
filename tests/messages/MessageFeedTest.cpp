#include "messages/MessageFeed.h"

#include "fakes/FakeClock.h"
#include "fakes/TempDir.h"
#include "fakes/TestHttpServer.h"
#include "messages/MessageList.h"
#include "platform/linux/CurlDownloader.h"
#include "platform/linux/IniRegistrySettings.h"
#include "shell/RegistryValues.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace quantiro::messages {
namespace {

using namespace std::chrono_literals;

struct RecordingBrowser final : NoticeBrowser {
    void UserMessageShow(const std::string& mURL) override { pages.push_back(mURL); }
    std::vector<std::string> pages;
};

// One run's notice check against a real server on 127.0.0.1.
struct Feed {
    explicit Feed(std::string server)
        : server(std::move(server)) {
        settings.SetKeyPath(std::string(values::kKeyPath));
        settings.SetRootKey(platform::kHkeyCurrentUser);
        clock.SetNow({2026, 12, 5, 10, 0, 0});
    }
    std::vector<std::string> Run() {
        RecordingBrowser browser;
        MessageFeed(dir.Path().string(), server, downloader, settings, clock, browser)
            .CheckAndShowMessage();
        return browser.pages;
    }
    std::string SettingsText() const {
        std::ifstream in(settings.FilePath());
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string server;
    testing::TempDir dir;
    platform::linux_impl::IniRegistrySettings settings{(dir.Path() / "config").string()};
    platform::linux_impl::CurlDownloader downloader;
    testing::FakeClock clock;
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
        testing::TestHttpServer server;
        server.Serve("/software_update/messages.cfg", c.list);
        Feed feed(server.BaseUrl());
        for (std::size_t run = 0; run < c.runs.size(); ++run) {
            EXPECT_EQ(feed.Run(), c.runs[run]) << c.name << ", run " << run + 1;
        }
        if (c.runs.front().empty()) {
            EXPECT_EQ(feed.SettingsText().find("mID_"), std::string::npos) << c.name;
        }
    }
}

TEST(MessageFeedTest, AMarkedNoticeIsSkipped) {
    testing::TestHttpServer server;
    server.Serve("/software_update/messages.cfg",
                 "http://a/1,1,2027-01-01\nhttp://a/2,2,2027-01-01\n");
    Feed feed(server.BaseUrl());
    feed.settings.WriteBool("mID_1", true);
    EXPECT_EQ(feed.Run(), std::vector<std::string>{"http://a/2"});
    EXPECT_TRUE(feed.settings.ReadBool("mID_2", false));
}

TEST(MessageFeedTest, AnUnreachableOrSlowServerShowsNothingAndKeepsNoStaleList) {
    Feed down("http://127.0.0.1:9"); // nothing listens there
    { std::ofstream(down.dir.Path() / "messages.cfg") << "http://a/1,1,2027-01-01\n"; }
    EXPECT_TRUE(down.Run().empty());
    EXPECT_FALSE(std::filesystem::exists(down.dir.Path() / "messages.cfg"));

    testing::TestHttpServer server;
    server.Serve("/software_update/messages.cfg", "http://a/1,1,2027-01-01\n");
    server.SetDelay(15s);
    Feed slow(server.BaseUrl());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(slow.Run().empty());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 9s);
    EXPECT_LT(took, 14s); // the ten-second bound, not the server's fifteen
    server.SetDelay(0ms);
    EXPECT_EQ(slow.Run(), std::vector<std::string>{"http://a/1"}); // and the next check works
}

TEST(MessageListTest, AnythingAServerSendsIsReadWithoutHarm) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t notices;
    };
    std::string garbage;
    for (int i = 0; i < 65536; ++i) {
        garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    }
    const Case cases[] = {
        {"empty", "", 0},
        {"blank lines and CRLF", "\r\n\nhttp://a/1,1,2027-01-01\r\n\r\nhttp://a/2,2,2027-01-02\r\n",
         2},
        {"binary garbage", garbage, 0},
        {"a line of a megabyte", std::string(1 << 20, 'x') + "\nhttp://a/1,1,2027-01-01\n", 0},
        {"a quoted page with a comma", "\"http://a/?x=1,2\",3,2027-01-01\n", 1},
        {"an unclosed quote", "\"http://a/1,1,2027-01-01\n", 0},
        {"a fourth field", "http://a/1,1,2027-01-01,x\n", 0},
        {"the 30th of February", "http://a/1,1,2027-02-30\n", 0},
        {"no line end at the end", "http://a/1,1,2027-01-01", 1},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        EXPECT_EQ(ReadMessageList(in).size(), c.notices) << c.name;
    }
}

} // namespace
} // namespace quantiro::messages
