// Seeded randomness and byte mutations for the fuzz tests. The engine's output is fixed by
// the standard for a given seed, and nothing here goes through a library's distributions,
// so a literal seed gives the same cases on every run and a failing case replays by number.
#pragma once

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>

class FuzzRandom {
  public:
    explicit FuzzRandom(uint32_t seed) : engine_(seed) {}

    // A value in [0, n); 0 when n is 0.
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next64() % n); }
    bool OneIn(size_t n) { return Below(n) == 0; }
    uint64_t Next64() { return (static_cast<uint64_t>(engine_()) << 32) | engine_(); }
    char Byte() { return static_cast<char>(Below(256)); }

    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

    // Inverts count random bits of bytes[from, to).
    void FlipBits(std::string& bytes, size_t from, size_t to, size_t count) {
        if (to > bytes.size()) to = bytes.size();
        if (from >= to) return;
        for (size_t i = 0; i < count; ++i) {
            bytes[from + Below(to - from)] ^= static_cast<char>(1u << Below(8));
        }
    }

    void Insert(std::string& bytes, const std::string& what) {
        bytes.insert(Below(bytes.size() + 1), what);
    }

    // Removes up to maxLength bytes from a random place.
    void Erase(std::string& bytes, size_t maxLength) {
        if (bytes.empty()) return;
        size_t at = Below(bytes.size());
        bytes.erase(at, 1 + Below(maxLength));
    }

    void Truncate(std::string& bytes) { bytes.resize(Below(bytes.size())); }

  private:
    std::mt19937 engine_;
};

// A case that runs this long is hung, whatever the machine: a bound against hangs, not a
// measure of speed.
constexpr ULONGLONG kFuzzCaseBoundMs = 10000;
