#include "ifstats/CIpHelper.h"

#include "fakes/FakeInterfaceTable.h"
#include "fakes/RecordingNotifier.h"

#include <gtest/gtest.h>

namespace quantiro::ifstats {
namespace {

using testing::FakeInterfaceTable;
using testing::RecordingNotifier;
using testing::RowSpec;

struct Reader {
    FakeInterfaceTable table;
    RecordingNotifier notifier;
    CIpHelper helper{table, notifier};
};

constexpr std::uint32_t Bytes(std::int64_t signedValue) {
    return static_cast<std::uint32_t>(signedValue);
}

TEST(CIpHelperTest, LoopbackWithoutAddressMakesUpTheTotalsAlone) {
    Reader reader;
    reader.table.SetRows({{.name = u"lo",
                           .index = 1,
                           .type = 24,
                           .mtu = 65536,
                           .inOctets = 10240,
                           .outOctets = 5120,
                           .description = "lo"}});
    const auto interfaces = reader.helper.Interfaces();
    ASSERT_EQ(interfaces->Count(), 1);
    const CInterface& lo = *interfaces->Item(1);
    EXPECT_EQ(lo.InterfaceName(), "lo");
    EXPECT_EQ(lo.AdapterAddress(), "");
    EXPECT_EQ(lo.InterfaceType(), 24);
    EXPECT_EQ(lo.MaximumTransmissionUnit(), 65536);
    EXPECT_EQ(lo.OctetsReceived(), 10);
    EXPECT_EQ(lo.OctetsSent(), 5);
    EXPECT_EQ(lo.LastChange(), CInterface::Date{});
    EXPECT_EQ(reader.helper.BytesReceived(), 10);
    EXPECT_EQ(reader.helper.BytesSent(), 5);
    EXPECT_TRUE(reader.notifier.messages.empty());
}

TEST(CIpHelperTest, CountersBecomeKilobytesRoundedTiesToEven) {
    struct Case {
        std::uint32_t bytes;
        std::int32_t kilobytes;
    };
    const Case cases[] = {
        {1536, 2},                     // 1.5 -> 2
        {2560, 2},                     // 2.5 -> 2
        {512, 0},                      // 0.5 -> 0
        {1535, 1},                     // below the tie
        {3'000'000'000u, -1'264'616},  // arrives as -1,294,967,296
        {4'294'967'295u, 0},           // arrives as -1
        {Bytes(INT32_MAX), 2'097'152}, // the largest positive sample
        {Bytes(INT32_MIN), -2'097'152},
    };
    for (const Case& c : cases) {
        Reader reader;
        reader.table.SetRows({{.name = u"eth0", .inOctets = c.bytes, .outOctets = c.bytes}});
        const auto row = reader.helper.Interfaces()->Item(1);
        EXPECT_EQ(row->OctetsReceived(), c.kilobytes) << c.bytes;
        EXPECT_EQ(row->OctetsSent(), c.kilobytes) << c.bytes;
    }
}

TEST(CIpHelperTest, TotalsRoundTheRunningSumNotEachRow) {
    struct Case {
        std::vector<std::uint32_t> rows;
        std::int32_t total;
    };
    const Case cases[] = {
        {{512, 512}, 0},   // round(0 + 0.5) = 0, twice
        {{1024, 512}, 2},  // round(1.5) = 2
        {{1024, 1536}, 2}, // round(2.5) = 2, although 1 + round(1.5) would be 3
        {{1536, 1536}, 4}, // round(1.5) = 2, then round(3.5) = 4
        {{}, 0},
    };
    for (const Case& c : cases) {
        Reader reader;
        std::vector<RowSpec> rows;
        for (const std::uint32_t bytes : c.rows) {
            rows.push_back({.name = u"x", .inOctets = bytes, .outOctets = bytes});
        }
        reader.table.SetRows(rows);
        reader.helper.Interfaces();
        EXPECT_EQ(reader.helper.BytesReceived(), c.total) << ::testing::PrintToString(c.rows);
        EXPECT_EQ(reader.helper.BytesSent(), c.total) << ::testing::PrintToString(c.rows);
    }
}

TEST(CIpHelperTest, TextFieldsFollowTheirLengthsAndTerminators) {
    std::u16string longName(256, u'n'); // fills the field, no terminator
    std::string longDescription(256, 'd');
    struct Case {
        RowSpec row;
        std::string name, address, description;
    };
    const Case cases[] = {
        {{.name = u"", .description = ""}, "", "", ""},
        {{.name = u"eth0",
          .address = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C},
          .description = "eth0 (e1000e)"},
         "eth0",
         "00-0C-29-1A-2B-3C",
         "eth0 (e1000e)"},
        {{.name = u"a", .address = {0, 0, 0, 0, 0, 1}}, "a", "00-00-00-00-00-01", ""},
        {{.name = u"a", .address = {0xab, 0xcd}, .addressLength = 0}, "a", "", ""},
        {{.name = u"a", .address = {1, 2, 3, 4, 5, 6, 7, 8}, .addressLength = 40},
         "a",
         "01-02-03-04-05-06-07-08",
         ""},
        {{.name = u"a", .description = "eth0 (e1000e)", .descriptionLength = 4}, "a", "", "eth0"},
        {{.name = u"a", .description = "abc", .descriptionLength = 0}, "a", "", ""},
        {{.name = u"wlan\u017c\U0001F600"}, "wlan\u017c\U0001F600", "", ""},
        {{.name = longName, .description = longDescription, .descriptionLength = 1000},
         std::string(256, 'n'),
         "",
         longDescription},
    };
    for (const Case& c : cases) {
        Reader reader;
        reader.table.SetRows({c.row});
        const auto row = reader.helper.Interfaces()->Item(1);
        EXPECT_EQ(row->InterfaceName(), c.name);
        EXPECT_EQ(row->AdapterAddress(), c.address);
        EXPECT_EQ(row->InterfaceDescription(), c.description);
    }
}

TEST(CIpHelperTest, FailuresEndTheSnapshotEmpty) {
    struct Case {
        FakeInterfaceTable::Mode mode;
        std::size_t messages;
    };
    const Case cases[] = {
        {FakeInterfaceTable::Mode::NotSupported, 1},
        {FakeInterfaceTable::Mode::FillFails, 0},
        {FakeInterfaceTable::Mode::ZeroSize, 0},
    };
    for (const Case& c : cases) {
        Reader reader;
        reader.table.SetRows({{.name = u"eth0", .inOctets = 4096, .outOctets = 4096}});
        ASSERT_EQ(reader.helper.Interfaces()->Count(), 1);
        ASSERT_EQ(reader.helper.BytesReceived(), 4);

        reader.table.SetMode(c.mode);
        EXPECT_EQ(reader.helper.Interfaces()->Count(), 0);
        EXPECT_EQ(reader.helper.BytesReceived(), 0);
        EXPECT_EQ(reader.helper.BytesSent(), 0);
        ASSERT_EQ(reader.notifier.messages.size(), c.messages);
        if (c.messages > 0) {
            EXPECT_EQ(reader.notifier.messages[0], "Program nie będzie pracował w tym systemie.");
        }
        // Each read tries again from the start; an unsupported platform says so again.
        reader.helper.Interfaces();
        EXPECT_EQ(reader.notifier.messages.size(), 2 * c.messages);
        reader.table.SetMode(FakeInterfaceTable::Mode::Normal);
        EXPECT_EQ(reader.helper.Interfaces()->Count(), 1);
    }
}

TEST(CIpHelperTest, EverySnapshotIsANewCollectionInRowOrder) {
    Reader reader;
    std::vector<RowSpec> rows;
    for (std::uint32_t i = 1; i <= 100; ++i) { // far beyond the 39 rows of 16-bit offsets
        rows.push_back({.name = u"if" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)),
                        .index = i,
                        .inOctets = i * 1024});
    }
    reader.table.SetRows(rows);
    const auto first = reader.helper.Interfaces();
    ASSERT_EQ(first->Count(), 100);
    std::int32_t expectedIndex = 1;
    for (const auto& row : *first) {
        EXPECT_EQ(row->InterfaceIndex(), expectedIndex++);
    }
    EXPECT_EQ(first->Item(100)->OctetsReceived(), 100);
    EXPECT_EQ(reader.helper.BytesReceived(), 5050);

    reader.table.SetRows({{.name = u"other", .index = 7}});
    const auto second = reader.helper.Interfaces();
    EXPECT_NE(first, second);
    EXPECT_EQ(second->Count(), 1);
    EXPECT_EQ(first->Count(), 100);
    EXPECT_EQ(first->Item(1)->InterfaceIndex(), 1);
    EXPECT_EQ(reader.table.Calls(), 4); // a size query and a fill per snapshot
}

TEST(CInterfacesTest, PositionsRunFromOneToCount) {
    CInterfaces collection;
    for (const char* name : {"a", "b", "c"}) {
        auto record = std::make_shared<CInterface>();
        record->SetInterfaceName(name);
        const auto added = collection.Add(record);
        EXPECT_EQ(record, nullptr); // Add clears the caller's reference
        EXPECT_EQ(added->InterfaceName(), name);
    }
    ASSERT_EQ(collection.Count(), 3);
    EXPECT_THROW(collection.Item(0), std::out_of_range);
    EXPECT_THROW(collection.Item(4), std::out_of_range);
    EXPECT_THROW(collection.Remove(4), std::out_of_range);
    collection.Remove(2);
    std::string order;
    for (const auto& record : collection) {
        order += record->InterfaceName();
    }
    EXPECT_EQ(order, "ac");
    EXPECT_EQ(collection.Item(2)->InterfaceName(), "c");
}

} // namespace
} // namespace quantiro::ifstats
