// Follows one interface's network with the system's watch and prints a line each
// time it changes: "network <id> <otherId> <name> <kind> <metered>", tab-separated,
// "-" for an empty field. The script that starts it switches networks around it.
#include "platform/Networks.h"
#include "platform/linux/SystemNetworkWatch.h"

#include <cstdio>

#include <poll.h>

int main(int argc, char** argv) {
    using namespace quantiro::platform;
    if (argc != 2) {
        std::fprintf(stderr, "usage: network_watch_probe INTERFACE\n");
        return 2;
    }
    linux_impl::SystemNetworkWatch watch;
    watch.Follow(argv[1]);
    Network shown;
    const auto field = [](const std::string& text) {
        return text.empty() ? "-" : text.c_str();
    };
    for (;;) {
        if (watch.Current() != shown) {
            shown = watch.Current();
            std::printf("network\t%s\t%s\t%s\t%s\t%d\n", field(shown.id), field(shown.otherId),
                        field(shown.name), field(std::string(KindWord(shown.kind))),
                        shown.metered ? 1 : 0);
            std::fflush(stdout);
        }
        pollfd ready{.fd = watch.ChangesDescriptorForLoop(), .events = POLLIN, .revents = 0};
        if (::poll(&ready, 1, -1) < 0) {
            return 1;
        }
        watch.ChangesReadable();
    }
}
