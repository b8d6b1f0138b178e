// CPU time the program spends in one full 5-second wait for a radio that never
// answers, over a pseudo-terminal. Prints figures; asserts nothing.
#include "bench_common.h"

#include <QApplication>
#include <cstdio>

using namespace rqv5;

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    test::PtySimulator radio({QStringLiteral("--silent")});
    if (!radio.started()) {
        std::fprintf(stderr, "bench_wait_cpu: the simulator did not start\n");
        return 1;
    }
    QStringList messages;
    auto window = bench::programOn(radio.device(), messages);

    const double cpu0 = bench::cpuSeconds(), wall0 = bench::wallSeconds();
    const ReplyCode result = window->link().IdentifyDevice();
    const double cpu = bench::cpuSeconds() - cpu0, wall = bench::wallSeconds() - wall0;
    radio.stop();

    std::printf(
        "silent radio, one identify wait: result %d, wall %.3f s, program CPU %.1f ms = %.3f %% of the wait "
        "(goal: under 1 %%)\n",
        result, wall, cpu * 1000, 100.0 * cpu / wall);
    return 0;
}
