// The detector and converter noise of the simulated board: white, roughly
// Gaussian, reproducible from a seed, and cheap enough to draw tens of
// thousands of values per scan without any transcendental function.
#pragma once

#include <cstdint>

namespace nadixq::sim {

class CNoiseSource {
  public:
    explicit CNoiseSource(uint64_t seed = 1) { Seed(seed); }

    void Seed(uint64_t seed) {
        // xorshift must not start from zero; mixing the seed once also makes
        // neighbouring seeds give unrelated sequences.
        uint64_t z = seed + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        _state = (z ^ (z >> 31)) | 1u;
    }

    // One value with mean 0 and standard deviation 1: the sum of four uniform
    // 16-bit values from one 64-bit draw (an Irwin-Hall approximation of the
    // normal distribution, bounded at about +-3.5).
    double Next() {
        const uint64_t bits = NextBits();
        const int64_t sum = static_cast<int64_t>(bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) +
                            ((bits >> 32) & 0xFFFF) + (bits >> 48);
        // Four uniforms on 0..65535: mean 131070, standard deviation
        // sqrt(4 * (65536^2 - 1) / 12) = 37837.2.
        return static_cast<double>(sum - 131070) * (1.0 / 37837.23);
    }

    uint64_t NextBits() {  // xorshift64*
        _state ^= _state >> 12;
        _state ^= _state << 25;
        _state ^= _state >> 27;
        return _state * 0x2545F4914F6CDD1Dull;
    }

  private:
    uint64_t _state = 1;
};

}  // namespace nadixq::sim
