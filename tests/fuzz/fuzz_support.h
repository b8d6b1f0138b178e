#pragma once

// How a fuzz target reports a property of the code that does not hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace rqv5::fuzz {

// A property the code promises does not hold: libFuzzer treats the abort as a
// crash and keeps the input that caused it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds)
        fail(what);
}

// The value of a hexadecimal digit, -1 for any other character: the targets'
// own strict reading, independent of the loaders' lenient one.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace rqv5::fuzz
