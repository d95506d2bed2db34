// A seeded generator of sample values, the same on every platform and in every run (own
// arithmetic, no standard distributions). The tests, the benchmarks and the demonstration all
// draw their sample data from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace TestSupport {

// splitmix64: small, fast and the same on every platform.
class CRandom {
public:
    explicit CRandom(uint64_t seed) : m_state(seed) {}

    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In [low, high].
    uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }

    std::string Letters(size_t minLength, size_t maxLength) {
        std::string text(Between(minLength, maxLength), 'a');
        for (char& c : text) {
            const auto k = static_cast<char>(Next() % 52);
            c = k < 26 ? static_cast<char>('a' + k) : static_cast<char>('A' + k - 26);
        }
        return text;
    }

    // About one character in five outside ASCII.
    std::wstring Note(size_t minLength, size_t maxLength) {
        static constexpr wchar_t kOthers[] = {0xE9, 0xDF, 0x4E2D, 0x20AC};
        std::wstring text(Between(minLength, maxLength), L'a');
        for (wchar_t& c : text) {
            c = Next() % 5 == 0 ? kOthers[Next() % 4] : static_cast<wchar_t>(L'a' + Next() % 26);
        }
        return text;
    }

private:
    uint64_t m_state;
};

}  // namespace TestSupport
