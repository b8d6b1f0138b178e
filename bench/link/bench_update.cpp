// A full update through the window's own code against the simulated radio,
// paced like a real line: 57600 baud 8N1 (5760 bytes per second), handed over in
// 1 ms frames as a USB serial adapter does. Prints figures; asserts nothing.
//
//   limit       every byte the radio sends (echo and replies) at the line rate:
//               no update can be faster
//   turnaround  (limit + the radio's idle time waiting for the program) / limit:
//               how long the program keeps the line waiting
#include "bench_common.h"

#include <QApplication>
#include <QPushButton>
#include <cstdio>

using namespace rqv5;

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString frameUs = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("1000");

    test::PtySimulator radio(
        {QStringLiteral("--baud"), QStringLiteral("57600"), QStringLiteral("--frame-us"), frameUs});
    if (!radio.started()) {
        std::fprintf(stderr, "bench_update: the simulator did not start\n");
        return 1;
    }
    QStringList messages;
    auto window = bench::programOn(radio.device(), messages);

    const double cpu0 = bench::cpuSeconds(), wall0 = bench::wallSeconds();
    window->cmdStart->click();
    const double cpu = bench::cpuSeconds() - cpu0, wall = bench::wallSeconds() - wall0;
    const auto summary = radio.stop();

    const double limit = summary.value("line_ms").toDouble() / 1000.0;
    const double idle = summary.value("idle_ms").toDouble() / 1000.0;
    std::printf("full update at 57600 baud, %s us frames: %s\n", qPrintable(frameUs),
                qPrintable(messages.join(QStringLiteral(" | "))));
    std::printf("  radio sent %s bytes, received %s; %s PG packets, bad check bytes %s\n",
                summary.value("bytes_sent").constData(), summary.value("bytes_received").constData(),
                summary.value("pg").constData(), summary.value("bad_check_bytes").constData());
    std::printf("  wall            %8.3f s\n", wall);
    std::printf("  line-rate limit %8.3f s\n", limit);
    std::printf("  wall / limit    %8.4f   (goal: at most 1.01)\n", wall / limit);
    std::printf("  turnaround      %8.4f   (goal: at most 1.005; radio idle %.1f ms)\n",
                (limit + idle) / limit, idle * 1000);
    std::printf(
        "  the radio waited for the program %s times: median %s ms, 90 %% within %s ms, longest %s ms\n",
        summary.value("idle_waits").constData(), summary.value("idle_p50_ms").constData(),
        summary.value("idle_p90_ms").constData(), summary.value("idle_max_ms").constData());
    std::printf("  program CPU     %8.3f s = %.2f %% of the wall time (goal: at most 2 %%)\n", cpu,
                100.0 * cpu / wall);
    return messages == QStringList{QStringLiteral("Completed.")} ? 0 : 1;
}
