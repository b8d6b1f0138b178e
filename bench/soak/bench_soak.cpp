// Twenty full updates in a row, in one process, through the window's own code -
// QSerialPort, Timer1 and the blocking yield - against the unpaced simulated
// radio on a pseudo-terminal. An operator may update a shelf of radios without
// restarting the program, so nothing may pile up from one update to the next.
// Prints per run the outcome, the resident set and the open descriptors, then
// the totals; asserts nothing.
//
//   goals  every update "Completed."; resident set grows by less than 1024 KB
//          from the end of run 2 to the end of run 20; as many descriptors open
//          after the last run as after the first
#include "bench_common.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <cstdio>
#include <filesystem>

using namespace rqv5;

namespace {

constexpr int Runs = 20;

// VmRSS of this process, in KB.
long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLong();
    return -1;
}

// Descriptors open in this process, the one used to list them not counted.
int openDescriptors() {
    std::error_code ec;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n - 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    test::PtySimulator radio;
    if (!radio.started()) {
        std::fprintf(stderr, "bench_soak: the simulator did not start\n");
        return 1;
    }
    QStringList messages;
    auto window = bench::programOn(radio.device(), messages);
    QCoreApplication::processEvents();

    const int fdsBefore = openDescriptors();
    const long rssBefore = residentKb();
    std::printf("%d full updates against the unpaced radio, one process\n", Runs);
    std::printf("  before      rss %7ld KB  fds %3d\n", rssBefore, fdsBefore);

    int completed = 0;
    long rssAfter2 = 0, rssLast = 0;
    int fdsAfter1 = 0, fdsLast = 0;
    double wallTotal = 0;
    for (int run = 1; run <= Runs; ++run) {
        messages.clear();
        const double wall0 = bench::wallSeconds();
        window->cmdStart->click();
        const double wall = bench::wallSeconds() - wall0;
        wallTotal += wall;
        // The program's event loop runs between two presses.
        QCoreApplication::processEvents();

        const QString outcome = messages.join(QStringLiteral(" | "));
        if (messages == QStringList{QStringLiteral("Completed.")})
            ++completed;
        rssLast = residentKb();
        fdsLast = openDescriptors();
        if (run == 1)
            fdsAfter1 = fdsLast;
        if (run == 2)
            rssAfter2 = rssLast;
        std::printf("  run %2d  %-12s %6.3f s  rss %7ld KB  fds %3d\n", run, qPrintable(outcome), wall,
                    rssLast, fdsLast);
        std::fflush(stdout);
    }
    window.reset();
    const auto summary = radio.stop();

    std::printf("  completed          %d of %d (goal: all)\n", completed, Runs);
    std::printf("  rss run 2 -> %d    %+ld KB (goal: below +1024 KB)\n", Runs, rssLast - rssAfter2);
    std::printf("  fds                before %d, after run 1 %d, after run %d %d (goal: no growth)\n",
                fdsBefore, fdsAfter1, Runs, fdsLast);
    std::printf("  wall               %.3f s in all, %.3f s per update\n", wallTotal, wallTotal / Runs);
    std::printf("  radio              %s PG, %s BE, %s ED, bad check bytes %s, unerased writes %s\n",
                summary.value("pg").constData(), summary.value("be").constData(),
                summary.value("ed").constData(), summary.value("bad_check_bytes").constData(),
                summary.value("unerased_writes").constData());
    return 0;
}
