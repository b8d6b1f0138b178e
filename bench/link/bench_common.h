#pragma once

// Shared by the link benchmarks: the window on the program's own port and clock,
// wired to the simulator program, and the process's CPU clock.

#include "app/frm_main.h"
#include "pty_simulator.h"

#include <ctime>
#include <memory>

namespace rqv5::bench {

inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The program's window with COM1 wired to `device` and messages collected
// instead of shown.
inline std::unique_ptr<frmMain> programOn(const QString& device, QStringList& messages) {
    qputenv("RQV5_COM1", device.toLocal8Bit());
    WindowEnvironment env;
    env.presenter = [&messages](const QString& text, const QString&, MessageIcon) { messages << text; };
    return std::make_unique<frmMain>(std::move(env));
}

} // namespace rqv5::bench
