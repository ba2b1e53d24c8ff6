#include "wfs/sha1.h"

#include <string.h>

namespace {

uint32_t GetBe32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void SetBe32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

uint32_t Rol(uint32_t v, int bits)
{
    return v << bits | v >> (32 - bits);
}

void Compress(uint32_t state[5], const unsigned char *block)
{
    uint32_t w[80];
    for (int i = 0; i < 16; i++)
        w[i] = GetBe32(block + 4 * i);
    for (int i = 16; i < 80; i++)
        w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; i++) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t t = Rol(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rol(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

void Sha1Init(Sha1Context *ctx)
{
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
    ctx->state[4] = 0xC3D2E1F0;
    ctx->buffered = 0;
    ctx->bitLength = 0;
}

void Sha1Update(Sha1Context *ctx, const void *data, uint32_t count)
{
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

void Sha1Final(Sha1Context *ctx)
{
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
