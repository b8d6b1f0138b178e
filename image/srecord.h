#pragma once

#include "memory_image.h"

#include <cstdint>
#include <string_view>

namespace rqv5 {

// Status codes that the line parsers leave in LoadError.
namespace load_code {
constexpr std::int16_t Accepted = 0;
constexpr std::int16_t NotAnSRecord = 9; // the line does not begin with "S"
} // namespace load_code

// Parses one Motorola S-record line into `image`.
//
// Data records (S1, S2, S3) store their bytes from the record's address onwards;
// the address splits into a row part (all digits but the last) and a column digit,
// and the row moves on when a record runs past column 15. Each stored byte below
// 0xFF flags its row first. Every other type is accepted and stores nothing. The
// parser is deliberately lenient: it checks neither the checksum nor the count
// against the line, and reads hexadecimal fields as readHexField does.
//
// Sets LoadError to 0, or to 9 when the line does not begin with "S". A data byte
// outside 0xC0000..0xFFFFF raises SubscriptError; the bytes before it stay stored.
void LoadSRecordLine(MemoryImage& image, std::string_view line, std::int16_t& LoadError);

} // namespace rqv5
