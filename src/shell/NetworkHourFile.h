#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::shell {

// The open hour's figures per network as the limit watcher reads them beside the
// records ("quantiro-networks.now"):
//     quantiro-networks 1
//     hour yyyy-mm-dd HH
//     <id>\t<Download>\t<Upload>\t<DownloadLokalny>\t<UploadLokalny>
// one line a network, whole kB exactly as the hour's "ruch_sieci" rows will hold.
std::string FormatNetworkHour(std::string_view date, int hour,
                              const std::vector<platform::NetworkAmounts>& networks);

// Keeps that file in the runtime directory: replaced whole (written beside it and
// renamed) at most once a second and only when a figure changed, so a plan's
// threshold is seen within seconds, not at the next five-minute save. A file that
// cannot be written is tried again a second later; counting never waits for it.
class NetworkHourFile {
public:
    // `path` empty: no file is kept.
    NetworkHourFile(std::string path, platform::Clock& clock);

    // Whether a second has passed since the last offer: cheap, for every tick.
    bool Due() const;
    // Writes the figures when they differ from those last written.
    void Offer(std::string_view date, int hour,
               const std::vector<platform::NetworkAmounts>& networks);

private:
    std::string m_path;
    platform::Clock& m_clock;
    std::uint32_t m_lastOffer = 0;
    bool m_offered = false;
    std::string m_written;
};

} // namespace quantiro::shell
