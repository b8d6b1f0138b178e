#pragma once

#include "layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rqv5::gen {

// The S-record text of `records`, each holding the bytes of `flash` (index =
// address - 0xC0000) at its address: the header record, one type-2 record per
// entry with upper-case hexadecimal and a valid checksum, and the end record.
// Every line ends in a single line feed.
std::string formatSRecords(const std::vector<Record>& records, const std::vector<std::uint8_t>& flash);

} // namespace rqv5::gen
