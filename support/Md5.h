// MD5 as published in RFC 1321, as an incremental context: Update any number of times,
// then Final once.
#pragma once

#include <cstddef>
#include <cstdint>

class Md5 {
  public:
    static constexpr size_t kDigestBytes = 16;

    Md5();
    void Update(const unsigned char* data, size_t length);
    // Pads, appends the bit length and writes the digest; the context is spent afterwards.
    void Final(unsigned char digest[kDigestBytes]);

  private:
    static constexpr size_t kBlockBytes = 64;

    void Transform(const unsigned char* blocks, size_t count);

    uint32_t state_[4];
    uint64_t totalBytes_;
    unsigned char pending_[kBlockBytes];
    size_t pendingBytes_;
};
