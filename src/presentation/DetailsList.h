#pragma once

#include "platform/InterfaceTable.h"
#include "platform/Networks.h"

#include <array>
#include <string>
#include <string_view>

namespace quantiro::presentation {

// The two-column list describing the monitored interface. It lies outside the
// window's visible area, yet is kept up to date: each "Wartość" cell is written
// only when its source value changed since the previous tick.
class DetailsList {
public:
    static constexpr std::size_t kRows = 10;
    static constexpr std::array<std::string_view, 2> kColumns{"Parametr", "Wartość"};
    static constexpr std::array<std::string_view, kRows> kLabels{
        "Nazwa interfejsu",
        "Numer interfejsu",
        "Typ interfejsu",
        "Szybkość interfejsu",
        "Adres fizyczny",
        "Bajty odebrane przez interfejs",
        "Liczba błędnych odebranych pakietów",
        "Bajty wysłane przez interfejs",
        "",
        "Sieć",
    };
    static constexpr std::size_t kNetworkRow = 10;

    static constexpr std::string_view kWaiting = "brak połączenia – czekam na interfejs";

    void Refresh(const platform::InterfaceRow& current, const platform::InterfaceRow& lastSeen);
    // The first row says the meter waits; the others are emptied, but for the
    // network, which stays the last one known until another is.
    void ShowWaiting();
    // The network the followed interface is on, in the last row.
    // The network, and after it its own plan's use when it has one.
    void ShowNetwork(const platform::Network& network, std::string_view planUse = {});

    // Row from 1 to 10, as the list numbers them.
    const std::string& Value(std::size_t row) const { return m_values.at(row - 1); }

    // The name of a MIB-II interface type, or empty for a code without one.
    static std::string_view TypeName(std::int32_t code);

private:
    void Write(std::size_t row, std::string value);

    std::array<std::string, kRows> m_values;
};

} // namespace quantiro::presentation
