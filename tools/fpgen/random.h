// Deterministic random numbers for the generator. The standard library's
// distributions are not defined bit for bit, so the few needed here are
// written out: the same seed gives the same fingerprint with every compiler.
#pragma once

#include <cmath>
#include <cstdint>

namespace fpgen {

// SplitMix64 step, also used to derive independent seeds from several keys.
constexpr uint64_t mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

constexpr uint64_t seedFor(uint64_t a, uint64_t b = 0, uint64_t c = 0) { return mix64(mix64(mix64(a) ^ b) ^ c); }

// xoshiro256** generator.
class Rng {
  public:
    explicit Rng(uint64_t seed) {
        for (uint64_t &word : s_) {
            seed = mix64(seed);
            word = seed;
        }
    }

    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform integer in [0, n).
    int below(int n) { return static_cast<int>(uniform() * n); }
    bool chance(double p) { return uniform() < p; }

    // Standard normal (Box-Muller, one value per call).
    double gaussian() {
        const double u1 = 1.0 - uniform();
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

  private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

}  // namespace fpgen
