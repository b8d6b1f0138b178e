#pragma once

#include "memory_image.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace rqv5 {

// The S-record lines of the firmware the program carries, in the order they are
// loaded. The table has room for 9000 lines; ImageLineCount says how many are in use.
struct ImageLineTable {
    static constexpr int Capacity = 9000;
    std::array<std::string_view, Capacity> ImageLines{};
    std::int32_t ImageLineCount = 0;
};

// Stores the embedded lines in table.ImageLines 0.. in order, then sets the count.
void FillImageLines(ImageLineTable& table);

// The start-up load: clear the image, fill the line table and parse every line
// in ascending order. The status each line leaves is not looked at; the embedded
// lines are fixed data that the parser accepts.
void LoadEmbeddedImage(MemoryImage& image, ImageLineTable& table, std::int16_t& LoadError);

// The raw embedded S-record text, one record per line ending in "\n".
std::string_view embeddedImageText();

} // namespace rqv5
