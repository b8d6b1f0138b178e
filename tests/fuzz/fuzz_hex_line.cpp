// CheckHexLine on arbitrary lines, one after another with one HexBase, as a file
// is read (the input is split at line feeds).
//
// Every line gets one of the documented codes and nothing is ever raised. A
// rejected line changes neither the image nor the base. An accepted address
// record sets the base to its value; an accepted data record is made of hex
// digits only (the checksum insists on it), so an independent reading of it says
// where each of its bytes must land; it changes no other row and leaves its own
// sound.

#include "image/image_file.h"
#include "image_checks.h"

#include <algorithm>
#include <array>
#include <vector>

using namespace rqv5;
using rqv5::fuzz::check;
using rqv5::fuzz::fail;

namespace {

// Copying the image to compare it costs more than the check itself, so only the
// first lines of an input are compared; the rest are still checked for codes,
// exceptions, the base and where accepted bytes land.
constexpr int ComparedLines = 16;

constexpr std::array<std::int16_t, 12> knownCodes{
    hex_code::Accepted,       hex_code::NotAHexRecord,    hex_code::TooShort,    hex_code::CountTooLarge,
    hex_code::LengthMismatch, hex_code::TypeNotZeroFirst, hex_code::UnknownType, hex_code::BadAddressRecord,
    hex_code::OutsideImage,   hex_code::ColumnOutOfRange, hex_code::CrossesRow,  hex_code::BadChecksum};

// The bytes of a record made of hex digits only: count, offset (2), type, data,
// checksum.
std::vector<std::uint8_t> strictPairs(std::string_view line) {
    std::vector<std::uint8_t> pairs;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        const int hi = fuzz::hexDigit(line[i]);
        const int lo = fuzz::hexDigit(line[i + 1]);
        check(hi >= 0 && lo >= 0, "accepted record holds a character that is no hex digit");
        pairs.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return pairs;
}

void checkAccepted(const MemoryImage& image, const MemoryImage* imageBefore, const HexBase& before,
                   const HexBase& after, std::string_view line) {
    // Records without data or address are accepted unread, whatever they hold.
    if (line == ":00000001FF" || line[8] == '1' || line[8] == '3' || line[8] == '5') {
        check(after.address == before.address, "a record without an address moved the base");
        check(!imageBefore || image == *imageBefore, "a record without data changed the image");
        return;
    }
    const std::vector<std::uint8_t> pairs = strictPairs(line);
    check(pairs.size() >= 6 && pairs.size() == std::size_t{pairs[0]} + 5, "accepted record has a bad length");
    unsigned sum = 0;
    for (const std::uint8_t b : pairs)
        sum += b;
    check(sum % 256 == 0, "accepted record has a bad checksum");
    switch (pairs[3]) {
    case 0x00: {
        const std::uint64_t first = before.address + (std::uint64_t{pairs[1]} << 8 | pairs[2]);
        const std::size_t n = pairs[0];
        check(first >= std::uint64_t{MemoryImage::FirstRow} * 16 &&
                  first + n <= (std::uint64_t{MemoryImage::LastRow} + 1) * 16,
              "accepted data lies outside the image");
        check((first & 0xF) + n <= 16, "accepted data runs past the end of its row");
        for (std::size_t k = 0; k < n; ++k)
            check(image.at(static_cast<std::int64_t>(first + k)) == pairs[4 + k],
                  "byte not stored at its address");
        check(after.address == before.address, "a data record moved the base");
        const auto row = static_cast<std::int64_t>(first >> 4);
        fuzz::checkRowsSound(image, row, row);
        if (imageBefore)
            fuzz::checkChangedOnlyIn(image, *imageBefore, row, row);
        return;
    }
    case 0x02:
    case 0x04: {
        check(pairs[0] == 2, "address record with a count other than 2 accepted");
        const std::uint32_t value = std::uint32_t{pairs[4]} << 8 | pairs[5];
        check(after.address == (pairs[3] == 0x02 ? value << 4 : value << 16), "base of an address record");
        check(!imageBefore || image == *imageBefore, "an address record changed the image");
        return;
    }
    default:
        fail("a record of an unknown type was accepted");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryImage image;
    static MemoryImage before;
    image.ClearImage();
    HexBase base;

    std::string_view rest = fuzz::asText(data, size);
    for (int lineIndex = 0; !rest.empty(); ++lineIndex) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));

        const bool compare = lineIndex < ComparedLines;
        if (compare)
            before = image;
        const HexBase baseBefore = base;
        std::int16_t loadError = -123;
        try {
            CheckHexLine(image, base, line, loadError);
        } catch (...) {
            fail("CheckHexLine raised an exception");
        }
        check(std::find(knownCodes.begin(), knownCodes.end(), loadError) != knownCodes.end(), "unknown code");
        if (loadError == hex_code::Accepted) {
            checkAccepted(image, compare ? &before : nullptr, baseBefore, base, line);
        } else {
            check(base.address == baseBefore.address, "a rejected line moved the base");
            if (compare)
                check(image == before, "a rejected line changed the image");
        }
    }
    return 0;
}
