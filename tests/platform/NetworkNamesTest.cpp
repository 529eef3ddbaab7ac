#include "platform/linux/NetworkNames.h"

#include "presentation/NetworkText.h"

#include <gtest/gtest.h>

namespace quantiro::platform::linux_impl {
namespace {

using namespace std::string_literals;

// An SSID is any 32 bytes: the id must stay one line, one field and tell every
// two byte strings apart; the name must show a Polish SSID as typed and nothing
// that moves a terminal's cursor.
TEST(NetworkNamesTest, ArbitraryBytesBecomeSafeIdsAndNames) {
    struct Case {
        std::string bytes;
        const char* id;
        const char* name;
    };
    const Case cases[] = {
        {"Dom", "Dom", "Dom"},
        {"Łódź 5G", "\\xc5\\x81\\xc3\\xb3d\\xc5\\xba 5G", "Łódź 5G"},
        {"a\tb\nc", "a\\x09b\\x0ac", "a\\x09b\\x0ac"},
        {"back\\x41", "back\\x5cx41", "back\\x5cx41"}, // an escape typed by hand stays apart
        {"\xff\xfe", "\\xff\\xfe", "\\xff\\xfe"},
        {"\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},               // overlong "/"
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"}, // a surrogate
        {"\xc2\x9b"
         "31m",
         "\\xc2\\x9b31m", "\\xc2\\x9b31m"},  // a C1 control
        {"caf\xc3", "caf\\xc3", "caf\\xc3"}, // cut in the middle
        {"\x00zero"s, "\\x00zero", "\\x00zero"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SafeNetworkId(c.bytes), c.id) << c.bytes;
        EXPECT_EQ(SafeNetworkName(c.bytes), c.name) << c.bytes;
    }
}

TEST(NetworkNamesTest, NetworksReadAsTheUserKnowsThem) {
    struct Case {
        const char* type;
        std::uint32_t metered;
        const char* shown;
    };
    const Case cases[] = {
        {"802-11-wireless", 1, "Telefon (Wi-Fi, taryfowana)"},
        {"802-3-ethernet", 4, "Telefon (Ethernet)"},
        {"gsm", 3, "Telefon (sieć komórkowa, taryfowana)"},
        {"bluetooth", 2, "Telefon (Bluetooth)"},
        {"wireguard", 0, "Telefon (VPN)"},
        {"pppoe", 1, "Telefon (łącze punkt-punkt, taryfowana)"},
        {"olpc-mesh", 3, "Telefon (taryfowana)"},
    };
    for (const Case& c : cases) {
        const Network network{.id = "nm:1",
                              .name = "Telefon",
                              .kind = KindOfConnectionType(c.type),
                              .metered = MeteredValue(c.metered)};
        EXPECT_EQ(presentation::NetworkDescription(network), c.shown) << c.type;
    }
    EXPECT_EQ(presentation::NetworkDescription({}), "nieznana sieć");
}

} // namespace
} // namespace quantiro::platform::linux_impl
