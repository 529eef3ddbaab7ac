#include "ui/MainWindow.h"

#include "fakes/FakeClock.h"
#include "fakes/FakeInterfaceTable.h"
#include "fakes/MeterFakes.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/TempDir.h"
#include "fakes/TestHttpServer.h"
#include "fakes/TrafficTable.h"
#include "platform/linux/CurlDownloader.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/SqliteDatabase.h"
#include "shell/Meter.h"
#include "shell/RegistryValues.h"
#include "shell/Texts.h"
#include "ui/BrowserWindow.h"
#include "ui/MenuCommands.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace quantiro::ui {
namespace {

using platform::linux_impl::IniRegistrySettings;

std::unique_ptr<IniRegistrySettings> OpenSettings(const std::filesystem::path& home) {
    auto settings = std::make_unique<IniRegistrySettings>(home.string());
    settings->SetKeyPath(std::string(values::kKeyPath));
    settings->SetRootKey(platform::kHkeyCurrentUser);
    return settings;
}

// A whole meter with its real window, real settings and a real database in a
// temporary directory; the clock, the counters, the dialogs and the companions are
// the test's.
struct WindowMeter {
    explicit WindowMeter(std::string decimalSeparator = ".")
        : window(settings, std::move(decimalSeparator)) {
        table.SetRows(
            {{.name = u"eth0", .index = 2, .speed = 10'000'000, .description = "eth0 (e1000e)"}});
        clock.SetNow({2026, 12, 5, 10, 5, 0});
        clock.SetTick(50'000'000);
        window.Attach(meter, commands);
    }
    // The settings as another program of the family sees them.
    std::unique_ptr<IniRegistrySettings> Family() const { return OpenSettings(ConfigHome()); }
    std::filesystem::path ConfigHome() const { return dir.Path() / "config"; }

    testing::TempDir dir;
    IniRegistrySettings settings{ConfigHome().string()};
    testing::FakeClock clock;
    testing::FakeInterfaceTable table;
    testing::FakeInstanceLock lock;
    testing::ScriptedDialog dialog;
    testing::RecordingNotifier notifier;
    testing::RecordingCompanions companions;
    MainWindow window;
    shell::Meter meter{{settings, clock, table, lock, dialog, notifier, window, window, companions,
                        companions, companions, window, window, dir.Path().string(),
                        [](const std::string& path) {
                            return platform::linux_impl::OpenTrafficDatabase(path);
                        }}};
    MenuCommands commands{meter, dialog};
};

TEST(StartUpTest, AnEmptySettingsStoreStartsEverythingInOrder) {
    WindowMeter meter;
    ASSERT_EQ(meter.meter.StartUp(""), shell::Meter::StartUpResult::Running);
    EXPECT_EQ(meter.companions.log,
              (std::vector<std::string>{"monitor", "statistics", "limits yes"}));
    EXPECT_TRUE(meter.window.OnTop());
    EXPECT_FALSE(meter.window.IsHidden());
    EXPECT_TRUE(meter.window.Timer().isActive());
    EXPECT_EQ(meter.window.PickerEntries(), QStringList{QStringLiteral("eth0 (e1000e)")});
    EXPECT_EQ(meter.window.pos(), QPoint(100 / 15, 0));
    EXPECT_EQ(meter.window.size(), QSize(125, 313));
    const auto family = meter.Family();
    EXPECT_TRUE(values::Read(*family, values::kIsRunning));
    EXPECT_EQ(values::Read(*family, values::kOkres),
              20788); // 1 December 2026 in the family's day numbers
    EXPECT_EQ(testing::TrafficTable((meter.dir.Path() / "qub.db").string()).Rows().size(), 1u);
}

TEST(StartUpTest, SettingsShapeTheStart) {
    WindowMeter meter;
    {
        const auto family = meter.Family();
        values::Write(*family, values::kInfoFile, true);
        values::Write(*family, values::kMonitorShow, false);
        values::Write(*family, values::kHide, true);
        values::Write(*family, values::kOnTop, true);
        values::Write(*family, values::kLeftP, 1500);
        values::Write(*family, values::kTopP, 99999); // beyond 16 bits: the default
    }
    ASSERT_EQ(meter.meter.StartUp(""), shell::Meter::StartUpResult::Running);
    EXPECT_EQ(meter.companions.log, (std::vector<std::string>{"limits yes"}));
    EXPECT_TRUE(meter.window.IsHidden()); // topmost, and still hidden
    EXPECT_FALSE(meter.window.isVisible());
    EXPECT_EQ(meter.window.pos(), QPoint(100, 0));
}

TEST(StartUpTest, OnlyTheExactStartSwitchSkipsTheInstanceCheck) {
    struct Case {
        const char* commandLine;
        bool runs;
    };
    for (const Case c :
         {Case{"", false}, Case{"/START", true}, Case{"/start", false}, Case{"/START ", false}}) {
        WindowMeter meter;
        meter.lock.anotherRunning = true;
        const auto result = meter.meter.StartUp(c.commandLine);
        EXPECT_EQ(result == shell::Meter::StartUpResult::Running, c.runs) << c.commandLine;
        if (!c.runs) {
            ASSERT_EQ(meter.dialog.shown.size(), 1u);
            EXPECT_EQ(meter.dialog.shown[0].text, "Program jest już uruchomiony.");
            EXPECT_EQ(meter.dialog.shown[0].title, "Zelvano");
            EXPECT_FALSE(std::filesystem::exists(meter.ConfigHome() / "Kestrova/Quantiro.conf"))
                << c.commandLine;
            EXPECT_FALSE(std::filesystem::exists(meter.dir.Path() / "qub.db")) << c.commandLine;
        }
    }
}

TEST(MainWindowTest, ScalesFollowTheSpeedSettings) {
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
        WindowMeter meter;
        if (c.download) {
            values::Write(*meter.Family(), values::kDownloadForScale, *c.download);
        }
        meter.meter.StartUp("");
        EXPECT_EQ(meter.window.DownloadBar().Maximum(), c.maximum);
        for (std::size_t i = 0; i < c.downloadCaptions.size(); ++i) {
            EXPECT_EQ(meter.window.ScaleCaption(true, static_cast<int>(i)), c.downloadCaptions[i])
                << i;
        }
        const char* upload[] = {"0", "1", "3", "4", "6", "7", "9", "10", "12", "13"};
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(meter.window.ScaleCaption(false, i), upload[i]) << i;
        }
    }
}

TEST(MainWindowTest, AmountLabelsUseTheLocalesSeparatorAndTheirUnits) {
    struct Case {
        const char* separator;
        double received, month;
        const char *receivedText, *monthText;
    };
    const Case cases[] = {
        {".", 1023, 0, "1 023.00 kB", "0.00 kB"},
        {".", 1024, 1'048'576, "1.00 MB", "1.00 GB"},
        {",", 0, 1536, ",00 kB", "1,50 MB"},
        {",", 1'048'576 * 3.5, 1023, "3,50 GB", "1 023,00 kB"},
    };
    for (const Case& c : cases) {
        WindowMeter meter(c.separator);
        meter.window.ShowAmounts(c.received, c.received, c.month);
        EXPECT_EQ(meter.window.ReceivedText(), QString::fromUtf8(c.receivedText));
        EXPECT_EQ(meter.window.SentText(), QString::fromUtf8(c.receivedText));
        EXPECT_EQ(meter.window.MonthText(), QString::fromUtf8(c.monthText));
    }
}

TEST(MainWindowTest, BarsAreCutAtTheirMaximumAndRepaintOnlyOnChange) {
    WindowMeter meter;
    meter.meter.StartUp("");
    meter.window.show();
    QApplication::processEvents();
    struct Case {
        double rate, shown;
    };
    for (const Case c :
         {Case{112'600, 112'600}, Case{112'599, 112'599}, Case{500'000, 112'600}, Case{0, 0}}) {
        meter.window.ShowRates(c.rate, c.rate);
        EXPECT_EQ(meter.window.DownloadBar().Value(), c.shown) << c.rate;
    }
    meter.window.ShowRates(56'300, 0);
    QApplication::processEvents();
    const int repaints = meter.window.DownloadBar().Repaints();
    for (int i = 0; i < 10; ++i) {
        meter.window.ShowRates(56'300 + i, 0); // the same pixels
        QApplication::processEvents();
    }
    EXPECT_EQ(meter.window.DownloadBar().Repaints(), repaints);
    meter.window.ShowRates(100'000, 0);
    QApplication::processEvents();
    EXPECT_GT(meter.window.DownloadBar().Repaints(), repaints);
}

TEST(MenuTest, TheMenuHasItsTenRowsAndEachPositionItsCommand) {
    WindowMeter meter;
    meter.meter.StartUp("");
    meter.companions.log.clear();
    const QList<QAction*> actions = meter.window.Menu().actions();
    ASSERT_EQ(actions.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const MenuRow& row = kMenuRows[static_cast<std::size_t>(i)];
        EXPECT_EQ(actions[i]->isSeparator(), row.separator) << i;
        EXPECT_EQ(actions[i]->objectName().toStdString(), row.key) << i;
        EXPECT_EQ(actions[i]->text().toStdString(), row.caption) << i;
    }
    // The menu is built before start-up reads "OnTop", and the mark shows the flag
    // as it was then: the first toggle makes mark and window agree.
    EXPECT_FALSE(actions[2]->isChecked());
    EXPECT_TRUE(meter.window.OnTop());

    // "Zawsze na wierzchu" twice: back where it started, the mark following each time.
    for (const bool expected : {false, true}) {
        meter.window.MenuItemPicked(3);
        EXPECT_EQ(meter.meter.State().OnTopFlag, expected);
        EXPECT_EQ(meter.window.OnTop(), expected);
        EXPECT_EQ(values::Read(*meter.Family(), values::kOnTop), expected);
        EXPECT_EQ(meter.window.Menu().actions()[2]->isChecked(), expected);
    }

    meter.window.MenuItemPicked(1);
    meter.meter.State().hourTime = 1000;
    meter.meter.State().hourDownload = 30;
    meter.meter.State().hourUpload = 0; // nothing sent: the hour is not written
    meter.window.MenuItemPicked(5);
    meter.meter.State().hourUpload = 4;
    meter.window.MenuItemPicked(5);
    EXPECT_EQ(meter.companions.log, (std::vector<std::string>{"options", "reports", "reports"}));
    EXPECT_EQ(testing::TrafficTable((meter.dir.Path() / "qub.db").string()).Rows(),
              (std::vector<testing::TrafficRow>{{"2026-12-05", 10, 1000, 30, 4}}));

    for (const int position : {2, 4, 6, 9, 0, 11, -1}) { // separators and beyond the menu
        meter.window.MenuItemPicked(position);
    }
    meter.window.MenuItemPicked(10);
    EXPECT_EQ(meter.dialog.abouts, 1);

    meter.window.show();
    meter.window.MenuItemPicked(7);
    EXPECT_TRUE(meter.window.IsHidden());
    EXPECT_TRUE(values::Read(*meter.Family(), values::kHide));
    meter.window.TrayClicked();
    EXPECT_FALSE(meter.window.IsHidden());
    EXPECT_FALSE(values::Read(*meter.Family(), values::kHide));
    EXPECT_EQ(meter.companions.log.size(), 3u);
}

TEST(MenuTest, EndingAsksFirstAndNoKeepsTheMeterCounting) {
    WindowMeter meter;
    meter.meter.StartUp("");
    meter.dialog.answer = platform::kAnswerNo;
    meter.window.MenuItemPicked(8);
    ASSERT_EQ(meter.dialog.shown.size(), 1u);
    EXPECT_EQ(meter.dialog.shown[0].title, "Koniec pracy");
    EXPECT_EQ(meter.dialog.shown[0].iconStyle, platform::kIconQuestionYesNo);
    EXPECT_EQ(meter.dialog.shown[0].text,
              "Czy na pewno chcesz zakończyć pracę programu?\r\nJeśli to zrobisz, transfery "
              "przestaną być sumowane.\r\nAby ukryć wskaźniki, wybierz opcję \"Ukryj\"");
    EXPECT_TRUE(meter.window.Timer().isActive());
    EXPECT_TRUE(values::Read(*meter.Family(), values::kIsRunning));

    meter.dialog.answer = platform::kAnswerYes;
    meter.window.MenuItemPicked(8);
    EXPECT_FALSE(meter.window.Timer().isActive());
    EXPECT_FALSE(values::Read(*meter.Family(), values::kIsRunning));
    EXPECT_TRUE(values::Read(*meter.Family(), values::kOdejmij)); // the program's own close
    EXPECT_EQ(meter.companions.log.back(), "monitor stop");
}

TEST(CloseTest, ClosingTheWindowHidesItWithTheNoticeUntilTheBoxIsTicked) {
    WindowMeter meter;
    meter.meter.StartUp("");
    meter.window.show();
    meter.window.close();
    ASSERT_EQ(meter.dialog.shown.size(), 1u);
    EXPECT_EQ(meter.dialog.shown[0].title, "Kończenie pracy programu");
    EXPECT_EQ(meter.dialog.shown[0].checkBoxCaption, "Nie pokazuj tego komunikatu w przyszłości");
    EXPECT_EQ(meter.dialog.shown[0].text, shell::texts::kCloseNotice);
    EXPECT_TRUE(meter.window.IsHidden());
    EXPECT_TRUE(meter.window.Timer().isActive()); // still counting
    EXPECT_TRUE(values::Read(*meter.Family(), values::kUnloadInfo));

    meter.dialog.tick = true;
    meter.window.show();
    meter.window.close();
    EXPECT_EQ(meter.dialog.shown.size(), 2u);
    EXPECT_FALSE(values::Read(*meter.Family(), values::kUnloadInfo));
    meter.window.show();
    meter.window.close();
    EXPECT_EQ(meter.dialog.shown.size(), 2u); // no notice any more
    EXPECT_TRUE(meter.window.IsHidden());
    EXPECT_TRUE(values::Read(*meter.Family(), values::kIsRunning));
}

TEST(CloseTest, ASystemShutdownClosesWithoutANoticeOrACorrection) {
    WindowMeter meter;
    meter.meter.StartUp("");
    meter.window.CloseAs(shell::CloseReason::SystemShutdown);
    EXPECT_TRUE(meter.dialog.shown.empty());
    EXPECT_TRUE(meter.meter.State().SystemShuttingDown);
    EXPECT_FALSE(values::Read(*meter.Family(), values::kIsRunning));
    EXPECT_FALSE(values::Read(*meter.Family(), values::kOdejmij));
}

TEST(ReloadTest, ChangedSettingsTakeEffectWithinATick) {
    WindowMeter meter;
    meter.meter.StartUp("");
    {
        const auto family = meter.Family();
        values::Write(*family, values::kDownloadForScale, 1024);
        values::Write(*family, values::kAutoupdate, 2);
        values::Write(*family, values::kWasChanged, true);
    }
    meter.meter.Timer1_Timer();
    EXPECT_EQ(meter.window.DownloadBar().Maximum(), 225'200);
    EXPECT_FALSE(meter.meter.State().AutoUpdateEnabled); // only 1 turns it on
    EXPECT_FALSE(values::Read(*meter.Family(), values::kWasChanged));

    values::Write(*meter.Family(), values::kAutoupdate, 1);
    values::Write(*meter.Family(), values::kWasChanged, true);
    meter.meter.Timer1_Timer();
    EXPECT_TRUE(meter.meter.State().AutoUpdateEnabled);

    // Another window variant chosen: this one ends through the exit path.
    values::Write(*meter.Family(), values::kSize, 1);
    values::Write(*meter.Family(), values::kWasChanged, true);
    meter.meter.Timer1_Timer();
    EXPECT_FALSE(values::Read(*meter.Family(), values::kIsRunning));
    EXPECT_EQ(meter.companions.log.back(), "variant 1");
    EXPECT_TRUE(values::Read(*meter.Family(),
                             values::kWasChanged)); // the reload stopped before clearing it
}

TEST(PlacementTest, ALeftDragRunsTheWindowAlongTheTopAndPutsItOnTop) {
    WindowMeter meter;
    values::Write(*meter.Family(), values::kOnTop, false);
    values::Write(*meter.Family(), values::kTopP, 3000);
    meter.meter.StartUp("");
    meter.window.show();
    QApplication::processEvents();
    ASSERT_EQ(meter.window.pos(), QPoint(6, 200));
    ASSERT_FALSE(meter.window.OnTop());

    auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(global - meter.window.pos()), QPointF(global),
                          buttons & Qt::LeftButton ? Qt::LeftButton : Qt::RightButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&meter.window, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(16, 210), Qt::RightButton);
    send(QEvent::MouseMove, QPoint(60, 250), Qt::RightButton); // not the left button: no drag
    send(QEvent::MouseMove, QPoint(60, 250), Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(meter.window.pos(), QPoint(6, 200));

    send(QEvent::MouseButtonPress, QPoint(16, 210), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(316, 400), Qt::LeftButton);
    EXPECT_EQ(meter.window.pos(), QPoint(306, 0));
    EXPECT_TRUE(meter.window.OnTop());
    EXPECT_FALSE(meter.meter.State().OnTopFlag); // the menu's mark is not changed by a drag
}

TEST(BrowserWindowTest, TheNoticeWindowAppearsOnlyWithItsLoadedPage) {
    testing::TestHttpServer server;
    server.Serve("/notice.html", "<html><body><p>Nowa wersja programu.</p></body></html>");
    platform::linux_impl::CurlDownloader downloader;
    BrowserWindow frmBrowser(downloader);
    EXPECT_EQ(frmBrowser.windowTitle(), QStringLiteral("  Informacja dla użytkowników"));

    frmBrowser.UserMessageShow(server.BaseUrl() + "/missing.html");
    EXPECT_FALSE(frmBrowser.isVisible()); // never loaded: no empty window

    frmBrowser.UserMessageShow(server.BaseUrl() + "/notice.html");
    EXPECT_TRUE(frmBrowser.isVisible());
    EXPECT_EQ(frmBrowser.PageText(), QStringLiteral("Nowa wersja programu."));
}

} // namespace
} // namespace quantiro::ui
