// The one definition that a bridge built with other keys replaces: that build compiles this
// file again with its own ORVEX_SIGNING_KEY_HEX beside the product library, so the linker
// never takes this one from the library. Nothing else may be defined here.
#include "updater/SigningKey.h"

#ifdef ORVEX_SIGNING_KEY_HEX

namespace {

// The keys' hex digits, one after the other.
constexpr char kKeysHex[] = ORVEX_SIGNING_KEY_HEX;
constexpr size_t kKeyDigits = 2 * kP256PublicKeyBytes;
constexpr size_t kKeyCount = (sizeof(kKeysHex) - 1) / kKeyDigits;
static_assert((sizeof(kKeysHex) - 1) % kKeyDigits == 0, "each key is 128 hex digits");
static_assert(kKeyCount >= 1 && kKeyCount <= kMaxSigningKeys, "one to four keys");

constexpr unsigned char Nibble(char c) {
    return static_cast<unsigned char>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
}

struct Keys {
    unsigned char bytes[kKeyCount][kP256PublicKeyBytes];
};

constexpr Keys Decode() {
    Keys keys = {};
    for (size_t k = 0; k < kKeyCount; ++k) {
        for (size_t i = 0; i < kP256PublicKeyBytes; ++i) {
            const char* hex = kKeysHex + k * kKeyDigits + 2 * i;
            keys.bytes[k][i] = static_cast<unsigned char>(Nibble(hex[0]) << 4 | Nibble(hex[1]));
        }
    }
    return keys;
}

constexpr Keys kKeys = Decode();

}  // namespace

SigningKeys BuiltInSigningKeys() { return {kKeys.bytes, kKeyCount}; }

#else

SigningKeys BuiltInSigningKeys() { return {nullptr, 0}; }

#endif
