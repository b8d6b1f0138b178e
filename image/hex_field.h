#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rqv5 {

// The lenient reading of hexadecimal text that the image loaders and the check
// sum share. Digits may be upper or lower case; blanks, tabs and line feeds are
// skipped wherever they stand; the digits up to the first other character make
// the value, and text without a leading digit reads as 0. Nothing is an error.
// A value too large for 64 bits saturates at UINT64_MAX, so range checks on it
// still refuse it.
std::uint64_t readHex(std::string_view text);

// The field of `count` characters starting at the 1-based position `first` of
// `line`, read as above. Characters beyond the end of the line are simply absent,
// so a field past the end reads only what exists, and a missing field reads 0.
std::uint64_t readHexField(std::string_view line, std::size_t first, std::size_t count);

// The hexadecimal value of one character, or -1 for a character that is not a digit.
int hexDigitValue(char c);

} // namespace rqv5
