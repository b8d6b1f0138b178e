#pragma once

#include "radio_model.h"

#include <QString>
#include <functional>

namespace rqv5::sim {

// Serves a RadioModel on a pseudo-terminal in real time: the program under test
// opens the slave device as its serial port.
//
// The slave is put in raw mode and kept open here for the whole life of the
// radio, because the program closes and reopens its port between every step,
// and a master whose last slave closes sees EIO and hang-ups. Like a real port,
// bytes that reach the slave while the program has it closed are discarded
// (the opens and closes are watched with inotify).
class PtyRadio {
public:
    explicit PtyRadio(RadioModel& radio);
    ~PtyRadio();
    PtyRadio(const PtyRadio&) = delete;
    PtyRadio& operator=(const PtyRadio&) = delete;

    // Creates the pseudo-terminal. False with error() set when that fails.
    bool open();
    QString devicePath() const { return devicePath_; }
    QString error() const { return error_; }

    // Serves until SIGTERM, SIGINT or SIGHUP arrives, the radio hangs up (the
    // master is then closed, like a cable pulled out: the slave reports a
    // hang-up), or `finished` returns true. False when the terminal failed.
    bool serve(const std::function<bool()>& finished = {});

    // Bytes the radio sent while the program had its port closed.
    std::int64_t bytesDiscarded() const { return discarded_; }

private:
    bool pump(std::int64_t now);
    void readWatch();
    int senderBaud() const;
    std::int64_t elapsed() const;

    RadioModel& radio_;
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    int programOpens_ = 0;
    bool watching_ = false;
    QString devicePath_;
    QString error_;
    QByteArray unsent_;
    std::int64_t discarded_ = 0;
    std::int64_t start_ = 0;
};

} // namespace rqv5::sim
