#include "hex_field.h"

#include <limits>

namespace rqv5 {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::uint64_t readHex(std::string_view text) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n')
            continue;
        const int d = hexDigitValue(c);
        if (d < 0)
            break;
        value = value > (max >> 4) ? max : (value << 4) | static_cast<unsigned>(d);
    }
    return value;
}

std::uint64_t readHexField(std::string_view line, std::size_t first, std::size_t count) {
    if (first == 0 || first > line.size())
        return 0;
    return readHex(line.substr(first - 1, count));
}

} // namespace rqv5
