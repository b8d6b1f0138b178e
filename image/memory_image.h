#pragma once

#include <cstdint>
#include <memory>

namespace rqv5 {

// The radio's 256 KB flash, 0xC0000..0xFFFFF, held as 16384 rows of 16 bytes.
// The byte at flash address A lives at row A / 16 and column A % 16. Each row
// carries a flag, -1 (true) once a loader stored a byte other than 0xFF in it
// since the last clear, 0 otherwise; the flash writers skip unflagged rows.
//
// Every access is bounds-checked and raises SubscriptError outside the image.
class MemoryImage {
public:
    static constexpr int FirstRow = 0xC000;
    static constexpr int LastRow = 0xFFFF;
    static constexpr int RowCount = LastRow - FirstRow + 1;
    static constexpr int Columns = 16;
    static constexpr std::int16_t True = -1;
    static constexpr std::int16_t False = 0;

    // Starts cleared: every cell 0xFF, no row flagged.
    MemoryImage();
    MemoryImage(const MemoryImage& other);
    MemoryImage& operator=(const MemoryImage& other);
    ~MemoryImage();

    // Every cell to 255, every flag to false.
    void ClearImage();

    std::int16_t& ImageData(std::int64_t row, std::int64_t column);
    std::int16_t ImageData(std::int64_t row, std::int64_t column) const;

    std::int16_t& RowHasData(std::int64_t row);
    std::int16_t RowHasData(std::int64_t row) const;

    // The cell that holds flash address `address`, by the addressing rule.
    std::int16_t at(std::int64_t address) const { return ImageData(address >> 4, address & 0xF); }

    friend bool operator==(const MemoryImage& a, const MemoryImage& b);

private:
    struct Storage;
    std::unique_ptr<Storage> storage_;
};

} // namespace rqv5
