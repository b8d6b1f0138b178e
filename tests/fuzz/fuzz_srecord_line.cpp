// LoadSRecordLine on one arbitrary line.
//
// Whatever the line, the parser sets LoadError to 0 or 9, raises nothing but
// SubscriptError, stores nothing for a line that is no data record, and stores a
// data record's bytes only in the 17 rows from the row its address field names
// (at most 252 bytes from any column), leaving them sound. For a strictly
// well-formed data record (hex digits only, a count that matches the length) an
// independent reading says where each byte must land.

#include "image/errors.h"
#include "image/hex_field.h"
#include "image/srecord.h"
#include "image_checks.h"

#include <optional>
#include <vector>

using namespace rqv5;
using rqv5::fuzz::check;
using rqv5::fuzz::fail;

namespace {

struct DataRecord {
    std::uint64_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// "S", type 1..3, count, address, data, checksum - every character after the
// type a hex digit and the count saying exactly how long the line is. The
// checksum's value is not looked at: the loader does not check it either.
std::optional<DataRecord> strictDataRecord(std::string_view line) {
    if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3')
        return std::nullopt;
    std::vector<std::uint8_t> pairs;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        if (i + 1 >= line.size())
            return std::nullopt;
        const int hi = fuzz::hexDigit(line[i]);
        const int lo = fuzz::hexDigit(line[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        pairs.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    const std::size_t addressBytes = static_cast<std::size_t>(line[1] - '0') + 1;
    const std::size_t count = pairs[0];
    if (count != pairs.size() - 1 || count < addressBytes + 1)
        return std::nullopt;
    DataRecord record;
    for (std::size_t i = 1; i <= addressBytes; ++i)
        record.address = record.address << 8 | pairs[i];
    record.bytes.assign(pairs.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes), pairs.end() - 1);
    return record;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryImage clean;
    static MemoryImage image;
    image.ClearImage();
    const std::string_view line = fuzz::asText(data, size);

    std::int16_t loadError = -123;
    bool outside = false;
    try {
        LoadSRecordLine(image, line, loadError);
    } catch (const SubscriptError&) {
        outside = true;
    } catch (...) {
        fail("LoadSRecordLine raised something other than SubscriptError");
    }

    const bool isRecord = !line.empty() && line[0] == 'S';
    check(loadError == (isRecord ? load_code::Accepted : load_code::NotAnSRecord), "LoadError");
    const int type = isRecord && line.size() >= 2 && line[1] >= '1' && line[1] <= '3' ? line[1] - '0' : 0;
    if (type == 0) {
        check(!outside && image == clean, "a line that is no data record stored something");
        return 0;
    }
    // The address field as the loaders read hexadecimal text: all its digits but
    // the last name the row.
    const auto firstRow = static_cast<std::int64_t>(readHexField(line, 5, 2 * std::size_t(type) + 1));
    fuzz::checkRowsSound(image, firstRow, firstRow + 16);
    fuzz::checkChangedOnlyIn(image, clean, firstRow, firstRow + 16);

    if (const auto record = strictDataRecord(line)) {
        const std::uint64_t first = record->address;
        const std::uint64_t end = first + record->bytes.size();
        const std::uint64_t imageFirst = std::uint64_t{MemoryImage::FirstRow} * 16;
        const std::uint64_t imageEnd = (std::uint64_t{MemoryImage::LastRow} + 1) * 16;
        const bool fits = record->bytes.empty() || (first >= imageFirst && end <= imageEnd);
        check(outside == !fits, "SubscriptError exactly for data outside the image");
        for (std::uint64_t a = first; a < end && a < imageEnd; ++a) {
            if (a < imageFirst)
                break; // the first byte was refused, nothing was stored
            check(image.at(static_cast<std::int64_t>(a)) == record->bytes[a - first],
                  "byte not stored at its address");
        }
    }
    return 0;
}
