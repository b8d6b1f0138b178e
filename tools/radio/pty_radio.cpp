#include "pty_radio.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace rqv5::sim {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
}

std::int64_t monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

struct Rate {
    speed_t code;
    int baud;
};
constexpr std::array<Rate, 18> rates{{{B110, 110},
                                      {B300, 300},
                                      {B600, 600},
                                      {B1200, 1200},
                                      {B2400, 2400},
                                      {B4800, 4800},
                                      {B9600, 9600},
                                      {B19200, 19200},
                                      {B38400, 38400},
                                      {B57600, 57600},
                                      {B115200, 115200},
                                      {B230400, 230400},
                                      {B460800, 460800},
                                      {B500000, 500000},
                                      {B576000, 576000},
                                      {B921600, 921600},
                                      {B1000000, 1000000},
                                      {B2000000, 2000000}}};

} // namespace

PtyRadio::PtyRadio(RadioModel& radio) : radio_(radio) {}

PtyRadio::~PtyRadio() {
    for (const int fd : {watch_, slave_, master_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool PtyRadio::open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error_ = systemError("cannot create a pseudo-terminal");
        return false;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    std::array<char, 256> name{};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name.data(), name.size()) != 0) {
        error_ = systemError("cannot set up the pseudo-terminal");
        return false;
    }
    slave_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
        error_ = systemError("cannot open the pseudo-terminal's device");
        return false;
    }
    // Raw, so that a program that opens the device without configuring it sees
    // bytes unchanged and no echo from the terminal itself.
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tcsetattr(slave_, TCSANOW, &tio);

    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watching_ = watch_ >= 0 && inotify_add_watch(watch_, name.data(), IN_OPEN | IN_CLOSE) >= 0;
    devicePath_ = QString::fromLocal8Bit(name.data());
    start_ = monotonicMicros();
    return true;
}

std::int64_t PtyRadio::elapsed() const {
    return monotonicMicros() - start_;
}

int PtyRadio::senderBaud() const {
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0)
        return 0;
    const speed_t code = cfgetospeed(&tio);
    const auto rate =
        std::find_if(rates.begin(), rates.end(), [code](const Rate& r) { return r.code == code; });
    return rate == rates.end() ? 0 : rate->baud;
}

void PtyRadio::readWatch() {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(watch_, buffer.data(), buffer.size());
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            if (event->mask & IN_OPEN)
                ++programOpens_;
            if (event->mask & IN_CLOSE) {
                programOpens_ = std::max(0, programOpens_ - 1);
                if (programOpens_ == 0) {
                    // The program closed its port: what it did not read is gone.
                    tcflush(slave_, TCIFLUSH);
                    discarded_ += unsent_.size();
                    unsent_.clear();
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool PtyRadio::pump(std::int64_t now) {
    const QByteArray out = radio_.takeOutput(now);
    if (watching_ && programOpens_ == 0)
        discarded_ += out.size();
    else
        unsent_.append(out);
    while (!unsent_.isEmpty()) {
        const ssize_t n = ::write(master_, unsent_.constData(), static_cast<size_t>(unsent_.size()));
        if (n > 0) {
            unsent_.remove(0, n);
        } else if (errno == EAGAIN) {
            break;
        } else if (errno != EINTR) {
            error_ = systemError("cannot write to the pseudo-terminal");
            return false;
        }
    }
    return true;
}

bool PtyRadio::serve(const std::function<bool()>& finished) {
    // A real adapter hands its frames over on time. The kernel may let a timed
    // wait of an ordinary process run up to 50 us late to save wake-ups; the
    // radio's frames would drift off their grid by that much.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(s, &action, nullptr);
        sigaddset(&stopSignals, s);
    }
    // The stop signals are let through only inside ppoll, so none is missed
    // between the check of the flag and the wait.
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    const sigset_t previousMask = waitMask;
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigdelset(&waitMask, s);

    bool ok = true;
    std::array<char, 4096> buffer{};
    while (stopSignal == 0) {
        if (watching_)
            readWatch();
        if (!pump(elapsed())) {
            ok = false;
            break;
        }
        if (radio_.hungUp() || (finished && finished() && unsent_.isEmpty()))
            break;

        std::array<pollfd, 2> fds{
            {{master_, static_cast<short>(POLLIN | (unsent_.isEmpty() ? 0 : POLLOUT)), 0},
             {watch_, POLLIN, 0}}};
        timespec timeout{};
        timespec* wait = nullptr;
        if (const auto next = radio_.nextEventTime()) {
            const std::int64_t us = std::max<std::int64_t>(0, *next - elapsed());
            timeout = {static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000) * 1000};
            wait = &timeout;
        }
        if (ppoll(fds.data(), watching_ ? 2 : 1, wait, &waitMask) < 0) {
            if (errno == EINTR)
                continue;
            error_ = systemError("cannot wait for the pseudo-terminal");
            ok = false;
            break;
        }
        // An open is taken note of before the bytes written right after it.
        if (watching_ && fds[1].revents)
            readWatch();
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master_, buffer.data(), buffer.size());
            if (n > 0) {
                radio_.receive(QByteArrayView(buffer.data(), n), elapsed(), senderBaud());
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error_ = systemError("cannot read from the pseudo-terminal");
                ok = false;
                break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            error_ = QStringLiteral("the pseudo-terminal hung up");
            ok = false;
            break;
        }
    }
    if (radio_.hungUp() && master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return ok;
}

} // namespace rqv5::sim
