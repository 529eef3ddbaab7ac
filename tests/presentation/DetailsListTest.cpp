#include "presentation/DetailsList.h"

#include <gtest/gtest.h>

namespace quantiro::presentation {
namespace {

platform::InterfaceRow Row(std::int32_t type, std::int32_t speed, std::uint64_t errors) {
    return {.name = "eth0",
            .index = 2,
            .type = type,
            .speed = speed,
            .address = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C},
            .addressLength = 6,
            .receiveErrors = errors};
}

TEST(DetailsListTest, CellsFollowTheMonitoredInterface) {
    DetailsList list;
    const platform::InterfaceRow first = Row(6, 10'000'000, 0);
    list.Refresh(first, {});
    EXPECT_EQ(list.Value(5), "00-0C-29-1A-2B-3C");
    struct Case {
        const char* name;
        platform::InterfaceRow next;
        std::size_t row;
        const char* value;
    };
    const Case cases[] = {
        {"errors", Row(6, 10'000'000, 4), 7, "4"},
        {"a type without a name leaves the cell", Row(71, 10'000'000, 0), 3, "Ethernet"},
        {"PPP", Row(23, 10'000'000, 0), 3, "PPP"},
        {"ten digits in a nine-place mask", Row(6, 1'000'000'000, 0), 4, "1000 000 000"},
        {"the largest speed", Row(6, 2'147'483'647, 0), 4, "2147 483 647"},
        {"no speed", Row(6, 0, 0), 4, ""},
    };
    for (const Case& c : cases) {
        DetailsList cells = list;
        cells.Refresh(c.next, first);
        EXPECT_EQ(cells.Value(c.row), c.value) << c.name;
    }
}

} // namespace
} // namespace quantiro::presentation
