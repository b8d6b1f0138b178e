#include "srecord.h"

#include "hex_field.h"

namespace rqv5 {

void LoadSRecordLine(MemoryImage& image, std::string_view line, std::int16_t& LoadError) {
    LoadError = load_code::Accepted;
    if (line.empty() || line[0] != 'S') {
        LoadError = load_code::NotAnSRecord;
        return;
    }

    const char typeChar = line.size() >= 2 ? line[1] : '\0';
    const int type = typeChar >= '0' && typeChar <= '9' ? typeChar - '0' : 0;
    if (type < 1 || type > 3)
        return; // header, count and end records carry nothing to store

    // Characters are numbered from 1 as the record format is usually described:
    // "S", type, two count digits, then 4, 6 or 8 address digits.
    const std::uint64_t count = readHexField(line, 3, 2);
    const std::size_t addressDigits = 2 * static_cast<std::size_t>(type) + 2;
    std::int64_t row = static_cast<std::int64_t>(readHexField(line, 5, addressDigits - 1));
    std::int64_t column = static_cast<std::int64_t>(readHexField(line, 5 + addressDigits - 1, 1));
    const std::size_t firstData = 5 + addressDigits;
    const std::size_t lastChar = 2 * count + 2; // the data end where the checksum begins

    for (std::size_t j = firstData; j <= lastChar; j += 2) {
        const auto b = static_cast<std::int16_t>(readHexField(line, j, 2));
        if (b < 255)
            image.RowHasData(row) = MemoryImage::True;
        image.ImageData(row, column) = b;
        if (++column > 15) {
            column = 0;
            ++row;
        }
    }
}

} // namespace rqv5
