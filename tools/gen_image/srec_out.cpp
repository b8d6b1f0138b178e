#include "srec_out.h"

namespace rqv5::gen {

namespace {

void putHexByte(std::string& out, std::uint32_t b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out.push_back(digits[(b >> 4) & 0xF]);
    out.push_back(digits[b & 0xF]);
}

} // namespace

std::string formatSRecords(const std::vector<Record>& records, const std::vector<std::uint8_t>& flash) {
    std::string out = "S0030000FC\n";
    for (const auto& r : records) {
        const std::uint32_t count = r.size + 4; // three address bytes and the checksum follow the count
        std::uint32_t sum = count + (r.address >> 16) + ((r.address >> 8) & 0xFF) + (r.address & 0xFF);
        out += "S2";
        putHexByte(out, count);
        putHexByte(out, r.address >> 16);
        putHexByte(out, r.address >> 8);
        putHexByte(out, r.address);
        for (std::uint32_t i = 0; i < r.size; ++i) {
            const std::uint8_t b = flash.at(r.address - shape::FlashStart + i);
            sum += b;
            putHexByte(out, b);
        }
        putHexByte(out, ~sum & 0xFF);
        out.push_back('\n');
    }
    out += "S804000000FB\n";
    return out;
}

} // namespace rqv5::gen
