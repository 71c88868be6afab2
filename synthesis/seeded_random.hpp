#pragma once
// A small random source whose sequence depends on the seed alone (splitmix64),
// the same on every platform and library version, so that a drawn scan is
// reproducible from its seed.

#include <cmath>
#include <cstdint>

namespace georef::synthesis {

class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) noexcept : m_state(seed) {}

    std::uint64_t Next() noexcept {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Unit() noexcept { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [low, high).
    double Uniform(double low, double high) noexcept { return low + (high - low) * Unit(); }
    // Uniform integer in [low, high].
    int Integer(int low, int high) noexcept {
        return low + static_cast<int>(Next() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool Chance(double probability) noexcept { return Unit() < probability; }
    // Standard normal (Box-Muller).
    double Normal() noexcept {
        const double a = 1.0 - Unit();
        const double b = Unit();
        return std::sqrt(-2.0 * std::log(a)) * std::cos(6.283185307179586 * b);
    }
    // A new source for a separate part of the drawing, so that adding a
    // draw to one part does not shift every other part.
    SeededRandom Fork() noexcept { return SeededRandom(Next()); }

private:
    std::uint64_t m_state;
};

}  // namespace georef::synthesis
