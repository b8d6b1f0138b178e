#include "memory_image.h"

#include "errors.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace rqv5 {

struct MemoryImage::Storage {
    std::array<std::int16_t, RowCount * Columns> cells;
    std::array<std::int16_t, RowCount> flags;
};

namespace {

std::string hex(std::int64_t v) {
    // Negate in unsigned arithmetic: the most negative index has no positive
    // counterpart, and a bad index must still give a message, not overflow.
    const auto bits = static_cast<unsigned long long>(v);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%s0x%llX", v < 0 ? "-" : "", v < 0 ? 0 - bits : bits);
    return buf;
}

void checkRow(std::int64_t row) {
    if (row < MemoryImage::FirstRow || row > MemoryImage::LastRow)
        throw SubscriptError("image row " + hex(row));
}

void checkCell(std::int64_t row, std::int64_t column) {
    checkRow(row);
    if (column < 0 || column >= MemoryImage::Columns)
        throw SubscriptError("image column " + std::to_string(column));
}

std::size_t cellIndex(std::int64_t row, std::int64_t column) {
    return static_cast<std::size_t>((row - MemoryImage::FirstRow) * MemoryImage::Columns + column);
}

} // namespace

MemoryImage::MemoryImage() : storage_(std::make_unique<Storage>()) {
    ClearImage();
}

MemoryImage::MemoryImage(const MemoryImage& other) : storage_(std::make_unique<Storage>(*other.storage_)) {}

MemoryImage& MemoryImage::operator=(const MemoryImage& other) {
    if (this != &other)
        *storage_ = *other.storage_;
    return *this;
}

MemoryImage::~MemoryImage() = default;

void MemoryImage::ClearImage() {
    storage_->cells.fill(255);
    storage_->flags.fill(False);
}

std::int16_t& MemoryImage::ImageData(std::int64_t row, std::int64_t column) {
    checkCell(row, column);
    return storage_->cells[cellIndex(row, column)];
}

std::int16_t MemoryImage::ImageData(std::int64_t row, std::int64_t column) const {
    checkCell(row, column);
    return storage_->cells[cellIndex(row, column)];
}

std::int16_t& MemoryImage::RowHasData(std::int64_t row) {
    checkRow(row);
    return storage_->flags[static_cast<std::size_t>(row - FirstRow)];
}

std::int16_t MemoryImage::RowHasData(std::int64_t row) const {
    checkRow(row);
    return storage_->flags[static_cast<std::size_t>(row - FirstRow)];
}

bool operator==(const MemoryImage& a, const MemoryImage& b) {
    return a.storage_->cells == b.storage_->cells && a.storage_->flags == b.storage_->flags;
}

} // namespace rqv5
