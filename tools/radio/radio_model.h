#pragma once

#include "output_schedule.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace rqv5::sim {

// What the radio took a message from the program to be.
enum class Kind {
    Identify, // "QZ~RQ-V5" CR
    Connect,  // "QZ~FLASH" CR, "QZ~E" CR or "FL" CR
    Pin,      // "QZ~P" <pin> <action digit> CR
    BE,       // 1032-byte erase packet
    PG,       // 1032-byte program packet
    ED,       // 1032-byte end packet
    Legacy,   // 20-byte frame of the row-by-row modes
    Unknown,  // anything else: unknown text, packet letters or bytes
};
constexpr int KindCount = 8;

// "identify", "connect", "pin", "be", "pg", "ed", "legacy", "unknown".
QByteArray kindName(Kind kind);
// Accepts the names above in any case.
std::optional<Kind> kindFromName(QByteArrayView name);

// How the radio misbehaves towards one kind of message. Silent and echo-only
// radios still count and record what they receive, but act on nothing.
struct KindFaults {
    int ngFirst = 0;                   // answer "NG" to the first n, without acting on them
    bool okInstead = false;            // answer "OK" where the radio would give its own code
    std::optional<QByteArray> reply{}; // send exactly these bytes in place of every answer
    Micros late = 0;                   // answer this much later (the echo is never late)
    int lateFirst = 0;                 // only the first n answers are late; 0 means all
    Micros processing = 0;             // time spent on each message before the answer
};

struct RadioOptions {
    Pacing pacing{};
    bool silent = false;                 // no echo, no answer: a radio that is switched off
    bool echoOnly = false;               // the line echoes, the radio answers nothing
    QByteArray identifyCode = "OK";      // framed answer to identify; "RE": wrong region
    QByteArray connectCode = "CT";       // status answer to "QZ~FLASH"
    QByteArray legacyConnectCode = "CT"; // status at the head of the answer to "QZ~E" and "FL"
    // Status at the head of the answer to a legacy erase or end frame. The radio
    // erases, or returns to command mode, only when it answers "OK".
    QByteArray legacyEraseCode = "OK";
    QByteArray legacyEndCode = "OK";
    std::array<KindFaults, KindCount> faults{};
    // Pull the cable once the answer to the n-th message of `hangUpKind` (of any
    // kind when unset) has gone out. 0: never.
    int hangUpAfter = 0;
    std::optional<Kind> hangUpKind{};
    // Bytes sent ahead of the echo of a message's first byte, for the first n
    // messages (0: every message).
    QByteArray garbage{};
    int garbageFirst = 0;
    // Bytes written at another rate than this are lost on the way. 0: any rate.
    int onlyBaud = 0;

    KindFaults& faultsFor(Kind kind) { return faults[static_cast<int>(kind)]; }
    const KindFaults& faultsFor(Kind kind) const { return faults[static_cast<int>(kind)]; }
};

// A message from the program as the radio took it.
struct ReceivedMessage {
    Kind kind;
    QByteArray bytes; // as received, the "CL~" lead-in of mode FL included
    Micros at;        // when its last byte arrived
};

// The RQ-V5 radio's side of the serial protocol, without transport or clock:
// the caller hands over what the program wrote with the current time and takes
// back what has reached the program by a given time. Every byte received is
// echoed ahead of any answer.
//
// The flash covers 0xC0000..0xFFFFF and starts out filled with a pattern that
// contains no 0xFF, so erased areas stand out. Programming works like NOR flash:
// a byte can only lose bits (new = old & written), and writing onto a byte that
// is not erased is counted.
class RadioModel {
public:
    static constexpr std::uint32_t FlashBase = 0xC0000;
    static constexpr std::uint32_t FlashSize = 0x40000;
    static constexpr int PacketSize = 1032;
    static constexpr int FrameSize = 20;

    enum class Mode { Command, LegacyE, LegacyFL };

    explicit RadioModel(RadioOptions options = {});

    const RadioOptions& options() const { return options_; }

    // Bytes the program wrote, arriving at `now`, written at `senderBaud` (0: unknown).
    void receive(QByteArrayView bytes, Micros now, int senderBaud = 0);
    // When takeOutput() next has something to do; nullopt when nothing is queued.
    std::optional<Micros> nextEventTime() const;
    // Everything that has reached the program by `now`. `now` never goes back.
    QByteArray takeOutput(Micros now);
    // The cable was pulled: nothing more goes in or out.
    bool hungUp() const { return hungUp_; }

    Mode mode() const { return mode_; }
    const QByteArray& flash() const { return flash_; }
    std::uint8_t flashAt(std::uint32_t address) const;
    // The highest even address of each block erased, in order.
    const QList<std::uint32_t>& erasedBlocks() const { return erasedBlocks_; }
    // CRC-32 (as zlib's crc32) of the whole flash.
    std::uint32_t flashCrc32() const;
    bool dumpFlash(const QString& path) const;
    static QByteArray initialFlash();

    int count(Kind kind) const { return counts_[static_cast<int>(kind)]; }
    int messageCount() const { return static_cast<int>(messages_.size()); }
    const QList<ReceivedMessage>& messages() const { return messages_; }
    int badCheckBytes() const { return badCheckBytes_; }
    // Packets and frames answered "NG" for their content: bad check byte, an erase
    // entry that ends no block, an address outside the flash.
    int rejected() const { return rejected_; }
    std::int64_t unerasedWrites() const { return unerasedWrites_; }

    std::int64_t bytesReceived() const { return bytesReceived_; }
    std::int64_t bytesIgnored() const { return bytesIgnored_; }
    std::int64_t bytesSent() const { return schedule_.bytesHandedOver(); }
    // The program's own turnaround: the sum of the times from "everything the
    // radio queued has been handed over" to "the program's next byte arrives".
    Micros idleTime() const { return idle_; }
    // How many such waits there were, and the longest.
    int idleCount() const { return idleCount_; }
    Micros idleMax() const { return idleMax_; }
    // The wait below which the given share (0..1) of them ended, to 10 us.
    Micros idlePercentile(double share) const;
    // How long the line needs for everything sent, at `rate` baud.
    Micros lineTime(int rate) const {
        return Pacing::lineTime(bytesSent(), rate, options_.pacing.bitsPerByte);
    }

    // Port pins: a pin is an input until driven; inputs read high (pull-ups)
    // unless set otherwise. Pin names are two decimal digits.
    struct Pin {
        bool output = false;
        bool high = true;
    };
    void setPinInput(QByteArrayView name, bool high);
    Pin pin(QByteArrayView name) const;

private:
    enum class Form { None, Status, Framed, Legacy, Raw };
    struct Answer {
        Form form = Form::None;
        QByteArray code; // two characters, or the whole answer for Raw
    };

    enum class Shape { Undecided, Packet, Text, FrameE, FrameFL };
    struct PinState {
        bool output = false;
        bool driven = false; // level driven as an output
        bool input = true;   // level seen as an input
    };

    void takeByte(char byte, Micros now);
    Shape shape() const;
    void handle(Kind kind, const QByteArray& body, Micros now);
    Answer act(Kind kind, const QByteArray& body);
    Answer answerPacket(const QByteArray& packet);
    Answer answerLegacy(QByteArrayView frame);
    Answer answerPin(QByteArrayView args);
    bool eraseBlocks(const QByteArray& packet);
    void eraseBlock(std::uint32_t first, std::uint32_t last);
    bool program(std::uint32_t address, QByteArrayView data);
    void flushEcho(Micros now);
    static Kind kindOf(const QByteArray& body, Shape shape);
    static Form formOf(Kind kind, const QByteArray& body);
    static QByteArray render(const Answer& answer);

    RadioOptions options_;
    OutputSchedule schedule_;
    Mode mode_ = Mode::Command;
    QByteArray flash_;
    QList<std::uint32_t> erasedBlocks_;
    QMap<QByteArray, PinState> pins_;
    std::optional<std::uint32_t> pendingRowAddress_;
    QByteArray pendingRow_;

    QByteArray partial_; // the message being received
    QByteArray echo_;    // echo not yet queued
    std::array<int, KindCount> counts_{};
    QList<ReceivedMessage> messages_;
    int messagesStarted_ = 0;
    int badCheckBytes_ = 0;
    int rejected_ = 0;
    std::int64_t unerasedWrites_ = 0;
    std::int64_t bytesReceived_ = 0;
    std::int64_t bytesIgnored_ = 0;
    std::optional<Micros> lastReceived_;
    Micros idle_ = 0;
    int idleCount_ = 0;
    Micros idleMax_ = 0;
    // Waits counted by length in 10 us steps; the last step takes every longer one.
    std::array<int, 500> idleSteps_{};
    bool hangUpQueued_ = false;
    bool hungUp_ = false;
};

} // namespace rqv5::sim
