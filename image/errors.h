#pragma once

#include <stdexcept>
#include <string>

namespace rqv5 {

// A run-time error inside one of the program's procedures: a port that will not
// open, port I/O that fails, a reply or image access out of range. Each protocol
// procedure traps it at its boundary and turns it into its failure value, so it
// never reaches the window.
class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index outside an array: a memory-image row outside 0xC000..0xFFFF, a column
// outside 0..15, or a reply read past the end of the received bytes.
class SubscriptError : public RuntimeError {
public:
    explicit SubscriptError(const std::string& what) : RuntimeError("subscript out of range: " + what) {}
};

// A value that does not fit the byte it has to go into.
class OverflowError : public RuntimeError {
public:
    explicit OverflowError(const std::string& what) : RuntimeError("overflow: " + what) {}
};

} // namespace rqv5
