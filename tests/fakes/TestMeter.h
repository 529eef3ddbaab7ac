#pragma once

#include "common/FamilyPaths.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeInterfaceTable.h"
#include "fakes/TempDir.h"
#include "messages/NoticeBrowser.h"
#include "platform/linux/FetchHelperDownloader.h"
#include "platform/linux/FlockInstanceLock.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/SpawnProcessLauncher.h"
#include "platform/linux/SqliteDatabase.h"
#include "shell/Meter.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace quantiro::testing {

inline std::unique_ptr<platform::linux_impl::IniSettingsStore>
OpenSettings(const std::filesystem::path& configHome) {
    auto settings = std::make_unique<platform::linux_impl::IniSettingsStore>(
        paths::SettingsFile(configHome.string()));
    settings->Open(); // as a program does with its first read
    return settings;
}

// Collects the downloader's fetches until none runs (15 s at most).
inline void FinishFetches(platform::Downloader& downloader) {
    for (int i = 0; i < 1500; ++i) {
        downloader.CollectFinished();
        if (!downloader.Busy()) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the meter takes from the system, as the program builds it: real settings,
// database, instance lock, process launcher and downloader in a temporary
// directory. Only the clock and the interface counters are the test's.
struct TestSystem {
    TestSystem() {
        for (const auto& directory : {programDirectory, dataDirectory, cacheDirectory}) {
            std::filesystem::create_directories(directory);
        }
        clock.SetTick(50'000'000); // a machine that has been up for a while
    }
    shell::SystemParts Parts() {
        return {.settings = settings,
                .clock = clock,
                .interfaceTable = table,
                .instanceLock = instanceLock,
                .launcher = launcher,
                .downloader = downloader,
                .programDirectory = programDirectory.string(),
                .dataDirectory = dataDirectory.string(),
                .cacheDirectory = cacheDirectory.string(),
                .openDatabase = platform::linux_impl::OpenTrafficDatabase,
                .openNetworkRecords = [](const std::string& path) {
                    return platform::linux_impl::OpenNetworkRecords(path, false);
                }};
    }
    // The settings as another program of the family sees them.
    std::unique_ptr<platform::linux_impl::IniSettingsStore> OtherProgram() const {
        return OpenSettings(configHome);
    }
    std::filesystem::path Database() const { return dataDirectory / "qub.db"; }
    std::filesystem::path SettingsFile() const { return configHome / "Kestrova/Quantiro.conf"; }

    TempDir dir;
    std::filesystem::path programDirectory = dir.Path() / "program dir";
    std::filesystem::path configHome = dir.Path() / "config";
    std::filesystem::path dataDirectory = dir.Path() / "data";
    std::filesystem::path cacheDirectory = dir.Path() / "cache";
    platform::linux_impl::IniSettingsStore settings{paths::SettingsFile(configHome.string())};
    FakeClock clock;
    FakeInterfaceTable table;
    platform::linux_impl::FlockInstanceLock instanceLock{dir.Path()};
    platform::linux_impl::SpawnProcessLauncher launcher;
    // The meter's own downloads: the helper program, with libcurl.
    platform::linux_impl::FetchHelperDownloader downloader{QUANTIRO_FETCH};
};

// A front-end that records what the meter shows and answers its dialogs as told.
// `duringDialog` and `duringRates` let a test act while a dialog is open or while
// a tick is running.
struct RecordingFrontEnd final : platform::MessageDialog,
                                 platform::AboutDialog,
                                 platform::Notifier,
                                 sampling::RateDisplay,
                                 shell::MeterWindow,
                                 shell::DesktopWindow,
                                 messages::NoticeBrowser {
    shell::FrontEndParts Parts() {
        return {.dialog = *this,
                .about = *this,
                .notifier = *this,
                .display = *this,
                .window = *this,
                .noticeBrowser = *this,
                .desktop = this};
    }

    void Inform(const std::string& title, const std::string& text) override { Record(title, text); }
    bool AskYesNo(const std::string& title, const std::string& text) override {
        Record(title, text);
        return !dismissed && answerYes;
    }
    bool InformWithOptOut(const std::string& title, const std::string& text,
                          const std::string&) override {
        Record(title, text);
        return tick;
    }
    // Logs a dialog and runs `duringDialog` while it is open.
    void Record(const std::string& title, const std::string& text) {
        log.push_back("dialog " + title);
        dialogTexts.push_back(text);
        dismissed = false;
        if (duringDialog) {
            std::exchange(duringDialog, nullptr)();
        }
    }
    void CloseOpenDialog() override { dismissed = true; }
    void ShowAbout() override { log.push_back("about"); }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    void ShowNoticePage(const std::string& address) override { log.push_back("notice " + address); }

    void RefreshDetails(const platform::InterfaceRow&, const platform::InterfaceRow&) override {}
    void ShowWaiting() override { log.push_back("waiting"); }
    void ShowErrorMarker(bool visible) override { errorMarker = visible; }
    void ShowRates(double download, double) override {
        downloadRate = download;
        if (duringRates) {
            std::exchange(duringRates, nullptr)();
        }
    }
    void ShowAmounts(double received, double, double monthAmount) override {
        receivedAmount = received;
        month = monthAmount;
    }

    void ApplyScale(const presentation::RateScale& scale) override {
        downloadMaximum = scale.downloadMaximum;
    }
    void MoveTo(const shell::PixelPosition&) override {}
    void ApplyFixedSize() override {}
    void ShowTrayIcon() override { log.push_back("tray"); }
    void RemoveTrayIcon() override { log.push_back("tray removed"); }
    void RebuildMenu() override {}
    void SetOnTop(bool onTop) override {
        onTopChosen = onTop;
        log.push_back(onTop ? "on top" : "not on top");
    }
    bool OnTopChosen() const override { return onTopChosen; }
    void HideWindow() override { log.push_back("hide"); }
    void StartTimer() override { log.push_back("timer"); }
    void Closing() override { log.push_back("closing"); }
    void Closed() override {
        log.push_back("closed");
        if (afterClose) {
            afterClose();
        }
    }
    shell::PixelPosition Position() const override { return {.left = 100, .top = 0}; }

    std::vector<std::string> log, dialogTexts, messages;
    bool answerYes = true;
    bool onTopChosen = false;
    bool tick = false, dismissed = false, errorMarker = false;
    double downloadRate = -1, receivedAmount = -1, month = -1;
    std::int32_t downloadMaximum = 0;
    std::function<void()> duringDialog, duringRates, afterClose;
};

} // namespace quantiro::testing
