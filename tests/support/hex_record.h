#pragma once

// Writes Intel HEX records for tests and fuzz seeds.

#include <QByteArray>
#include <cstdint>

namespace rqv5::test {

// One Intel HEX record with a correct checksum, without a line end.
inline QByteArray hexRecord(int type, std::uint16_t offset, const QByteArray& data) {
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(offset >> 8));
    body.append(char(offset & 0xFF));
    body.append(char(type));
    body.append(data);
    std::uint8_t sum = 0;
    for (const char c : body)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    body.append(char(static_cast<std::uint8_t>(0x100 - sum)));
    return ':' + body.toHex().toUpper();
}

} // namespace rqv5::test
