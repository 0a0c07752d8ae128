#include "support/Md5.h"

#include <cstring>

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Every Windows target is little-endian, so a block word is a plain unaligned load.
inline uint32_t LoadWord(const unsigned char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

inline void StoreWord(unsigned char* p, uint32_t word) { std::memcpy(p, &word, sizeof word); }

// The auxiliary functions in their cheapest equivalent forms. G is open-coded in its step.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

}  // namespace

// One step: a = b + ((a + fn(b, c, d) + word + constant) <<< shift).
#define MD5_STEP(fn, a, b, c, d, word, shift, constant) \
    a += fn(b, c, d) + (word) + (constant);             \
    a = RotateLeft(a, shift) + (b)

// Round 2's G(b, c, d) = (b & d) | (c & ~d): the halves share no bit, so they may be
// added, and the half without b, the previous step's result, goes in first. This keeps
// the chain between steps short; it is worth a tenth of the throughput.
#define MD5_STEP_G(a, b, c, d, word, shift, constant) \
    a += (word) + (constant) + ((c) & ~(d));          \
    a += (b) & (d);                                   \
    a = RotateLeft(a, shift) + (b)

Md5::Md5()
    : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u},
      totalBytes_(0),
      pending_{},
      pendingBytes_(0) {}

void Md5::Update(const unsigned char* data, size_t length) {
    if (length == 0) return;  // data may then be null
    totalBytes_ += length;
    if (pendingBytes_ > 0) {
        size_t take = kBlockBytes - pendingBytes_;
        if (take > length) take = length;
        std::memcpy(pending_ + pendingBytes_, data, take);
        pendingBytes_ += take;
        data += take;
        length -= take;
        if (pendingBytes_ < kBlockBytes) return;
        Transform(pending_, 1);
        pendingBytes_ = 0;
    }
    // Whole blocks are hashed where they lie; only a tail is copied.
    size_t blocks = length / kBlockBytes;
    if (blocks > 0) Transform(data, blocks);
    size_t tail = length - blocks * kBlockBytes;
    std::memcpy(pending_, data + blocks * kBlockBytes, tail);
    pendingBytes_ = tail;
}

void Md5::Final(unsigned char digest[kDigestBytes]) {
    uint64_t bits = totalBytes_ * 8;
    unsigned char padding[kBlockBytes * 2] = {0x80};
    // Pad to 56 bytes past a block boundary, then the 64-bit length, low word first.
    size_t padBytes = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    StoreWord(padding + padBytes, static_cast<uint32_t>(bits));
    StoreWord(padding + padBytes + 4, static_cast<uint32_t>(bits >> 32));
    Update(padding, padBytes + 8);
    for (size_t i = 0; i < 4; ++i) StoreWord(digest + 4 * i, state_[i]);
}

void Md5::Transform(const unsigned char* blocks, size_t count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, blocks += kBlockBytes) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = LoadWord(blocks + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478u);
        MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756u);
        MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070dbu);
        MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceeeu);
        MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0fafu);
        MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62au);
        MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613u);
        MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501u);
        MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8u);
        MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7afu);
        MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1u);
        MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7beu);
        MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122u);
        MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193u);
        MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438eu);
        MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821u);

        MD5_STEP_G(a, b, c, d, x[1], 5, 0xf61e2562u);
        MD5_STEP_G(d, a, b, c, x[6], 9, 0xc040b340u);
        MD5_STEP_G(c, d, a, b, x[11], 14, 0x265e5a51u);
        MD5_STEP_G(b, c, d, a, x[0], 20, 0xe9b6c7aau);
        MD5_STEP_G(a, b, c, d, x[5], 5, 0xd62f105du);
        MD5_STEP_G(d, a, b, c, x[10], 9, 0x02441453u);
        MD5_STEP_G(c, d, a, b, x[15], 14, 0xd8a1e681u);
        MD5_STEP_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
        MD5_STEP_G(a, b, c, d, x[9], 5, 0x21e1cde6u);
        MD5_STEP_G(d, a, b, c, x[14], 9, 0xc33707d6u);
        MD5_STEP_G(c, d, a, b, x[3], 14, 0xf4d50d87u);
        MD5_STEP_G(b, c, d, a, x[8], 20, 0x455a14edu);
        MD5_STEP_G(a, b, c, d, x[13], 5, 0xa9e3e905u);
        MD5_STEP_G(d, a, b, c, x[2], 9, 0xfcefa3f8u);
        MD5_STEP_G(c, d, a, b, x[7], 14, 0x676f02d9u);
        MD5_STEP_G(b, c, d, a, x[12], 20, 0x8d2a4c8au);

        MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942u);
        MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681u);
        MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122u);
        MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380cu);
        MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44u);
        MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9u);
        MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60u);
        MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70u);
        MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6u);
        MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fau);
        MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085u);
        MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05u);
        MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039u);
        MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5u);
        MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8u);
        MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665u);

        MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244u);
        MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97u);
        MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7u);
        MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039u);
        MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3u);
        MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92u);
        MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47du);
        MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1u);
        MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4fu);
        MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0u);
        MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314u);
        MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1u);
        MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82u);
        MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235u);
        MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bbu);
        MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391u);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

#undef MD5_STEP
#undef MD5_STEP_G
