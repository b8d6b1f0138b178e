#include "output_schedule.h"

#include <algorithm>

namespace rqv5::sim {

namespace {

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

} // namespace

Micros Pacing::lineTime(std::int64_t bytes, int rate, int bitsPerByte) {
    if (rate <= 0)
        return 0;
    return ceilDiv(bytes * bitsPerByte * 1'000'000, rate);
}

OutputSchedule::OutputSchedule(Pacing pacing) : pacing_(pacing) {}

void OutputSchedule::send(QByteArrayView bytes, Micros ready, bool hangUpAfter) {
    if (bytes.empty() && !hangUpAfter)
        return;
    pending_.emplace(ready, Chunk{bytes.toByteArray(), hangUpAfter});
}

std::optional<Micros> OutputSchedule::nextEventTime() const {
    std::optional<Micros> next;
    if (!onLine_.empty())
        next = onLine_.front().due;
    if (!pending_.empty())
        next = next ? std::min(*next, pending_.begin()->first) : pending_.begin()->first;
    return next;
}

Micros OutputSchedule::dueTime(Micros complete) const {
    if (pacing_.frame <= 0)
        return complete;
    return ceilDiv(complete, pacing_.frame) * pacing_.frame;
}

void OutputSchedule::placeOnLine(Micros now) {
    const std::int64_t baud = pacing_.baud;
    while (!pending_.empty() && pending_.begin()->first <= now) {
        const auto node = pending_.extract(pending_.begin());
        const Micros ready = node.key();
        const Chunk& chunk = node.mapped();
        Micros lastDue = 0;
        if (baud <= 0) {
            lastDue = dueTime(ready);
            for (const char b : chunk.bytes)
                onLine_.push_back({lastDue, b, true});
        } else {
            lineFreeScaled_ = std::max(lineFreeScaled_, ready * baud);
            lastDue = dueTime(ceilDiv(lineFreeScaled_, baud));
            for (const char b : chunk.bytes) {
                lineFreeScaled_ += std::int64_t{pacing_.bitsPerByte} * 1'000'000;
                lastDue = dueTime(ceilDiv(lineFreeScaled_, baud));
                onLine_.push_back({lastDue, b, true});
            }
        }
        if (chunk.hangUpAfter)
            onLine_.push_back({lastDue, 0, false});
    }
}

OutputSchedule::Handover OutputSchedule::takeDue(Micros now) {
    placeOnLine(now);
    Handover out;
    while (!onLine_.empty() && onLine_.front().due <= now) {
        const Slot slot = onLine_.front();
        onLine_.pop_front();
        if (!slot.isByte) {
            out.hangUp = true;
            pending_.clear();
            onLine_.clear();
            break;
        }
        out.bytes.append(slot.byte);
    }
    if (!out.bytes.isEmpty()) {
        handedOver_ += out.bytes.size();
        lastHandover_ = now;
    }
    return out;
}

std::optional<Micros> OutputSchedule::drainedAt() const {
    if (!empty())
        return std::nullopt;
    return lastHandover_;
}

} // namespace rqv5::sim
