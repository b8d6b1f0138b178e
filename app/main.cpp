#include "frm_main.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rqv5flash"));
    rqv5::frmMain window;
    window.show();

    // For the start-up benchmark: report when the window is up, then leave.
    if (qEnvironmentVariableIsSet("RQV5_STARTUP_PROBE")) {
        QTimer::singleShot(0, &window, [&window] {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("shown_at_ns=%lld\n",
                        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            window.close();
        });
    }
    return QApplication::exec();
}
