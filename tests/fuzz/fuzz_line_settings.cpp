// parseLineSettings on arbitrary text.
//
// A settings string is accepted only with exactly four fields, and what it is
// read as is a setting the port can take: a rate from the list, a parity letter,
// 4..8 data bits, 1, 1.5 or 2 stop bits. Written back in the usual form, the
// same settings read again as the same.

#include "fuzz_support.h"
#include "link/serial_port.h"

#include <algorithm>
#include <array>
#include <string>

using namespace rqv5;
using rqv5::fuzz::check;

namespace {

constexpr std::array<int, 15> rates{110,   300,   600,   1200,  2400,   9600,   14400, 19200,
                                    28800, 38400, 56000, 57600, 115200, 128000, 256000};

std::string written(const LineSettings& s) {
    const char* stop = s.stopBits10 == 10 ? "1" : s.stopBits10 == 15 ? "1.5" : "2";
    return std::to_string(s.baud) + ',' + s.parity + ',' + std::to_string(s.dataBits) + ',' + stop;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);
    const auto settings = parseLineSettings(text);
    if (!settings)
        return 0;
    check(std::count(text.begin(), text.end(), ',') == 3, "accepted without exactly four fields");
    check(std::find(rates.begin(), rates.end(), settings->baud) != rates.end(), "rate not in the list");
    check(std::string_view("noems").find(settings->parity) != std::string_view::npos, "parity letter");
    check(settings->dataBits >= 4 && settings->dataBits <= 8, "data bits");
    check(settings->stopBits10 == 10 || settings->stopBits10 == 15 || settings->stopBits10 == 20,
          "stop bits");
    check(parseLineSettings(written(*settings)) == settings, "written back, the settings read differently");
    return 0;
}
