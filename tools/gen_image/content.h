#pragma once

#include "layout.h"

#include <cstdint>
#include <vector>

namespace rqv5::gen {

// The 256 KB of flash 0xC0000..0xFFFFF, index = address - 0xC0000, with every
// module filled and everything else left erased (0xFF). Invented bytes that look
// like a small radio's firmware: code, menu texts, tone and channel tables, a
// display font, factory settings, a boot loader and the vector table. Every row
// of 16 bytes that a module touches holds at least one byte other than 0xFF.
std::vector<std::uint8_t> fillImage(const std::vector<Module>& modules, std::uint64_t seed);

} // namespace rqv5::gen
