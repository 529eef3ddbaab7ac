#include "shell/NetworkHourFile.h"

#include "common/IgnoringErrors.h"
#include "platform/Files.h"

#include <chrono>

namespace quantiro::shell {

namespace {
using namespace std::chrono_literals;
constexpr auto kShortestInterval = 1s;
} // namespace

std::string FormatNetworkHour(std::string_view date, int hour,
                              const std::vector<platform::NetworkAmounts>& networks) {
    std::string text = "quantiro-networks 1\nhour ";
    text.append(date).append(hour < 10 ? " 0" : " ").append(std::to_string(hour)).append("\n");
    for (const platform::NetworkAmounts& row : networks) {
        text.append(row.network.id);
        for (const std::int64_t kb :
             {row.download, row.upload, row.localDownload, row.localUpload}) {
            text.append("\t").append(std::to_string(kb));
        }
        text.append("\n");
    }
    return text;
}

NetworkHourFile::NetworkHourFile(std::string path, platform::Clock& clock)
    : m_path(std::move(path))
    , m_clock(clock) {}

bool NetworkHourFile::Due() const {
    return !m_path.empty() &&
           (!m_offered || m_clock.TickMilliseconds() - m_lastOffer >=
                              static_cast<std::uint32_t>(kShortestInterval / 1ms));
}

void NetworkHourFile::Offer(std::string_view date, int hour,
                            const std::vector<platform::NetworkAmounts>& networks) {
    m_offered = true;
    m_lastOffer = m_clock.TickMilliseconds();
    std::string text = FormatNetworkHour(date, hour, networks);
    if (m_path.empty() || date.empty() || text == m_written) {
        return;
    }
    // Cached, not durable: it is rewritten within a second, and the records keep
    // what it says once the hour is saved.
    IgnoringErrors([&] {
        platform::WriteFileWhole(m_path, text, platform::WriteEnd::Cached);
        m_written = std::move(text);
    });
}

} // namespace quantiro::shell
