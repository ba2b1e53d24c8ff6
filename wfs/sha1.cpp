#include "wfs/sha1.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SHA1_HAVE_X86 1
#endif

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

// Hashes blocks 64-byte blocks from data into state.
typedef void (*CompressFunction)(uint32_t state[5], const unsigned char *data, uint32_t blocks);

// The message schedule is kept as a ring of 16 words: word i lives in
// w[i % 16] from round i until round i + 16 overwrites it. The first 16 are
// loaded by the round that needs them.
#define LOADED(i) (w[i] = GetBe32(data + 4 * (i)))
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
// Majority: the two terms never share a set bit, so they may be added, and
// the compiler adds them into e one at a time.
#define F3(b, c, d) (((c) & (d)) + ((b) & ((c) ^ (d))))

// Five rounds bring the working words back to their names, so every round
// is written out and each ring index is a constant.
#define FIVE(f, k, i, word)                               \
    do {                                                  \
        ROUND(a, b, c, d, e, f(b, c, d), k, word(i));     \
        ROUND(e, a, b, c, d, f(a, b, c), k, word(i + 1)); \
        ROUND(d, e, a, b, c, f(e, a, b), k, word(i + 2)); \
        ROUND(c, d, e, a, b, f(d, e, a), k, word(i + 3)); \
        ROUND(b, c, d, e, a, f(c, d, e), k, word(i + 4)); \
    } while (0)

#define TWENTY(f, k, i, word)       \
    do {                            \
        FIVE(f, k, (i), word);      \
        FIVE(f, k, (i) + 5, word);  \
        FIVE(f, k, (i) + 10, word); \
        FIVE(f, k, (i) + 15, word); \
    } while (0)

void CompressPortable(uint32_t state[5], const unsigned char *data, uint32_t blocks) {
    for (; blocks != 0; blocks--, data += 64) {
        uint32_t w[16];
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        FIVE(F1, 0x5A827999, 0, LOADED);
        FIVE(F1, 0x5A827999, 5, LOADED);
        FIVE(F1, 0x5A827999, 10, LOADED);
        ROUND(a, b, c, d, e, F1(b, c, d), 0x5A827999, LOADED(15));
        ROUND(e, a, b, c, d, F1(a, b, c), 0x5A827999, SCHEDULE(16));
        ROUND(d, e, a, b, c, F1(e, a, b), 0x5A827999, SCHEDULE(17));
        ROUND(c, d, e, a, b, F1(d, e, a), 0x5A827999, SCHEDULE(18));
        ROUND(b, c, d, e, a, F1(c, d, e), 0x5A827999, SCHEDULE(19));
        TWENTY(F2, 0x6ED9EBA1, 20, SCHEDULE);
        TWENTY(F3, 0x8F1BBCDC, 40, SCHEDULE);
        TWENTY(F2, 0xCA62C1D6, 60, SCHEDULE);

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#ifdef SHA1_HAVE_X86
// Four rounds per instruction. abcd holds A in its highest lane down to D in
// its lowest; E travels in the highest lane of the other register, where
// sha1nexte adds the rotated A of four rounds before to the next four
// message words. m[i % 4] holds message words 4i to 4i + 3, computed from
// the four groups before it.
#define SHA_GROUP(i)                                                                               \
    do {                                                                                           \
        if ((i) >= 4)                                                                              \
            m[(i) % 4] = _mm_sha1msg2_epu32(                                                       \
                _mm_xor_si128(_mm_sha1msg1_epu32(m[(i) % 4], m[((i) + 1) % 4]), m[((i) + 2) % 4]), \
                m[((i) + 3) % 4]);                                                                 \
        e = (i) == 0 ? _mm_add_epi32(e, m[0]) : _mm_sha1nexte_epu32(eNext, m[(i) % 4]);            \
        eNext = abcd;                                                                              \
        abcd = _mm_sha1rnds4_epu32(abcd, e, (i) / 5);                                              \
    } while (0)

// The compiler keeps vectors on the stack with instructions that fault on
// an address not a multiple of 16, and 32-bit Windows aligns a thread's
// stack to 4 bytes only (64-bit Windows runs a 32-bit installer so), so the
// function aligns its own frame.
__attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer)) void CompressShaInstructions(
    uint32_t state[5], const unsigned char *data, uint32_t blocks) {
    // Reverses the 16 bytes: big-endian words, word 0 in the highest lane.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)state), 0x1B);
    __m128i e0 = _mm_set_epi32((int)state[4], 0, 0, 0);
    for (; blocks != 0; blocks--, data += 64) {
        __m128i abcdBefore = abcd, e = e0, eNext, m[4];
        for (int i = 0; i < 4; i++)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(data + 16 * i)), reverse);
        SHA_GROUP(0);
        SHA_GROUP(1);
        SHA_GROUP(2);
        SHA_GROUP(3);
        SHA_GROUP(4);
        SHA_GROUP(5);
        SHA_GROUP(6);
        SHA_GROUP(7);
        SHA_GROUP(8);
        SHA_GROUP(9);
        SHA_GROUP(10);
        SHA_GROUP(11);
        SHA_GROUP(12);
        SHA_GROUP(13);
        SHA_GROUP(14);
        SHA_GROUP(15);
        SHA_GROUP(16);
        SHA_GROUP(17);
        SHA_GROUP(18);
        SHA_GROUP(19);
        e0 = _mm_sha1nexte_epu32(eNext, e0);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128((__m128i *)state, _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = (uint32_t)_mm_extract_epi32(e0, 3);
}

bool CpuHasShaInstructions(void) {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}
#else
bool CpuHasShaInstructions(void) {
    return false;
}
#endif

void CompressFirst(uint32_t state[5], const unsigned char *data, uint32_t blocks);

CompressFunction compressBlocks = CompressFirst;
bool portableForced;

CompressFunction BestEngine(void) {
#ifdef SHA1_HAVE_X86
    if (!portableForced && CpuHasShaInstructions())
        return CompressShaInstructions;
#endif
    return CompressPortable;
}

// The first call looks at the CPU once and stays out of the way afterwards.
void CompressFirst(uint32_t state[5], const unsigned char *data, uint32_t blocks) {
    compressBlocks = BestEngine();
    compressBlocks(state, data, blocks);
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
    if (count == 0)
        return;  // data may be null then
    const unsigned char *p = (const unsigned char *)data;
    if (ctx->buffered != 0) {
        // Written so that no sum of counts can wrap around.
        uint32_t fill = 64 - ctx->buffered;
        if (count < fill) {
            memcpy(ctx->block + ctx->buffered, p, count);
            ctx->buffered += count;
            return;
        }
        memcpy(ctx->block + ctx->buffered, p, fill);
        compressBlocks(ctx->state, ctx->block, 1);
        p += fill;
        count -= fill;
        ctx->buffered = 0;
        ctx->bitLength += 512;
    }
    uint32_t blocks = count / 64;
    if (blocks != 0) {
        compressBlocks(ctx->state, p, blocks);
        p += 64 * blocks;
        ctx->bitLength += 512 * (uint64_t)blocks;
    }
    ctx->buffered = count % 64;
    memcpy(ctx->block, p, ctx->buffered);
}

void Sha1Final(Sha1Context *ctx) {
    ctx->bitLength += 8 * ctx->buffered;
    ctx->block[ctx->buffered++] = 0x80;
    if (ctx->buffered > 56) {
        memset(ctx->block + ctx->buffered, 0, 64 - ctx->buffered);
        compressBlocks(ctx->state, ctx->block, 1);
        ctx->buffered = 0;
    }
    memset(ctx->block + ctx->buffered, 0, 56 - ctx->buffered);
    SetBe32(ctx->block + 56, (uint32_t)(ctx->bitLength >> 32));
    SetBe32(ctx->block + 60, (uint32_t)ctx->bitLength);
    compressBlocks(ctx->state, ctx->block, 1);
}

Sha1Engine Sha1CurrentEngine(void) {
#ifdef SHA1_HAVE_X86
    if (BestEngine() == CompressShaInstructions)
        return kSha1ShaInstructions;
#endif
    return kSha1Portable;
}

void Sha1ForcePortable(bool portable) {
    portableForced = portable;
    compressBlocks = BestEngine();
}
