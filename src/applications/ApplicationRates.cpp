#include "applications/ApplicationRates.h"

#include <algorithm>

namespace quantiro::applications {

std::vector<ApplicationRate> FastestApplications(const std::vector<ApplicationDelta>& moved,
                                                 std::chrono::milliseconds elapsed,
                                                 std::size_t shown) {
    std::vector<ApplicationRate> rates;
    if (elapsed.count() <= 0) {
        return rates;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    for (const ApplicationDelta& application : moved) {
        const double download = application.received.WholeKb();
        const double upload = application.sent.WholeKb();
        if (download > 0 || upload > 0) {
            rates.push_back(
                {application.application, download * 1024 / seconds, upload * 1024 / seconds});
        }
    }
    std::sort(rates.begin(), rates.end(), [](const ApplicationRate& a, const ApplicationRate& b) {
        const double aTotal = a.download + a.upload, bTotal = b.download + b.upload;
        return aTotal != bTotal ? aTotal > bTotal : a.application < b.application;
    });
    rates.resize(std::min(rates.size(), shown));
    return rates;
}

} // namespace quantiro::applications
