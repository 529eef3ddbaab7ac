// The reports window over a database: the time from this process's start to the
// first painted view, and the time each switch of view takes to paint. Run with
// QT_QPA_PLATFORM=offscreen (or on a display). Prints "first <ms>" and
// "switch <largest ms>".
#include "limits/LimitCheck.h"
#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/SqliteDatabase.h"
#include "ui/ReportsWindow.h"
#include "ui/TrafficChart.h"

#include <QApplication>
#include <QDate>
#include <QEvent>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

// Milliseconds since the kernel started this process.
double SinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Field 3 follows the command's closing parenthesis; field 22 is the start time.
    std::size_t field = 3, at = text.rfind(')') + 2;
    while (field < 22) {
        at = text.find(' ', at) + 1;
        ++field;
    }
    const double startTicks = std::stod(text.substr(at));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / sysconf(_SC_CLK_TCK)) * 1000;
}

class FirstPaint final : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace quantiro;
    if (argc != 2) {
        std::fprintf(stderr, "usage: reports_bench QUB_DB\n");
        return 2;
    }
    QApplication application(argc, argv);
    const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(argv[1]);
    const QDate today = QDate::currentDate();
    platform::linux_impl::GioDesktopEntries entries;
    ui::ReportsWindow window(reports::LoadHistory(*database), reports::LoadApplications(*database),
                             entries, limits::LimitSettings{}, reports::LocalCounting::Included,
                             {.today = {today.year(), today.month(), today.day()}},
                             reports::View::Days);
    FirstPaint first;
    window.Chart().installEventFilter(&first);
    window.show();
    while (!first.painted) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::printf("first %.1f\n", SinceProcessStart());

    double slowest = 0;
    for (int round = 0; round < 3; ++round) {
        for (const auto by : {reports::Grouping::Hour, reports::Grouping::Year,
                              reports::Grouping::Month, reports::Grouping::Day}) {
            const auto start = std::chrono::steady_clock::now();
            window.ShowPeriod({by, window.Shown().anchor});
            window.repaint();
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            slowest = std::max(slowest, took.count());
        }
    }
    std::printf("switch %.1f\n", slowest);
    return 0;
}
