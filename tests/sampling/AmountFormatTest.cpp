#include "sampling/AmountFormat.h"

#include <gtest/gtest.h>

namespace quantiro::sampling {
namespace {

TEST(AmountFormatTest, TotalsAndMonthUseGroupedDigitsAndUnits) {
    struct Case {
        double kilobytes;
        const char* total;
        const char* month;
    };
    const Case cases[] = {
        {0, ".00 kB", "0.00 kB"},
        {1023, "1 023.00 kB", "1 023.00 kB"},
        {1023.994, "1 023.99 kB", "1 023.99 kB"},
        {1024, "1.00 MB", "1.00 MB"},
        {1'048'575, "1 024.00 MB", "1 024.00 MB"}, // just below a gigabyte, rounded
        {1'048'576, "1.00 GB", "1.00 GB"},
        {1'048'576.0 * 123'456'789'012, "123 456 789 012.00 GB", "123 456 789 012.00 GB"},
        // Beyond the mask's twelve places the extra digits stay in front, ungrouped.
        {1'048'576.0 * 12'345'678'901'234, "12345 678 901 234.00 GB", "12345 678 901 234.00 GB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatAmount(c.kilobytes, "."), c.total) << c.kilobytes;
        EXPECT_EQ(FormatMonthAmount(c.kilobytes, "."), c.month) << c.kilobytes;
    }
    // The locale's decimal separator, also where the whole part is empty.
    EXPECT_EQ(FormatAmount(1'048'576 * 2.25, ","), "2,25 GB");
    EXPECT_EQ(FormatAmount(0, ","), ",00 kB");
}

} // namespace
} // namespace quantiro::sampling
