#include "presentation/AmountFormat.h"

#include "common/DecimalText.h"

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

namespace quantiro::presentation {
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

// The window's process runs with the environment's number locale (Qt sets it), the
// terminal with all of it: the amounts must read right whatever that locale is.
TEST(AmountFormatTest, AmountsAndRatesReadRightUnderEachLocale) {
    struct Case {
        const char* locale;
        const char* received;
        const char* month;
        const char* rate;
    };
    const Case cases[] = {
        {"C.UTF-8", "29.96 MB", "1 023.44 MB", "58.26"},
        {"en_US.UTF-8", "29.96 MB", "1 023.44 MB", "58.26"},
        {"pl_PL.UTF-8", "29,96 MB", "1 023,44 MB", "58,26"},
        {"de_DE.UTF-8", "29,96 MB", "1 023,44 MB", "58,26"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        ::setenv("LC_ALL", c.locale, 1);
        ASSERT_NE(std::setlocale(LC_ALL, c.locale), nullptr)
            << "locale missing: scripts/install-deps.sh generates it";
        const std::string separator = EnvironmentDecimalSeparator();
        EXPECT_EQ(FormatAmount(29.96 * 1024, separator), c.received);
        EXPECT_EQ(FormatMonthAmount(1'048'000, separator), c.month);
        EXPECT_EQ(FixedDecimal(58.256, 2, separator), c.rate);
    }
    ::unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
}

} // namespace
} // namespace quantiro::presentation
