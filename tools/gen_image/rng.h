#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace rqv5::gen {

// SplitMix64. The generator's output must be the same on every machine and with
// every standard library, so it uses neither std::rand nor the <random>
// distributions, whose results are left to the library.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // 0 .. n-1; n must be positive. The slight modulo bias does not matter here.
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }

    // lo .. hi inclusive.
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }

    // True with probability percent / 100.
    bool chance(std::uint32_t percent) { return below(100) < percent; }

    template <typename T>
    void shuffle(std::vector<T>& v) {
        for (std::size_t i = v.size(); i > 1; --i)
            std::swap(v[i - 1], v[below(static_cast<std::uint32_t>(i))]);
    }

    template <typename T>
    const T& pick(const std::vector<T>& v) {
        return v[below(static_cast<std::uint32_t>(v.size()))];
    }

private:
    std::uint64_t state_;
};

} // namespace rqv5::gen
