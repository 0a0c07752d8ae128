// The one definition that a bridge built with another key replaces: that build compiles this
// file again with its own ORVEX_SIGNING_KEY_HEX beside the product library, so the linker
// never takes this one from the library. Nothing else may be defined here.
#include "updater/SigningKey.h"

#ifdef ORVEX_SIGNING_KEY_HEX

namespace {

constexpr char kKeyHex[] = ORVEX_SIGNING_KEY_HEX;
static_assert(sizeof(kKeyHex) == 2 * kP256PublicKeyBytes + 1, "the key is 128 hex digits");

constexpr unsigned char Nibble(char c) {
    return static_cast<unsigned char>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
}

struct Key {
    unsigned char bytes[kP256PublicKeyBytes];
};

constexpr Key Decode() {
    Key key = {};
    for (size_t i = 0; i < kP256PublicKeyBytes; ++i)
        key.bytes[i] =
            static_cast<unsigned char>(Nibble(kKeyHex[2 * i]) << 4 | Nibble(kKeyHex[2 * i + 1]));
    return key;
}

constexpr Key kKey = Decode();

}  // namespace

const unsigned char (*BuiltInSigningKey())[kP256PublicKeyBytes] { return &kKey.bytes; }

#else

const unsigned char (*BuiltInSigningKey())[kP256PublicKeyBytes] { return nullptr; }

#endif
