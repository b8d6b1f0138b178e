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

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace rqv5::fuzz
