// What the traffic database does when its file or its disk lets it down. The
// read-only and full-disk cases mount a small tmpfs in a mount namespace of this
// test process's own (they need root; without it they are skipped).
#include "fakes/RecordsFixture.h"
#include "fakes/TrafficTable.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro::records {
namespace {

using platform::DatabaseError;
using platform::linux_impl::OpenTrafficDatabase;
using testing::At;
using testing::RecordsFixture;
using testing::TrafficRow;
using testing::TrafficTable;
using Rows = std::vector<TrafficRow>;

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> DirectoryListing(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DatabaseFaultsTest, AFileThatIsNotOurDatabaseIsRefusedAndLeftAsItWas) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"text",
         [](const std::string& path) {
             std::ofstream(path) << "to nie jest baza danych\n";
         }},
        {"binary garbage",
         [](const std::string& path) {
             std::ofstream out(path, std::ios::binary);
             for (int i = 0; i < 8192; ++i) {
                 out.put(static_cast<char>((i * 7919) % 251));
             }
         }},
        {"an SQLite header and garbage",
         [](const std::string& path) {
             std::ofstream out(path, std::ios::binary);
             out.write("SQLite format 3\0", 16);
             out << std::string(4080, '\x7f');
         }},
        {"no table trafic",
         [](const std::string& path) {
             TrafficTable(path).Exec("DROP TABLE trafic");
         }},
        {"a table without Upload",
         [](const std::string& path) {
             TrafficTable table(path);
             table.Exec("DROP TABLE trafic");
             table.Exec("CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download "
                        "INTEGER)");
         }},
        {"empty file",
         [](const std::string& path) {
             std::ofstream{path};
         }},
    };
    for (const Case& c : cases) {
        testing::TempDir dir;
        const std::string path = (dir.Path() / "qub.db").string();
        c.make(path);
        const std::string before = FileBytes(path);
        const auto listing = DirectoryListing(dir.Path());
        try {
            OpenTrafficDatabase(path);
            ADD_FAILURE() << c.name << ": opened";
        } catch (const DatabaseError& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos)
                << c.name << ": " << error.what();
        }
        EXPECT_EQ(FileBytes(path), before) << c.name;
        EXPECT_EQ(DirectoryListing(dir.Path()), listing) << c.name;
    }
}

TEST(DatabaseFaultsTest, AKilledMeterLeavesADatabaseWithItsEarlierHoursIntact) {
    testing::TempDir dir;
    const std::string path = (dir.Path() / "qub.db").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // Writes hour after hour as fast as it can, telling the parent once the first
        // 24 hours are saved; the parent kills it somewhere in the middle of a write.
        ::close(ready[0]);
        RecordsFixture meter(dir.Path());
        meter.Start(At(2026, 12, 1, 0));
        for (int hour = 1;; ++hour) {
            meter.state.hourTime = 3'600'000;
            meter.state.hourDownload = hour;
            meter.state.hourUpload = 1;
            meter.clock.SetNow(At(2026, 12, 1 + hour / 24, hour % 24));
            meter.hours->MakeNextRecord();
            if (hour == 24) {
                [[maybe_unused]] auto n = ::write(ready[1], "x", 1);
            }
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::usleep(20'000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    ASSERT_NO_THROW(OpenTrafficDatabase(path));
    TrafficTable table(path);
    EXPECT_EQ(table.Pragma("integrity_check"), "ok");
    const Rows rows = table.Rows();
    ASSERT_GT(rows.size(), 25u);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) { // every closed hour holds its amounts
        EXPECT_EQ(rows[i].download, static_cast<long long>(i + 1)) << i;
        EXPECT_EQ(rows[i].czas, 3'600'000) << i;
    }
}

class MountedDatabaseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            s_skipReason = "needs root to mount a small file system";
        } else if (::unshare(CLONE_NEWNS) != 0 ||
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            s_skipReason = std::string("cannot make a mount namespace: ") + std::strerror(errno);
        }
    }

    void SetUp() override {
        if (!s_skipReason.empty()) {
            GTEST_SKIP() << s_skipReason;
        }
        ASSERT_EQ(::mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, "size=512k"), 0)
            << std::strerror(errno);
    }

    void TearDown() override { ::umount2(m_dir.Path().c_str(), MNT_DETACH); }

    void Remount(unsigned long flags) {
        ASSERT_EQ(::mount(nullptr, m_dir.Path().c_str(), nullptr, MS_REMOUNT | flags, "size=512k"),
                  0)
            << std::strerror(errno);
    }

    // Fills the file system up to the last byte.
    void FillDisk() {
        const int fd =
            ::open((m_dir.Path() / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }

    testing::TempDir m_dir;
    static inline std::string s_skipReason;
};

TEST_F(MountedDatabaseTest, AReadOnlyDirectoryIsAClearErrorAndChangesNothing) {
    const std::string path = (m_dir.Path() / "qub.db").string();
    Remount(MS_RDONLY);
    EXPECT_THROW(OpenTrafficDatabase(path), DatabaseError); // cannot be created
    EXPECT_TRUE(DirectoryListing(m_dir.Path()).empty());

    Remount(0);
    { RecordsFixture(m_dir.Path()).Start(At(2026, 12, 5, 10)); }
    const std::string before = FileBytes(path);
    const auto listing = DirectoryListing(m_dir.Path());
    Remount(MS_RDONLY);
    try {
        OpenTrafficDatabase(path);
        ADD_FAILURE() << "opened a database it cannot write";
    } catch (const DatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("zapis"), std::string::npos) << error.what();
    }
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_EQ(DirectoryListing(m_dir.Path()), listing);
}

TEST_F(MountedDatabaseTest, AFullDiskAtAnHourChangeLosesNothingAndWritesNoHalfRecord) {
    RecordsFixture meter(m_dir.Path());
    meter.Start(At(2026, 12, 5, 10, 50));
    meter.state.hourTime = 1500;
    meter.state.hourDownload = 300;
    meter.state.hourUpload = 20;
    meter.clock.SetNow(At(2026, 12, 5, 11, 0));
    FillDisk();

    for (int attempt = 0; attempt < 3; ++attempt) { // each counting tick tries again
        meter.hours->MakeNextRecord();
        meter.state.hourDownload += 10;
    }
    EXPECT_EQ(meter.notifier.messages.size(), 1u); // said once, not on every tick
    EXPECT_EQ(meter.state.hourDownload, 330);      // still counting, nothing lost
    EXPECT_EQ(TrafficTable(meter.DbPath()).Rows(), (Rows{{"2026-12-05", 10, 0, 0, 0}}));
    EXPECT_TRUE(meter.hours->IsTimeChanged());

    std::filesystem::remove(m_dir.Path() / "filler");
    meter.hours->MakeNextRecord();
    EXPECT_EQ(meter.state.hourDownload, 0);
    EXPECT_EQ(TrafficTable(meter.DbPath()).Rows(),
              (Rows{{"2026-12-05", 10, 1500, 330, 20}, {"2026-12-05", 11, 0, 0, 0}}));
}

} // namespace
} // namespace quantiro::records
