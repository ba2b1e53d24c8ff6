#include "wfs/sha1.h"

#include <string.h>

namespace {

uint32_t GetBe32(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void SetBe32(unsigned char *p, uint32_t v) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

uint32_t Rol(uint32_t v, int bits) {
    return v << bits | v >> (32 - bits);
}

// The message schedule is kept as a ring of 16 words: word i lives in
// w[i % 16] from round i until round i + 16 overwrites it.
#define SCHEDULE(i) \
    (w[(i)&15] = Rol(w[((i)-3) & 15] ^ w[((i)-8) & 15] ^ w[((i)-14) & 15] ^ w[(i)&15], 1))

// One round, with the five working words renamed instead of moved: the
// caller passes them rotated by one for each following round.
#define ROUND(a, b, c, d, e, f, k, word)       \
    do {                                       \
        (e) += Rol(a, 5) + (f) + (k) + (word); \
        (b) = Rol(b, 30);                      \
    } while (0)

#define F1(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define F2(b, c, d) ((b) ^ (c) ^ (d))
#define F3(b, c, d) (((b) & (c)) | (((b) | (c)) & (d)))

#define FIVE(f, k, i, word)                               \
    do {                                                  \
        ROUND(a, b, c, d, e, f(b, c, d), k, word(i));     \
        ROUND(e, a, b, c, d, f(a, b, c), k, word(i + 1)); \
        ROUND(d, e, a, b, c, f(e, a, b), k, word(i + 2)); \
        ROUND(c, d, e, a, b, f(d, e, a), k, word(i + 3)); \
        ROUND(b, c, d, e, a, f(c, d, e), k, word(i + 4)); \
    } while (0)

#define LOADED(i) w[i]

void Compress(uint32_t state[5], const unsigned char *block) {
    uint32_t w[16];
    for (int i = 0; i < 16; i++)
        w[i] = GetBe32(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    FIVE(F1, 0x5A827999, 0, LOADED);
    FIVE(F1, 0x5A827999, 5, LOADED);
    FIVE(F1, 0x5A827999, 10, LOADED);
    ROUND(a, b, c, d, e, F1(b, c, d), 0x5A827999, LOADED(15));
    ROUND(e, a, b, c, d, F1(a, b, c), 0x5A827999, SCHEDULE(16));
    ROUND(d, e, a, b, c, F1(e, a, b), 0x5A827999, SCHEDULE(17));
    ROUND(c, d, e, a, b, F1(d, e, a), 0x5A827999, SCHEDULE(18));
    ROUND(b, c, d, e, a, F1(c, d, e), 0x5A827999, SCHEDULE(19));
    for (int i = 20; i < 40; i += 5)
        FIVE(F2, 0x6ED9EBA1, i, SCHEDULE);
    for (int i = 40; i < 60; i += 5)
        FIVE(F3, 0x8F1BBCDC, i, SCHEDULE);
    for (int i = 60; i < 80; i += 5)
        FIVE(F2, 0xCA62C1D6, i, SCHEDULE);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

void Sha1Init(Sha1Context *ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
    ctx->state[4] = 0xC3D2E1F0;
    ctx->buffered = 0;
    ctx->bitLength = 0;
}

void Sha1Update(Sha1Context *ctx, const void *data, uint32_t count) {
    const unsigned char *p = (const unsigned char *)data;
    if (ctx->buffered != 0) {
        if (ctx->buffered + count < 64) {
            memcpy(ctx->block + ctx->buffered, p, count);
            ctx->buffered += count;
            return;
        }
        uint32_t fill = 64 - ctx->buffered;
        memcpy(ctx->block + ctx->buffered, p, fill);
        Compress(ctx->state, ctx->block);
        p += fill;
        count -= fill;
        ctx->buffered = 0;
        ctx->bitLength += 512;
    }
    while (count >= 64) {
        Compress(ctx->state, p);
        p += 64;
        count -= 64;
        ctx->bitLength += 512;
    }
    if (count != 0)
        memcpy(ctx->block, p, count);
    ctx->buffered = count;
}

void Sha1Final(Sha1Context *ctx) {
    ctx->bitLength += 8 * ctx->buffered;
    ctx->block[ctx->buffered++] = 0x80;
    if (ctx->buffered > 56) {
        memset(ctx->block + ctx->buffered, 0, 64 - ctx->buffered);
        Compress(ctx->state, ctx->block);
        ctx->buffered = 0;
    }
    // The high half of the 64-bit length field is always zero.
    memset(ctx->block + ctx->buffered, 0, 60 - ctx->buffered);
    SetBe32(ctx->block + 60, ctx->bitLength);
    Compress(ctx->state, ctx->block);
}
