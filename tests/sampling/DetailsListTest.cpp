#include "sampling/DetailsList.h"

#include <gtest/gtest.h>

namespace quantiro::sampling {
namespace {

ifstats::CInterface Interface(std::int32_t type, std::int32_t speed, std::int32_t errors) {
    ifstats::CInterface row;
    row.SetInterfaceName("eth0");
    row.SetInterfaceIndex(2);
    row.SetInterfaceType(type);
    row.SetSpeed(speed);
    row.SetAdapterAddress("00-0C-29-1A-2B-3C");
    row.SetIncomingErrors(errors);
    row.SetOctetsReceived(100); // rows 6 and 8 are never written
    return row;
}

TEST(DetailsListTest, EachCellIsWrittenOnlyWhenItsValueChanges) {
    DetailsList list;
    const ifstats::CInterface empty;
    const ifstats::CInterface first = Interface(6, 10'000'000, 0);
    list.Refresh(first, empty);
    // The first tick writes every cell whose value is neither empty nor zero.
    EXPECT_EQ(list.Writes(), 5);
    EXPECT_EQ(list.Value(1), "eth0");
    EXPECT_EQ(list.Value(2), "2");
    EXPECT_EQ(list.Value(3), "Ethernet");
    EXPECT_EQ(list.Value(4), "10 000 000");
    EXPECT_EQ(list.Value(5), "00-0C-29-1A-2B-3C");
    EXPECT_EQ(list.Value(6), "");

    struct Case {
        const char* name;
        ifstats::CInterface next;
        int writes;
        std::size_t row;
        const char* value;
    };
    const Case cases[] = {
        {"nothing changed", Interface(6, 10'000'000, 0), 0, 3, "Ethernet"},
        {"errors", Interface(6, 10'000'000, 4), 1, 7, "4"},
        {"a type without a name leaves the cell", Interface(71, 10'000'000, 0), 0, 3, "Ethernet"},
        {"PPP", Interface(23, 10'000'000, 0), 1, 3, "PPP"},
        {"speed", Interface(6, 1'000'000'000, 0), 1, 4, "1000 000 000"},
    };
    for (const Case& c : cases) {
        DetailsList cells = list;
        const int before = cells.Writes();
        cells.Refresh(c.next, first);
        EXPECT_EQ(cells.Writes() - before, c.writes) << c.name;
        EXPECT_EQ(cells.Value(c.row), c.value) << c.name;
    }
}

} // namespace
} // namespace quantiro::sampling
