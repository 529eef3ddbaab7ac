// What the traffic database does when its file or its disk lets it down. The
// read-only and full-disk cases mount a small tmpfs in a mount namespace of this
// test process's own (they need root; without it they are skipped).
#include "fakes/RecordsRig.h"
#include "fakes/ScratchMount.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quantiro::records {
namespace {

using platform::DatabaseError;
using platform::linux_impl::OpenTrafficDatabase;
using testing::At;
using testing::RecordsRig;
using testing::TrafficRow;
using testing::TrafficTable;
using Rows = std::vector<TrafficRow>;

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
        std::string content; // the file's bytes, or with `sql` an SQLite file of ours so changed
        const char* sql;
    };
    const Case cases[] = {
        {"text", "to nie jest baza danych\n", nullptr},
        {"an SQLite header and garbage",
         std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'), nullptr},
        {"a table without Upload", "",
         "DROP TABLE trafic; CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, "
         "Download INTEGER)"},
        {"empty file", "", nullptr},
    };
    for (const Case& c : cases) {
        testing::TempDir dir;
        const std::string path = (dir.Path() / "qub.db").string();
        if (c.sql) {
            TrafficTable(path).Exec(c.sql);
        } else {
            std::ofstream(path, std::ios::binary) << c.content;
        }
        const std::string before = testing::FileText(path);
        const auto listing = DirectoryListing(dir.Path());
        try {
            OpenTrafficDatabase(path);
            ADD_FAILURE() << c.name << ": opened";
        } catch (const DatabaseError& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos)
                << c.name << ": " << error.what();
        }
        EXPECT_EQ(testing::FileText(path), before) << c.name;
        EXPECT_EQ(DirectoryListing(dir.Path()), listing) << c.name;
    }
}

class MountedDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::ScratchMount::Why().empty()) {
            GTEST_SKIP() << testing::ScratchMount::Why();
        }
        ASSERT_TRUE(m_mount.Mounted()) << std::strerror(errno);
    }
    void Remount(bool readOnly) { ASSERT_TRUE(m_mount.SetReadOnly(readOnly)); }

    // Fills the file system up to the last byte.
    void FillDisk() {
        const int fd = ::open((m_rig.system.dataDirectory / "filler").c_str(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }

    RecordsRig m_rig;
    std::filesystem::path m_directory = m_rig.system.dataDirectory;
    testing::ScratchMount m_mount{m_directory};
};

TEST_F(MountedDatabaseTest, AReadOnlyDirectoryIsAClearErrorAndChangesNothing) {
    const std::string path = m_rig.database;
    Remount(true);
    EXPECT_THROW(OpenTrafficDatabase(path), DatabaseError); // cannot be created
    EXPECT_TRUE(DirectoryListing(m_directory).empty());

    Remount(false);
    m_rig.Start(At(2026, 12, 5, 10));
    m_rig.hours.reset();
    m_rig.opened.reset();
    const std::string before = testing::FileText(path);
    const auto listing = DirectoryListing(m_directory);
    Remount(true);
    try {
        OpenTrafficDatabase(path);
        ADD_FAILURE() << "opened a database it cannot write";
    } catch (const DatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("zapis"), std::string::npos) << error.what();
    }
    EXPECT_EQ(testing::FileText(path), before);
    EXPECT_EQ(DirectoryListing(m_directory), listing);
}

TEST_F(MountedDatabaseTest, AFullDiskAtAnHourChangeLosesNothingAndWritesNoHalfRecord) {
    RecordsRig& meter = m_rig;
    meter.Start(At(2026, 12, 5, 10, 50));
    meter.SetHour(1500, 300, 20);
    meter.system.clock.SetNow(At(2026, 12, 5, 11, 0));
    FillDisk();

    for (int attempt = 0; attempt < 3; ++attempt) { // later counting ticks try again
        meter.hours->StartNextHour();
        meter.hours->Count(10, 0, 0);
        meter.system.clock.Advance(10'000);
    }
    EXPECT_EQ(meter.notices.messages.size(), 1u);    // said once, not on every tick
    EXPECT_EQ(meter.hours->Amounts().download, 330); // still counting, nothing lost
    EXPECT_EQ(meter.Rows(), (Rows{{"2026-12-05", 10, 0, 0, 0}}));
    EXPECT_TRUE(meter.hours->HourChanged());

    std::filesystem::remove(m_directory / "filler");
    meter.hours->StartNextHour();
    EXPECT_EQ(meter.hours->Amounts().download, 0);
    EXPECT_EQ(meter.Rows(), (Rows{{"2026-12-05", 10, 1500, 330, 20}, {"2026-12-05", 11, 0, 0, 0}}));
}

} // namespace
} // namespace quantiro::records
