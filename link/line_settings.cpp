#include "serial_port.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace rqv5 {

namespace {

// The rates a serial-port settings string may name.
constexpr std::array<int, 15> validRates{110,   300,   600,   1200,  2400,   9600,   14400, 19200,
                                         28800, 38400, 56000, 57600, 115200, 128000, 256000};

std::optional<int> toInt(std::string_view s) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text) {
    std::array<std::string_view, 4> fields;
    std::size_t n = 0;
    while (n < fields.size()) {
        const auto comma = text.find(',');
        fields[n++] = text.substr(0, comma);
        if (comma == std::string_view::npos) {
            text = {};
            break;
        }
        text.remove_prefix(comma + 1);
        if (n == fields.size())
            return std::nullopt; // a fifth field
    }
    if (n != fields.size())
        return std::nullopt;

    LineSettings s;
    const auto baud = toInt(fields[0]);
    if (!baud || std::find(validRates.begin(), validRates.end(), *baud) == validRates.end())
        return std::nullopt;
    s.baud = *baud;

    if (fields[1].size() != 1)
        return std::nullopt;
    const char p = static_cast<char>(fields[1][0] | 0x20);
    if (p != 'n' && p != 'o' && p != 'e' && p != 'm' && p != 's')
        return std::nullopt;
    s.parity = p;

    const auto bits = toInt(fields[2]);
    if (!bits || *bits < 4 || *bits > 8)
        return std::nullopt;
    s.dataBits = *bits;

    if (fields[3] == "1")
        s.stopBits10 = 10;
    else if (fields[3] == "1.5")
        s.stopBits10 = 15;
    else if (fields[3] == "2")
        s.stopBits10 = 20;
    else
        return std::nullopt;
    return s;
}

} // namespace rqv5
