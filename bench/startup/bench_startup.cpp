// Time from starting the program's process to its window being shown, over many
// runs. Prints figures; asserts nothing.
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(RQV5_PROGRAM);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RQV5_STARTUP_PROBE"), QStringLiteral("1"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        const long long started = monotonicNs();
        p.start(program, {});
        if (!p.waitForFinished(30000)) {
            std::fprintf(stderr, "%s did not finish\n", qPrintable(program));
            return 1;
        }
        const QByteArray out = p.readAllStandardOutput();
        const int at = out.indexOf("shown_at_ns=");
        if (at < 0) {
            std::fprintf(stderr, "no start-up report from %s\n", qPrintable(program));
            return 1;
        }
        const long long shown = out.mid(at + 12).trimmed().toLongLong();
        ms.push_back(static_cast<double>(shown - started) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("start-up to window shown (%s, %d runs): median %.1f ms, min %.1f ms, max %.1f ms\n",
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))), runs, ms[ms.size() / 2], ms.front(),
                ms.back());
    return 0;
}
