#include "tools/mksetup/nonce.h"

#include <string.h>

namespace {

// int2octets: |v| as `bytes` bytes, most significant first.
void ToOctets(const BigNum *v, uint32_t bytes, unsigned char *out) {
    BigToBuf(v, bytes, out);
    for (uint32_t i = 0; i < bytes / 2; i++) {
        unsigned char t = out[i];
        out[i] = out[bytes - 1 - i];
        out[bytes - 1 - i] = t;
    }
}

// bits2int: the leftmost qBits bits of the big-endian string s.
void FromBits(const unsigned char *s, uint32_t bytes, int32_t qBits, BigNum *v) {
    unsigned char le[kSha1Bytes];
    for (uint32_t i = 0; i < bytes; i++)
        le[i] = s[bytes - 1 - i];
    BufToBig(le, bytes, v);
    v->sign = 1;
    int32_t excess = static_cast<int32_t>(8 * bytes) - qBits;
    if (excess > 0)
        bigShiftRight(v, excess, v);
}

uint32_t OctetLength(const BigNum *q) {
    return static_cast<uint32_t>((bigBitLength(q) + 7) / 8);
}

// out = HMAC_K(V || [separator || extra]); a negative separator leaves the
// tail out.
void Mac(const NonceGenerator *gen, int separator, const unsigned char *extra, uint32_t extraLength,
         unsigned char out[kSha1Bytes]) {
    HmacSha1 mac;
    HmacSha1Init(&mac, gen->key, kSha1Bytes);
    HmacSha1Update(&mac, gen->value, kSha1Bytes);
    if (separator >= 0) {
        unsigned char byte = static_cast<unsigned char>(separator);
        HmacSha1Update(&mac, &byte, 1);
        if (extraLength > 0)
            HmacSha1Update(&mac, extra, extraLength);
    }
    HmacSha1Final(&mac, out);
}

// K = HMAC_K(V || separator || extra); V = HMAC_K(V).
void Reseed(NonceGenerator *gen, int separator, const unsigned char *extra, uint32_t extraLength) {
    Mac(gen, separator, extra, extraLength, gen->key);
    Mac(gen, -1, nullptr, 0, gen->value);
}

}  // namespace

void NonceStart(NonceGenerator *gen, const BigNum *x, BigNum *q, const BigNum *m) {
    int32_t qBits = bigBitLength(q);
    uint32_t rBytes = OctetLength(q);
    // int2octets(x) || bits2octets(h1), h1 being m's 20 bytes.
    unsigned char seed[2 * kSha1Bytes];
    unsigned char h1[kSha1Bytes];
    BigNum *z = newBig(0);
    ToOctets(x, rBytes, seed);
    ToOctets(m, kSha1Bytes, h1);
    FromBits(h1, kSha1Bytes, qBits, z);
    bigMod(z, q, z);
    ToOctets(z, rBytes, seed + rBytes);
    freeBig(z);

    memset(gen->value, 0x01, kSha1Bytes);
    memset(gen->key, 0x00, kSha1Bytes);
    gen->q = q;
    gen->drawn = false;
    Reseed(gen, 0x00, seed, 2 * rBytes);
    Reseed(gen, 0x01, seed, 2 * rBytes);
    memset(seed, 0, sizeof seed);
}

void NonceNext(NonceGenerator *gen, BigNum *k) {
    int32_t qBits = bigBitLength(gen->q);
    // One HMAC output covers q's 160 bits at most, so T is a single V.
    for (;;) {
        if (gen->drawn)
            Reseed(gen, 0x00, nullptr, 0);
        gen->drawn = true;
        Mac(gen, -1, nullptr, 0, gen->value);
        FromBits(gen->value, kSha1Bytes, qBits, k);
        if (bigBitLength(k) != 0 && bigCompare(k, gen->q) < 0)
            return;
    }
}

void NonceWipe(NonceGenerator *gen) {
    volatile unsigned char *p = gen->key;
    for (int i = 0; i < kSha1Bytes; i++)
        p[i] = 0;
    p = gen->value;
    for (int i = 0; i < kSha1Bytes; i++)
        p[i] = 0;
}
