#pragma once

#include "radio_model.h"

#include <QByteArray>

namespace rqv5::sim::test {

// A 1032-byte flash packet: FF FE, two letters, the payload padded with 0xFF,
// and the check byte, the low 8 bits of the sum of bytes 2..1030.
inline QByteArray flashPacket(QByteArrayView letters, QByteArrayView payload = {}) {
    QByteArray packet(RadioModel::PacketSize, '\xFF');
    packet[1] = '\xFE';
    packet.replace(2, 2, letters.toByteArray());
    packet.replace(4, payload.size(), payload.toByteArray());
    unsigned sum = 0;
    for (int i = 2; i < RadioModel::PacketSize - 1; ++i)
        sum += static_cast<unsigned char>(packet[i]);
    packet[RadioModel::PacketSize - 1] = static_cast<char>(sum & 0xFF);
    return packet;
}

// The erase list the program sends: the eight blocks below the boot block in
// its fixed order, then the boot block when asked for.
inline QByteArray erasePacket(bool bootBlock) {
    QByteArray entries =
        QByteArray::fromHex("000FEFFE000FDFFE000FBFFE000F9FFE000F7FFE000EFFFE000DFFFE000CFFFE");
    if (bootBlock)
        entries += QByteArray::fromHex("000FFFFE");
    return flashPacket("BE", entries);
}

inline QByteArray programPacket(std::uint32_t address, const QByteArray& data) {
    QByteArray payload;
    payload.append(static_cast<char>(address >> 16));
    payload.append(static_cast<char>(address >> 8));
    payload.append(static_cast<char>(address));
    payload.append(data.leftJustified(1024, '\xFF', true));
    return flashPacket("PG", payload);
}

inline QByteArray endPacket() {
    return flashPacket("ED");
}

// Feeds a model on a clock the test moves and collects what it sends.
struct Driver {
    explicit Driver(RadioOptions options = {}) : model(std::move(options)) {}

    // Everything sent by `until`, stepping through each due time as a transport would.
    QByteArray runUntil(Micros until) {
        QByteArray out;
        for (auto next = model.nextEventTime(); next && *next <= until; next = model.nextEventTime()) {
            now = std::max(now, *next);
            out += model.takeOutput(now);
        }
        now = std::max(now, until);
        return out;
    }
    // Writes at the current time and collects everything sent before `until`
    // (by default, whatever is due right now).
    QByteArray talk(QByteArrayView bytes, std::optional<Micros> until = {}) {
        model.receive(bytes, now);
        return runUntil(until.value_or(now));
    }

    RadioModel model;
    Micros now = 0;
};

} // namespace rqv5::sim::test
