#include "tools/mksetup/hmacsha1.h"

#include <string.h>

namespace {

enum { kBlockBytes = 64 };

void SetBe32(unsigned char *p, uint32_t w) {
    p[0] = static_cast<unsigned char>(w >> 24);
    p[1] = static_cast<unsigned char>(w >> 16);
    p[2] = static_cast<unsigned char>(w >> 8);
    p[3] = static_cast<unsigned char>(w);
}

// ctx = SHA-1 started on the block key ^ pad.
void StartPadded(Sha1Context *ctx, const unsigned char *block, unsigned char pad) {
    unsigned char padded[kBlockBytes];
    for (int i = 0; i < kBlockBytes; i++)
        padded[i] = block[i] ^ pad;
    Sha1Init(ctx);
    Sha1Update(ctx, padded, kBlockBytes);
}

}  // namespace

void Sha1DigestBytes(const Sha1Context *ctx, unsigned char out[kSha1Bytes]) {
    for (int i = 0; i < 5; i++)
        SetBe32(out + 4 * i, ctx->state[i]);
}

void HmacSha1Init(HmacSha1 *mac, const unsigned char *key, uint32_t keyLength) {
    unsigned char block[kBlockBytes] = {};
    if (keyLength > kBlockBytes) {
        Sha1Context hashed;
        Sha1Init(&hashed);
        Sha1Update(&hashed, key, keyLength);
        Sha1Final(&hashed);
        Sha1DigestBytes(&hashed, block);
    } else if (keyLength > 0) {
        memcpy(block, key, keyLength);
    }
    StartPadded(&mac->inner, block, 0x36);
    StartPadded(&mac->outer, block, 0x5c);
}

void HmacSha1Update(HmacSha1 *mac, const void *data, uint32_t count) {
    Sha1Update(&mac->inner, data, count);
}

void HmacSha1Final(HmacSha1 *mac, unsigned char out[kSha1Bytes]) {
    unsigned char inner[kSha1Bytes];
    Sha1Final(&mac->inner);
    Sha1DigestBytes(&mac->inner, inner);
    Sha1Update(&mac->outer, inner, kSha1Bytes);
    Sha1Final(&mac->outer);
    Sha1DigestBytes(&mac->outer, out);
}
