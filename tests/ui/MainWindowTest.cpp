#include "ui/MainWindow.h"

#include "fakes/TestHttpServer.h"
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "shell/Texts.h"
#include "ui/BrowserWindow.h"
#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::ui {
namespace {

using platform::Read;
using platform::Write;

// A whole meter with its real window, built as the program builds it; the dialogs
// are the test's unless real Qt message boxes are asked for, and the test says
// whether the desktop has a notification area.
struct WindowMeter {
    explicit WindowMeter(bool qtDialogs = false)
        : meter(system.Parts(),
                {.dialog = qtDialogs ? static_cast<platform::MessageDialog&>(boxes) : ui,
                 .about = ui,
                 .notifier = ui,
                 .display = window,
                 .window = window,
                 .noticeBrowser = ui,
                 .desktop = &window}) {
        system.clock.SetNow({2026, 12, 5, 10, 5, 0});
        window.Attach(meter);
    }
    bool Start(const std::string& commandLine = "") {
        return meter.StartUp(commandLine) == shell::Meter::StartUpResult::Running;
    }
    std::unique_ptr<platform::linux_impl::IniSettingsStore> Family() const {
        return system.OtherProgram();
    }

    testing::TestSystem system;
    testing::RecordingFrontEnd ui;
    QtDialogs boxes;
    bool trayAvailable = true;
    MainWindow window{".", shapes::kFull, [this] {
                          return trayAvailable;
                      }};
    shell::Meter meter;
};

TEST(StartUpTest, SettingsShapeTheStart) {
    struct Case {
        bool hide, onTop;
        std::int32_t left, top;
        QPoint position;
    };
    // A stored position beyond 16 bits reads as its default.
    for (const Case c :
         {Case{false, true, 100, 0, QPoint(6, 0)}, Case{true, true, 1500, 99999, QPoint(100, 0)}}) {
        WindowMeter m;
        const auto family = m.Family();
        Write(*family, values::kStartHidden, c.hide);
        Write(*family, values::kOnTop, c.onTop);
        Write(*family, values::kWindowLeft, c.left);
        Write(*family, values::kWindowTop, c.top);
        ASSERT_TRUE(m.Start());
        EXPECT_EQ(m.window.OnTop(), c.onTop);
        EXPECT_EQ(m.window.IsHidden(), c.hide); // topmost, and still hidden
        EXPECT_TRUE(m.window.Timer().isActive());
        EXPECT_EQ(m.window.pos(), c.position);
        EXPECT_EQ(m.window.size(), QSize(125, 313));
        EXPECT_TRUE(Read(*family, values::kIsRunning));
        EXPECT_EQ(Read(*family, values::kMonthDay), 20788); // 1 December 2026
        EXPECT_EQ(testing::TrafficTable(m.system.Database()).Rows().size(), 1u);
    }
}

TEST(StartUpTest, OnlyTheExactStartSwitchSkipsTheInstanceCheck) {
    for (const auto& [commandLine, runs] : std::vector<std::pair<std::string, bool>>{
             {"", false}, {"/START", true}, {"/start", false}, {"/START ", false}}) {
        WindowMeter m;
        platform::linux_impl::FlockInstanceLock first(m.system.dir.Path());
        ASSERT_FALSE(first.AnotherInstanceRunning());
        EXPECT_EQ(m.Start(commandLine), runs) << commandLine;
        if (!runs) {
            EXPECT_EQ(m.ui.dialogTexts, std::vector<std::string>{"Program jest już uruchomiony."});
            EXPECT_FALSE(std::filesystem::exists(m.system.SettingsFile())) << commandLine;
            EXPECT_FALSE(std::filesystem::exists(m.system.Database())) << commandLine;
        }
    }
}

TEST(MainWindowTest, ScalesFollowTheSpeedSettingsAndBarsRepaintOnlyOnChange) {
    struct Case {
        std::optional<std::int32_t> download;
        std::vector<const char*> downloadCaptions;
        std::int32_t maximum;
    };
    const Case cases[] = {
        {std::nullopt, {"0", "6", "13", "19", "26", "32", "39", "45", "52", "58"}, 112'600},
        {0, {"0", "0", "0", "0", "0", "0", "0", "0", "0", "0"}, 0},
        {2'000'000'000, {}, 2'147'483'647},
    };
    for (const Case& c : cases) {
        WindowMeter m;
        if (c.download) {
            Write(*m.Family(), values::kDownloadForScale, *c.download);
        }
        m.Start();
        EXPECT_EQ(m.window.DownloadBar().Maximum(), c.maximum);
        for (std::size_t i = 0; i < c.downloadCaptions.size(); ++i) {
            EXPECT_EQ(m.window.ScaleCaption(true, static_cast<int>(i)), c.downloadCaptions[i]);
        }
        EXPECT_EQ(m.window.ScaleCaption(false, 9), QStringLiteral("13"));
    }

    WindowMeter m;
    m.Start();
    m.window.show();
    for (const auto& [rate, shown] : std::vector<std::pair<double, double>>{
             {112'600, 112'600}, {112'599, 112'599}, {500'000, 112'600}, {0, 0}}) {
        m.window.ShowRates(rate, rate);
        EXPECT_EQ(m.window.DownloadBar().Value(), shown) << rate;
    }
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents(); // the first tick and the first paints settle
    }
    m.window.ShowRates(56'300, 0);
    QApplication::processEvents();
    const int repaints = m.window.DownloadBar().Repaints();
    for (int i = 0; i < 10; ++i) {
        m.window.ShowRates(56'300 + i, 0); // the same pixels
        QApplication::processEvents();
    }
    EXPECT_EQ(m.window.DownloadBar().Repaints(), repaints);
    m.window.ShowRates(100'000, 0);
    QApplication::processEvents();
    EXPECT_GT(m.window.DownloadBar().Repaints(), repaints);
}

TEST(MenuTest, TheMenuHasItsTenRowsAndEachPositionItsCommand) {
    WindowMeter m;
    m.Start();
    const QList<QAction*> actions = m.window.Menu().actions();
    ASSERT_EQ(actions.size(), 10);
    for (const int position : {2, 4, 6, 9}) {
        EXPECT_TRUE(actions[position - 1]->isSeparator()) << position;
    }
    // "Zawsze na wierzchu" twice: back where it started, the mark following each time.
    for (const bool expected : {false, true}) {
        m.meter.RunMenuCommand(shell::MenuCommand::OnTop);
        EXPECT_EQ(m.window.OnTop(), expected);
        EXPECT_EQ(Read(*m.Family(), values::kOnTop), expected);
        EXPECT_EQ(m.window.Menu().actions()[2]->isChecked(), expected);
    }
    // "Raporty" saves the hour so far first, when it has traffic both ways.
    m.system.table.SetCounters(1'000'000, 100'000);
    m.meter.OnTick();
    m.system.table.SetCounters(1'030'720, 104'096);
    m.system.clock.Advance(100);
    m.meter.OnTick();
    m.meter.RunMenuCommand(shell::MenuCommand::Reports);
    EXPECT_EQ(testing::TrafficTable(m.system.Database()).Rows(),
              (std::vector<testing::TrafficRow>{{"2026-12-05", 10, 100, 30, 4}}));

    m.meter.RunMenuCommand(shell::MenuCommand::About);
    EXPECT_EQ(m.ui.log.back(), "about");

    m.window.show();
    m.meter.RunMenuCommand(shell::MenuCommand::Hide);
    EXPECT_TRUE(m.window.IsHidden());
    EXPECT_TRUE(Read(*m.Family(), values::kStartHidden));
    m.window.TrayClicked();
    EXPECT_FALSE(m.window.IsHidden());
    EXPECT_FALSE(Read(*m.Family(), values::kStartHidden));

    // "Zakończ" asks first; No keeps the meter counting.
    m.ui.answerYes = false;
    m.meter.RunMenuCommand(shell::MenuCommand::End);
    EXPECT_EQ(m.ui.log.back(), "dialog Koniec pracy");
    EXPECT_TRUE(m.window.Timer().isActive());
    EXPECT_TRUE(Read(*m.Family(), values::kIsRunning));
}

TEST(WindowCloseTest, ClosingPutsTheWindowAwayWithTheNoticeUntilTheBoxIsTicked) {
    for (const bool tray : {true, false}) {
        WindowMeter m;
        m.trayAvailable = tray;
        m.Start();
        // Without a tray the window has a task-bar entry and minimises to it.
        EXPECT_EQ(m.window.windowType(), tray ? Qt::Tool : Qt::Window) << tray;
        for (const bool tick : {false, true, false}) {
            m.ui.tick = tick;
            m.window.show();
            m.window.close();
            EXPECT_TRUE(m.window.IsHidden()) << tray;
            EXPECT_EQ(m.window.isMinimized(), !tray) << tray;
        }
        // The third close shows no notice any more.
        const std::string notice = std::string(shell::texts::kCloseNotice) +
                                   std::string(tray ? "" : shell::texts::kCloseNoticeTaskbar);
        EXPECT_EQ(m.ui.dialogTexts, (std::vector<std::string>(2, notice))) << tray;
        EXPECT_FALSE(Read(*m.Family(), values::kShowCloseNotice)) << tray;
        EXPECT_TRUE(m.window.Timer().isActive()) << tray; // still counting
        // Another start asks for the window: it comes, from the tray too, as a click
        // on the icon would bring it.
        platform::Write(*m.Family(), values::kStartHidden, true);
        m.window.ShowOnRequest();
        EXPECT_FALSE(m.window.IsHidden()) << tray;
        EXPECT_TRUE(m.window.isVisible() && !m.window.isMinimized()) << tray;
        EXPECT_FALSE(Read(*m.Family(), values::kStartHidden)) << tray;
    }
}

TEST(WindowCloseTest, ANotificationAreaThatComesOrGoesIsFollowed) {
    WindowMeter m;
    m.trayAvailable = false;
    m.Start();
    m.window.show();
    m.meter.RunMenuCommand(shell::MenuCommand::Hide); // "Ukryj"
    m.trayAvailable = true;
    m.window.FollowTray();
    ASSERT_TRUE(m.window.HasTrayIcon());
    EXPECT_EQ(m.window.windowType(), Qt::Tool);
    m.window.TrayClicked();
    EXPECT_TRUE(m.window.isVisible());
    EXPECT_FALSE(Read(*m.Family(), values::kStartHidden));

    m.meter.RunMenuCommand(shell::MenuCommand::Hide);
    EXPECT_FALSE(m.window.isVisible());
    m.trayAvailable = false; // hidden, and now nothing could bring it back but the task bar
    m.window.FollowTray();
    EXPECT_FALSE(m.window.HasTrayIcon());
    EXPECT_TRUE(m.window.isVisible() && m.window.isMinimized());
}

TEST(WindowCloseTest, ASystemShutdownWhileTheCloseNoticeIsOpenEndsTheMeter) {
    WindowMeter m(true);
    m.Start();
    m.window.show();
    bool boxWasOpen = false;
    QTimer::singleShot(300, [&] {
        boxWasOpen = QApplication::activeModalWidget() != nullptr;
        m.meter.RequestClose(shell::CloseReason::SystemShutdown);
    });
    m.window.close(); // the real notice box waits in its own event loop
    EXPECT_TRUE(boxWasOpen);
    EXPECT_TRUE(m.meter.Finished());
    EXPECT_FALSE(m.window.Timer().isActive());
    EXPECT_FALSE(Read(*m.Family(), values::kIsRunning));
    EXPECT_FALSE(Read(*m.Family(), values::kCorrectionPending));
}

TEST(ReloadTest, ChangedSettingsTakeEffectWithinATick) {
    WindowMeter m;
    m.Start();
    const auto family = m.Family();
    Write(*family, values::kDownloadForScale, 1024);
    Write(*family, values::kSettingsChanged, true);
    m.meter.OnTick();
    EXPECT_EQ(m.window.DownloadBar().Maximum(), 225'200);
    EXPECT_FALSE(Read(*family, values::kSettingsChanged));
}

TEST(PlacementTest, ALeftDragRunsTheWindowAlongTheTopAndPutsItOnTop) {
    WindowMeter m;
    Write(*m.Family(), values::kOnTop, false);
    Write(*m.Family(), values::kWindowTop, 3000);
    m.Start();
    m.window.show();
    QApplication::processEvents();
    ASSERT_EQ(m.window.pos(), QPoint(6, 200));

    auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(global - m.window.pos()), QPointF(global),
                          buttons & Qt::LeftButton ? Qt::LeftButton : Qt::RightButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&m.window, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(16, 210), Qt::RightButton);
    send(QEvent::MouseMove, QPoint(60, 250), Qt::LeftButton | Qt::RightButton); // not left alone
    EXPECT_EQ(m.window.pos(), QPoint(6, 200));
    send(QEvent::MouseButtonPress, QPoint(16, 210), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(316, 400), Qt::LeftButton);
    EXPECT_EQ(m.window.pos(), QPoint(306, 0));
    EXPECT_TRUE(m.window.OnTop());
    EXPECT_FALSE(m.window.OnTopChosen()); // the menu's mark is not changed by a drag
}

TEST(BrowserWindowTest, TheNoticeWindowAppearsOnlyWithItsLoadedPage) {
    testing::TestHttpServer server("/notice.html",
                                   "<html><body><p>Nowa wersja programu.</p></body></html>");
    platform::linux_impl::FetchHelperDownloader downloader{QUANTIRO_FETCH};
    testing::TempDir cache;
    BrowserWindow noticeWindow(downloader, cache.Path());
    EXPECT_EQ(noticeWindow.windowTitle(), QStringLiteral("  Informacja dla użytkowników"));
    noticeWindow.ShowNoticePage(server.BaseUrl() + "/missing.html");
    testing::FinishFetches(downloader);
    EXPECT_FALSE(noticeWindow.isVisible()); // never loaded: no empty window
    noticeWindow.ShowNoticePage(server.BaseUrl() + "/notice.html");
    EXPECT_FALSE(noticeWindow.isVisible()); // not before the page has come
    testing::FinishFetches(downloader);
    EXPECT_TRUE(noticeWindow.isVisible());
    EXPECT_EQ(noticeWindow.PageText(), QStringLiteral("Nowa wersja programu."));
}

// A page from the network may name local files; the window opens none of them.
TEST(BrowserWindowTest, ANoticePageLoadsNothingItNames) {
    testing::TempDir local;
    const std::string dir = local.Path().string();
    for (const char* name : {"a.png", "b.png", "c.css"}) {
        std::ofstream(dir + "/" + name) << "x";
    }
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_OPEN | IN_ACCESS), 0);
    // A reader stuck on the FIFO is freed after a while, and the test then fails.
    std::atomic<bool> fifoOpened = false, done = false;
    std::thread unblock([&] {
        for (int i = 0; i < 100 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (const int fd = ::open((dir + "/fifo").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
            fifoOpened = true;
            ::close(fd);
        }
    });
    testing::TestHttpServer server(
        "/notice.html", "<html><head><link rel=\"stylesheet\" href=\"" + dir +
                            "/c.css\"></head><body><p>Nowa wersja programu.</p>"
                            "<img src=\"" +
                            dir + "/a.png\"><img src=\"file://" + dir + "/b.png\"><img src=\"" +
                            dir +
                            "/fifo\">"
                            "<img src=\"file:///dev/zero\"><a href=\"file:///etc/passwd\">x</a>"
                            "</body></html>");
    platform::linux_impl::FetchHelperDownloader downloader{QUANTIRO_FETCH};
    testing::TempDir cache;
    BrowserWindow noticeWindow(downloader, cache.Path());
    noticeWindow.ShowNoticePage(server.BaseUrl() + "/notice.html");
    testing::FinishFetches(downloader);
    noticeWindow.grab(); // laid out and painted, images and all
    done = true;
    unblock.join();
    EXPECT_TRUE(noticeWindow.PageText().startsWith(QStringLiteral("Nowa wersja programu.")));
    EXPECT_FALSE(fifoOpened);
    char events[4096];
    EXPECT_LE(::read(watch, events, sizeof events), 0) << "a named file was opened";
    ::close(watch);
}

} // namespace
} // namespace quantiro::ui
