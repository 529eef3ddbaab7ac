#include "fakes/TempDir.h"
#include "platform/linux/IniRegistrySettings.h"
#include "shell/RegistryValues.h"

#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro {
namespace {

using platform::linux_impl::IniRegistrySettings;

std::unique_ptr<IniRegistrySettings> OpenSettings(const testing::TempDir& home) {
    auto settings = std::make_unique<IniRegistrySettings>(home.Path().string());
    settings->SetKeyPath(std::string(values::kKeyPath));
    settings->SetRootKey(platform::kHkeyCurrentUser);
    return settings;
}

mode_t FileMode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 0777;
}

TEST(RegistrySettingsTest, AnEmptyStoreGivesEachReaderItsDefault) {
    testing::TempDir home;
    auto settings = OpenSettings(home);
    EXPECT_EQ(settings->FilePath(), (home.Path() / "Kestrova/Quantiro.conf").string());

    struct BoolCase {
        values::BoolValue value;
        bool expected;
    };
    for (const BoolCase& c : {BoolCase{values::kWasChanged, false},
                              {values::kUnloadInfo, true},
                              {values::kMonitorShow, true},
                              {values::kOnTop, true},
                              {values::kHide, false},
                              {values::kExtError, true},
                              {values::kWarningsEnabled, false}}) {
        EXPECT_EQ(values::Read(*settings, c.value), c.expected) << c.value.name;
    }
    struct LongCase {
        values::LongValue value;
        std::int32_t expected;
    };
    for (const LongCase& c : {LongCase{values::kDownloadForScale, 512},
                              {values::kDownloadForLimits, 0},
                              {values::kUploadForScale, 128},
                              {values::kUploadForLimits, 0},
                              {values::kOkres, 1},
                              {values::kExtErrorValue, 130},
                              {values::kLeftP, 100},
                              {values::kSize, 0}}) {
        EXPECT_EQ(values::Read(*settings, c.value), c.expected) << c.value.name;
    }
}

TEST(RegistrySettingsTest, ValuesThatDoNotReadAsTheirTypeGiveTheDefault) {
    testing::TempDir home;
    auto settings = OpenSettings(home);
    {
        std::ofstream file(settings->FilePath());
        file << "[General]\n"
                "WasChanged=banana\n"
                "OnTop=FALSE\n"
                "Hide=1\n"
                "Download=12abc\n"
                "Upload=99999999999\n"
                "LeftP=1, 2\n"
                "TopP=-250\n"
                "Okres=\n"
                "\xff\xfe=\x01\x02\n";
    }
    EXPECT_FALSE(values::Read(*settings, values::kWasChanged));
    EXPECT_FALSE(values::Read(*settings, values::kOnTop));
    EXPECT_TRUE(values::Read(*settings, values::kHide));
    EXPECT_EQ(values::Read(*settings, values::kDownloadForScale), 512);
    EXPECT_EQ(values::Read(*settings, values::kUploadForScale), 128);
    EXPECT_EQ(values::Read(*settings, values::kLeftP), 100);
    EXPECT_EQ(values::Read(*settings, values::kTopP), -250);
    EXPECT_EQ(values::Read(*settings, values::kOkres), 1);
}

TEST(RegistrySettingsTest, AFileOfGarbageReadsAsDefaultsAndTakesWritesAgain) {
    testing::TempDir home;
    auto settings = OpenSettings(home);
    {
        std::ofstream file(settings->FilePath(), std::ios::binary);
        for (int i = 0; i < 4096; ++i) {
            file.put(static_cast<char>((i * 7919 + 13) % 256));
        }
    }
    EXPECT_TRUE(values::Read(*settings, values::kOnTop));
    EXPECT_EQ(values::Read(*settings, values::kLeftP), 100);
    values::Write(*settings, values::kIsRunning, true);
    values::Write(*settings, values::kOkres, 20788);
    EXPECT_TRUE(values::Read(*OpenSettings(home), values::kIsRunning));
    EXPECT_EQ(values::Read(*OpenSettings(home), values::kOkres), 20788);
}

TEST(RegistrySettingsTest, AnotherProcessSeesEveryWriteAtOnceAndNothingIsLost) {
    testing::TempDir home;
    auto meter = OpenSettings(home);
    EXPECT_FALSE(values::Read(*meter, values::kWasChanged));

    // Another program of the family, in its own process.
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto other = OpenSettings(home);
        values::Write(*other, values::kWasChanged, true);
        values::Write(*other, values::kDownloadForScale, 2048);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(values::Read(*meter, values::kWasChanged));
    EXPECT_EQ(values::Read(*meter, values::kDownloadForScale), 2048);

    // The meter's own write keeps the other program's value, and vice versa.
    values::Write(*meter, values::kWasChanged, false);
    auto other = OpenSettings(home);
    EXPECT_FALSE(values::Read(*other, values::kWasChanged));
    EXPECT_EQ(values::Read(*other, values::kDownloadForScale), 2048);

    // Flips in quick succession are each seen.
    for (int i = 0; i < 50; ++i) {
        values::Write(*other, values::kOkres, i);
        ASSERT_EQ(values::Read(*meter, values::kOkres), i);
        values::Write(*other, values::kWasChanged, i % 2 == 0);
        ASSERT_EQ(values::Read(*meter, values::kWasChanged), i % 2 == 0);
    }
    EXPECT_EQ(FileMode(meter->FilePath()), 0600);
}

TEST(RegistrySettingsTest, TheFileIsPrivateEvenWhenItExistedBefore) {
    testing::TempDir home;
    std::filesystem::create_directories(home.Path() / "Kestrova");
    const std::string path = (home.Path() / "Kestrova/Quantiro.conf").string();
    { std::ofstream(path) << "[General]\nOkres=7\n"; }
    ::chmod(path.c_str(), 0644);

    auto settings = OpenSettings(home);
    EXPECT_EQ(FileMode(path), 0600);
    EXPECT_EQ(values::Read(*settings, values::kOkres), 7);
    values::Write(*settings, values::kIsRunning, true);
    EXPECT_EQ(FileMode(path), 0600);
}

TEST(RegistrySettingsTest, AStoreThatCannotBeWrittenIsAnError) {
    auto settings = std::make_unique<IniRegistrySettings>("/proc/quantiro-no-such-dir");
    settings->SetKeyPath(std::string(values::kKeyPath));
    settings->SetRootKey(platform::kHkeyCurrentUser);
    EXPECT_EQ(values::Read(*settings, values::kOnTop), true); // reads still give defaults
    EXPECT_THROW(values::Write(*settings, values::kIsRunning, true), platform::RegistryError);

    IniRegistrySettings unopened("/tmp");
    EXPECT_THROW(unopened.WriteBool("IsRunning", true), platform::RegistryError);
}

} // namespace
} // namespace quantiro
