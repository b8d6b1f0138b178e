#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace rqv5::sim {

// Simulated time, in microseconds since the simulation started.
using Micros = std::int64_t;

constexpr Micros millis(std::int64_t ms) {
    return ms * 1000;
}

// How the radio's bytes travel back to the program.
struct Pacing {
    // Line rate in baud; 0 sends every byte the moment it is ready.
    int baud = 0;
    // Bits on the line per byte: start bit, 8 data bits, stop bit.
    int bitsPerByte = 10;
    // A USB serial adapter hands received bytes to the host in frames, e.g. every
    // 1000 us; a byte then becomes readable at the first frame boundary after it
    // has fully arrived. 0 hands every byte over as soon as it is complete.
    Micros frame = 0;

    int bytesPerSecond() const { return baud > 0 ? baud / bitsPerByte : 0; }
    // Time the line needs for `bytes` bytes at `rate` baud, rounded up.
    static Micros lineTime(std::int64_t bytes, int rate, int bitsPerByte = 10);
};

// Everything the radio sends, with the time each byte reaches the program.
//
// The radio queues bytes with the time they are ready (an echo at once, a reply
// after its processing time). Bytes go onto the line in order of that time, ties
// in the order they were queued, one after another at the line rate, and are
// then handed over byte by byte or in adapter frames. A byte is placed on the
// line only once its ready time has come, because until then the radio could
// still queue something that is ready earlier (an echo overtakes a late reply).
//
// Both transports drive it the same way: ask nextEventTime(), let time pass to
// it, call takeDue().
class OutputSchedule {
public:
    explicit OutputSchedule(Pacing pacing = {});

    const Pacing& pacing() const { return pacing_; }

    // Queues bytes that are ready at `ready`. With `hangUpAfter` the line goes
    // dead right after the last of them has been handed over; nothing queued
    // behind them is ever delivered.
    void send(QByteArrayView bytes, Micros ready, bool hangUpAfter = false);

    // The earliest time at which takeDue() can change something: a byte handed
    // over or a queued byte going onto the line. nullopt when nothing is queued.
    std::optional<Micros> nextEventTime() const;

    struct Handover {
        QByteArray bytes;
        bool hangUp = false;
    };
    // Takes every byte due by `now`. `now` never goes back between calls.
    Handover takeDue(Micros now);

    bool empty() const { return pending_.empty() && onLine_.empty(); }
    // When the last queued byte was handed over; nullopt while bytes are queued
    // or before anything was sent.
    std::optional<Micros> drainedAt() const;

    std::int64_t bytesHandedOver() const { return handedOver_; }

private:
    struct Chunk {
        QByteArray bytes;
        bool hangUpAfter = false;
    };
    struct Slot {
        Micros due = 0;
        char byte = 0;
        bool isByte = true; // false: the hang-up marker
    };

    void placeOnLine(Micros now);
    Micros dueTime(Micros complete) const;

    Pacing pacing_;
    std::multimap<Micros, Chunk> pending_; // by ready time; equal keys keep queue order
    std::deque<Slot> onLine_;              // due times never decrease
    // End of the last byte on the line, in units of 1/baud microseconds, so that
    // byte times like 173.6 us at 57600 baud add up without rounding.
    std::int64_t lineFreeScaled_ = 0;
    std::optional<Micros> lastHandover_;
    std::int64_t handedOver_ = 0;
};

} // namespace rqv5::sim
