#pragma once

// Properties every memory image keeps, whatever was loaded into it. A whole-image
// scan through the bounds-checked accessors costs milliseconds under the fuzz
// instrumentation, so the checks look at the rows a load may have touched and
// compare the rest in one go.

#include "fuzz_support.h"
#include "image/memory_image.h"

#include <algorithm>

namespace rqv5::fuzz {

inline std::int64_t clampRow(std::int64_t row) {
    return std::clamp<std::int64_t>(row, MemoryImage::FirstRow, MemoryImage::LastRow);
}

// Within rows first..last every cell holds a byte, every flag is exactly true or
// false, and a row that holds anything but 0xFF is flagged: the flash writers
// skip unflagged rows, so an unflagged row with data would silently be left out
// of the radio.
inline void checkRowsSound(const MemoryImage& image, std::int64_t first, std::int64_t last) {
    if (last < MemoryImage::FirstRow || first > MemoryImage::LastRow)
        return;
    for (std::int64_t row = clampRow(first); row <= clampRow(last); ++row) {
        const std::int16_t flag = image.RowHasData(row);
        check(flag == MemoryImage::True || flag == MemoryImage::False, "row flag is neither -1 nor 0");
        for (int column = 0; column < MemoryImage::Columns; ++column) {
            const std::int16_t cell = image.ImageData(row, column);
            check(cell >= 0 && cell <= 0xFF, "image cell outside 0..255");
            check(cell == 0xFF || flag == MemoryImage::True, "row with data is not flagged");
        }
    }
}

// Outside rows first..last, `image` is exactly `before`.
inline void checkChangedOnlyIn(const MemoryImage& image, const MemoryImage& before, std::int64_t first,
                               std::int64_t last) {
    static MemoryImage scratch;
    scratch = image;
    if (last >= MemoryImage::FirstRow && first <= MemoryImage::LastRow) {
        for (std::int64_t row = clampRow(first); row <= clampRow(last); ++row) {
            scratch.RowHasData(row) = before.RowHasData(row);
            for (int column = 0; column < MemoryImage::Columns; ++column)
                scratch.ImageData(row, column) = before.ImageData(row, column);
        }
    }
    check(scratch == before, "a row the line does not address changed");
}

} // namespace rqv5::fuzz
