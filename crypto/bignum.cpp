#include "crypto/bignum.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "crypto/bigword.h"

// Word loops run four steps per round and enter the round at the step that
// leaves a whole number of rounds (Duff's device). `step` advances its own
// index.
#define BIG_UNROLL4(count, ...)                 \
    do {                                        \
        int32_t left_ = (count);                \
        if (left_ > 0) {                        \
            int32_t rounds_ = (left_ + 3) >> 2; \
            switch (left_ & 3) {                \
                case 0:                         \
                    do {                        \
                        __VA_ARGS__;            \
                        [[fallthrough]];        \
                        case 3:                 \
                            __VA_ARGS__;        \
                            [[fallthrough]];    \
                        case 2:                 \
                            __VA_ARGS__;        \
                            [[fallthrough]];    \
                        case 1:                 \
                            __VA_ARGS__;        \
                    } while (--rounds_ > 0);    \
            }                                   \
        }                                       \
    } while (0)

namespace {

const char kMsgSub[] = "bigsub: carry is non zero when done\n";
const char kMsgMultAlias[] =
    "lbigmult: product pointer cannot be the same as either"
    "                 multiplicand.\n";
const char kMsgSquareAlias[] = "bigsquare: product pointer cannot be the same as multiplicand.\n";
const char kMsgModZero[] = "bigMod: modulus is zero.\n";
const char kMsgDivZero[] = "bigDivide: divisor is zero.\n";
const char kMsgNoMemory[] = "bigAlloc: out of memory.\n";
const char kMsgBufferSmall[] = "BigToBuf: Buffer is too small.\n";

void ReleaseWithFree(void *block, size_t) {
    free(block);
}

void *(*g_alloc)(size_t) = malloc;
void (*g_release)(void *, size_t) = ReleaseWithFree;

// Shared by fast_multiply and fast_square: the 2n-word block product.
uint32_t g_tmp[BIG_TMP_WORDS];

// Number of significant bits of each byte value (0 for 0).
struct ByteBits {
    uint8_t v[256];
    constexpr ByteBits() : v() {
        for (int x = 1; x < 256; x++)
            v[x] = static_cast<uint8_t>(v[x >> 1] + 1);
    }
};
constexpr ByteBits kByteBits;

int32_t WordBits(uint32_t w) {
    if (w >> 24)
        return 24 + kByteBits.v[w >> 24];
    if (w >> 16)
        return 16 + kByteBits.v[w >> 16];
    if (w >> 8)
        return 8 + kByteBits.v[w >> 8];
    return kByteBits.v[w];
}

uint32_t GetLe32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Overwrites through a volatile pointer so the compiler cannot drop the
// stores of a block that is about to be freed.
void Wipe(void *block, size_t bytes) {
    volatile unsigned char *p = static_cast<volatile unsigned char *>(block);
    while (bytes--)
        *p++ = 0;
}

void *Allocate(size_t bytes) {
    void *block = g_alloc(bytes);
    if (block == nullptr)
        bigError(1, kMsgNoMemory);
    return block;
}

void Release(void *block, size_t bytes) {
    Wipe(block, bytes);
    g_release(block, bytes);
}

uint32_t *AllocateWords(int32_t count) {
    if (count <= 0 || static_cast<size_t>(count) > SIZE_MAX / sizeof(uint32_t))
        bigError(1, kMsgNoMemory);
    return static_cast<uint32_t *>(Allocate(count * sizeof(uint32_t)));
}

// Grows n's word array to exactly `words` words if it is smaller, keeping
// every word already allocated.
void Grow(BigNum *n, int32_t words) {
    if (n->capacity >= words)
        return;
    uint32_t *fresh = AllocateWords(words);
    memcpy(fresh, n->words, n->capacity * sizeof(uint32_t));
    Release(n->words, n->capacity * sizeof(uint32_t));
    n->words = fresh;
    n->capacity = words;
}

void Normalise(BigNum *n) {
    while (n->length > 1 && n->words[n->length - 1] == 0)
        n->length--;
}

bool IsZero(const BigNum *n) {
    int32_t i = n->length;
    while (i > 1 && n->words[i - 1] == 0)
        i--;
    return i == 1 && n->words[0] == 0;
}

bool IsOne(const BigNum *n) {
    int32_t i = n->length;
    while (i > 1 && n->words[i - 1] == 0)
        i--;
    return i == 1 && n->words[0] == 1;
}

void SetZero(BigNum *n) {
    n->sign = 1;
    n->length = 1;
    n->words[0] = 0;
}

int32_t SignificantLength(const BigNum *n) {
    int32_t i = n->length;
    while (i > 1 && n->words[i - 1] == 0)
        i--;
    return i;
}

// z = x + y over n words; returns the carry out. z MAY be x or y.
uint32_t AddWords(uint32_t *z, const uint32_t *x, const uint32_t *y, int32_t n) {
    uint32_t carry = 0;
    int32_t i = 0;
    BIG_UNROLL4(n, {
        uint32_t s = x[i] + carry;
        carry = s < carry;
        uint32_t t = s + y[i];
        carry += t < s;
        z[i] = t;
        i++;
    });
    return carry;
}

// z = x - y over n words; returns the borrow out. z MAY be x or y.
uint32_t SubWords(uint32_t *z, const uint32_t *x, const uint32_t *y, int32_t n) {
    uint32_t borrow = 0;
    int32_t i = 0;
    BIG_UNROLL4(n, {
        uint32_t xi = x[i];
        uint32_t yi = y[i];
        z[i] = xi - yi - borrow;
        borrow = (xi < yi) | ((xi == yi) & borrow);
        i++;
    });
    return borrow;
}

// z = x + carry over n words; returns the carry out. z MAY be x.
uint32_t AddCarryWords(uint32_t *z, const uint32_t *x, uint32_t carry, int32_t n) {
    int32_t i = 0;
    BIG_UNROLL4(n, {
        uint32_t s = x[i] + carry;
        carry = s < carry;
        z[i] = s;
        i++;
    });
    return carry;
}

// z = x - borrow over n words; returns the borrow out. z MAY be x.
uint32_t SubBorrowWords(uint32_t *z, const uint32_t *x, uint32_t borrow, int32_t n) {
    int32_t i = 0;
    BIG_UNROLL4(n, {
        uint32_t xi = x[i];
        z[i] = xi - borrow;
        borrow = xi < borrow;
        i++;
    });
    return borrow;
}

void CopyWords(uint32_t *z, const uint32_t *x, int32_t n) {
    int32_t i = 0;
    BIG_UNROLL4(n, {
        z[i] = x[i];
        i++;
    });
}

// Compares two n-word magnitudes from the top down.
int32_t CompareWords(const uint32_t *x, const uint32_t *y, int32_t n) {
    for (int32_t i = n - 1; i >= 0; i--) {
        if (x[i] != y[i])
            return x[i] > y[i] ? 1 : -1;
    }
    return 0;
}

// Two kernels with identical results (crypto/bigword.h). BIG_KERNEL16 is the
// portable one: no 64-bit multiply or divide, products from 16x16-bit halves
// and quotient words from 32-by-16-bit divisions. The default lets the
// compiler multiply 32x32 into 64 bits and divide 64 by 32 bits, which
// bench/dsa_verify.sh measures as the faster of the two in both builds.
#ifdef BIG_KERNEL16

// The quotient half q = floor((rh:rl) / d) for a 48-bit partial remainder
// rh:rl (rh < 2^16, rh:rl < d * 2^16) and d >= 2^31. The estimate from the
// leading halves exceeds q by at most 2; *rem receives (rh:rl) - q*d.
inline uint32_t DivHalf(uint32_t rh, uint32_t rl, uint32_t d, uint32_t *rem) {
    uint32_t d1 = d >> 16, d0 = d & 0xFFFF;
    uint32_t lead = rh << 16 | rl >> 16;
    uint32_t q = (lead >> 16) == d1 ? 0xFFFF : lead / d1;
    // th:tl = q * d
    uint32_t p1 = q * d1, p0 = q * d0;
    uint32_t tl = (p1 << 16) + p0;
    uint32_t th = (p1 >> 16) + (tl < p0);
    while (th > rh || (th == rh && tl > rl)) {
        q--;
        th -= tl < d;
        tl -= d;
    }
    *rem = rl - tl;
    return q;
}

// floor((nh:nl) / d) for nh < d and d >= 2^31, in two 16-bit halves.
inline uint32_t DivWord(uint32_t nh, uint32_t nl, uint32_t d) {
    uint32_t r;
    uint32_t q1 = DivHalf(nh >> 16, nh << 16 | nl >> 16, d, &r);
    uint32_t q0 = DivHalf(r >> 16, r << 16 | (nl & 0xFFFF), d, &r);
    return q1 << 16 | q0;
}

// *d = low word of s * w + *d + carry; returns the high word (no overflow:
// (2^32 - 1)^2 + 2 (2^32 - 1) < 2^64).
inline uint32_t MulAddStep(uint32_t s, uint32_t w, uint32_t *d, uint32_t carry) {
    uint32_t hi, lo;
    Mul32(s, w, &hi, &lo);
    lo += carry;
    hi += lo < carry;
    lo += *d;
    hi += lo < *d;
    *d = lo;
    return hi;
}

#else

// floor((nh:nl) / d) for nh < d.
inline uint32_t DivWord(uint32_t nh, uint32_t nl, uint32_t d) {
    return static_cast<uint32_t>((static_cast<uint64_t>(nh) << 32 | nl) / d);
}

inline uint32_t MulAddStep(uint32_t s, uint32_t w, uint32_t *d, uint32_t carry) {
    uint64_t t = static_cast<uint64_t>(s) * w + *d + carry;
    *d = static_cast<uint32_t>(t);
    return static_cast<uint32_t>(t >> 32);
}

#endif

// The kernel: dst[0 .. n) += src[0 .. n) * w; returns the carry word.
uint32_t MulAddWords(uint32_t *dst, const uint32_t *src, int32_t n, uint32_t w) {
    uint32_t carry = 0;
    int32_t i = 0;
    BIG_UNROLL4(n, {
        carry = MulAddStep(src[i], w, &dst[i], carry);
        i++;
    });
    return carry;
}

// dst[0 .. la + lb) = a * b, schoolbook. dst MUST NOT overlap a or b.
void MulWords(const uint32_t *a, int32_t la, const uint32_t *b, int32_t lb, uint32_t *dst) {
    memset(dst, 0, la * sizeof(uint32_t));
    // dst[0 .. la + j) holds a * (b[0 .. j)).
    for (int32_t j = 0; j < lb; j++)
        dst[la + j] = MulAddWords(dst + j, a, la, b[j]);
}

// dst[0 .. 2n) = a * a: cross products once, doubled, then the squares.
void SquareWords(const uint32_t *a, int32_t n, uint32_t *dst) {
    memset(dst, 0, 2 * n * sizeof(uint32_t));
    // Row i adds a[i] * a[i+1 ..] at 2i + 1; its carry lands on a word that no
    // earlier row reached.
    for (int32_t i = 0; i + 1 < n; i++)
        dst[n + i] = MulAddWords(dst + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    uint32_t bit = 0;
    for (int32_t i = 0; i < 2 * n; i++) {
        uint32_t w = dst[i];
        dst[i] = w << 1 | bit;
        bit = w >> 31;
    }
    uint32_t carry = 0;
    for (int32_t i = 0; i < n; i++) {
        uint32_t hi, lo;
        Mul32(a[i], a[i], &hi, &lo);
        uint32_t s = dst[2 * i] + carry;
        carry = s < carry;
        s += lo;
        carry += s < lo;
        dst[2 * i] = s;
        s = dst[2 * i + 1] + carry;
        carry = s < carry;
        s += hi;
        carry += s < hi;
        dst[2 * i + 1] = s;
    }
}

// *diff = |x - y| over n words; returns true when x < y.
bool AbsDiffWords(uint32_t *diff, const uint32_t *x, const uint32_t *y, int32_t n) {
    if (CompareWords(x, y, n) >= 0) {
        SubWords(diff, x, y, n);
        return false;
    }
    SubWords(diff, y, x, n);
    return true;
}

// Karatsuba recombination: lo = dst[0 .. n) and hi = dst[n .. 2n) hold the
// half products; mid (n + 1 words) holds the product of the half
// differences. Adds (lo + hi +/- mid) * 2^(32 * n/2) into dst.
void KaratsubaCombine(uint32_t *dst, uint32_t *mid, int32_t n, bool add_mid) {
    int32_t h = n / 2;
    uint32_t top;
    if (add_mid) {
        top = AddWords(mid, mid, dst, n);
        top += AddWords(mid, mid, dst + n, n);
    } else {
        uint32_t borrow = SubWords(mid, dst, mid, n);
        top = AddWords(mid, mid, dst + n, n) - borrow;
    }
    // The middle term is a cross product sum, so it is non-negative and the
    // total fits in 2n words: the carries stop inside dst.
    uint32_t carry = AddWords(dst + h, dst + h, mid, n);
    AddCarryWords(dst + h + n, dst + h + n, carry + top, h);
}

}  // namespace

const char kBigMsgTmpTooSmall[] = "fast_square: Number is too big for static tmp array.\n";

void bigError(int32_t severity, const char *text) {
    if (severity == 1) {
        fprintf(stderr, "CRITICAL EXCEPTION: %s exiting.\n", text);
        fflush(stderr);
        exit(1);
    }
    fprintf(stderr, "WARNING: %s\n", text);
}

void bigSetAllocator(void *(*alloc)(size_t), void (*release)(void *, size_t)) {
    g_alloc = alloc != nullptr ? alloc : malloc;
    g_release = release != nullptr ? release : ReleaseWithFree;
}

void *bigAllocate(size_t bytes) {
    return Allocate(bytes);
}

void bigRelease(void *block, size_t bytes) {
    if (block != nullptr)
        Release(block, bytes);
}

BigNum *newBig(uint32_t w) {
    BigNum *n = static_cast<BigNum *>(Allocate(sizeof(BigNum)));
    n->words = AllocateWords(1);
    n->sign = 1;
    n->length = 1;
    n->capacity = 1;
    n->words[0] = w;
    return n;
}

void freeBig(BigNum *n) {
    if (n == nullptr)
        return;
    Release(n->words, n->capacity * sizeof(uint32_t));
    Release(n, sizeof(BigNum));
}

void BufToBig(const unsigned char *buf, uint32_t len, BigNum *n) {
    if (len == 0) {
        n->words[0] = 0;
        n->length = 1;
        return;
    }
    // ceil(len / 4) without forming len + 3, which wraps near 2^32; at most
    // 2^30, so it fits the signed word count.
    int32_t count = static_cast<int32_t>(len / 4 + (len % 4 != 0));
    Grow(n, count);
    for (int32_t i = 0; i + 1 < count; i++)
        n->words[i] = GetLe32(buf + 4 * static_cast<size_t>(i));
    size_t last_start = 4 * static_cast<size_t>(count - 1);
    uint32_t last = 0;
    for (size_t b = len; b > last_start; b--)
        last = last << 8 | buf[b - 1];
    n->words[count - 1] = last;
    n->length = count;
    Normalise(n);
}

void BigToBuf(const BigNum *n, uint32_t len, unsigned char *buf) {
    uint32_t needed = static_cast<uint32_t>((bigBitLength(n) + 7) / 8);
    if (needed > len)
        bigError(1, kMsgBufferSmall);
    for (uint32_t i = 0; i < len; i++)
        buf[i] = i < needed ? static_cast<unsigned char>(n->words[i / 4] >> (8 * (i % 4))) : 0;
}

int32_t bigBitLength(const BigNum *n) {
    int32_t top = SignificantLength(n) - 1;
    return 32 * top + WordBits(n->words[top]);
}

void bigCopy(const BigNum *a, BigNum *c) {
    if (a == c)
        return;
    Grow(c, a->length);
    CopyWords(c->words, a->words, a->length);
    c->sign = a->sign;
    c->length = a->length;
}

int32_t bigCompare(BigNum *a, BigNum *b) {
    Normalise(a);
    Normalise(b);
    if (a->length != b->length)
        return a->length - b->length;
    return CompareWords(a->words, b->words, a->length);
}

void bigadd(const BigNum *a, const BigNum *b, BigNum *c) {
    const BigNum *longer = a->length >= b->length ? a : b;
    const BigNum *shorter = longer == a ? b : a;
    int32_t ll = longer->length, ls = shorter->length;
    int32_t sign = longer->sign;
    Grow(c, ll + 1);
    uint32_t carry = AddWords(c->words, longer->words, shorter->words, ls);
    carry = AddCarryWords(c->words + ls, longer->words + ls, carry, ll - ls);
    c->words[ll] = carry;
    c->length = ll + 1;
    c->sign = sign;
    Normalise(c);
}

void bigsub(const BigNum *a, const BigNum *b, BigNum *c) {
    int32_t la = a->length, lb = SignificantLength(b);
    if (lb > la)
        bigError(1, kMsgSub);
    Grow(c, la);
    uint32_t borrow = SubWords(c->words, a->words, b->words, lb);
    borrow = SubBorrowWords(c->words + lb, a->words + lb, borrow, la - lb);
    if (borrow != 0)
        bigError(1, kMsgSub);
    c->length = la;
    Normalise(c);
}

void bigSubSigned(BigNum *a, BigNum *b, BigNum *c) {
    int32_t sa = a->sign < 0 ? -1 : 1;
    int32_t sb = b->sign < 0 ? -1 : 1;
    if (sa != sb) {
        bigadd(a, b, c);
        c->sign = sa;
    } else if (bigCompare(a, b) >= 0) {
        bigsub(a, b, c);
        c->sign = sa;
    } else {
        bigsub(b, a, c);
        c->sign = -sa;
    }
}

void lbigmult(const BigNum *a, const BigNum *b, BigNum *c) {
    if (c == a || c == b)
        bigError(1, kMsgMultAlias);
    int32_t la = a->length, lb = b->length;
    SetZero(c);
    if (!IsZero(a) && !IsZero(b)) {
        Grow(c, la + lb);
        MulWords(a->words, la, b->words, lb, c->words);
        c->length = la + lb;
    }
    c->sign = a->sign * b->sign;
    Normalise(c);
}

void bigsquare(const BigNum *a, BigNum *c) {
    if (c == a)
        bigError(1, kMsgSquareAlias);
    int32_t la = a->length;
    Grow(c, 2 * la);
    SquareWords(a->words, la, c->words);
    c->length = 2 * la;
    c->sign = 1;
    Normalise(c);
}

int32_t bigBlockScratchWords(int32_t n) {
    return n <= BIG_BLOCK_WORDS ? 0 : 2 * n + 1 + bigBlockScratchWords(n / 2);
}

void bigBlockMultiply(const uint32_t *a, const uint32_t *b, int32_t n, uint32_t *dst,
                      uint32_t *scratch) {
    if (n <= BIG_BLOCK_WORDS) {
        MulWords(a, n, b, n, dst);
        return;
    }
    int32_t h = n / 2;
    uint32_t *da = scratch, *db = scratch + h, *mid = scratch + n;
    bool a_neg = AbsDiffWords(da, a + h, a, h);
    bool b_neg = AbsDiffWords(db, b, b + h, h);
    bigBlockMultiply(da, db, h, mid, scratch + 2 * n + 1);
    mid[n] = 0;
    bigBlockMultiply(a, b, h, dst, scratch + 2 * n + 1);
    bigBlockMultiply(a + h, b + h, h, dst + n, scratch + 2 * n + 1);
    // (a_hi - a_lo)(b_lo - b_hi) = a_hi*b_lo + a_lo*b_hi - hi - lo
    KaratsubaCombine(dst, mid, n, a_neg == b_neg);
}

void bigBlockSquare(const uint32_t *a, int32_t n, uint32_t *dst, uint32_t *scratch) {
    if (n <= BIG_BLOCK_WORDS) {
        SquareWords(a, n, dst);
        return;
    }
    int32_t h = n / 2;
    uint32_t *da = scratch, *mid = scratch + n;
    AbsDiffWords(da, a + h, a, h);
    bigBlockSquare(da, h, mid, scratch + 2 * n + 1);
    mid[n] = 0;
    bigBlockSquare(a, h, dst, scratch + 2 * n + 1);
    bigBlockSquare(a + h, h, dst + n, scratch + 2 * n + 1);
    // 2 * a_hi * a_lo = hi + lo - (a_hi - a_lo)^2
    KaratsubaCombine(dst, mid, n, false);
}

namespace {

// The largest power of two, from 2, that is at most `limit`.
int32_t BlockSize(int32_t limit) {
    int32_t n = 2;
    while (2 * n <= limit)
        n *= 2;
    return n;
}

// a's low n words as a number that shares a's words.
BigNum LowView(const BigNum *a, int32_t n) {
    BigNum low = {a->sign, n, n, a->words};
    while (low.length > 1 && low.words[low.length - 1] == 0)
        low.length--;
    return low;
}

// c = the 2n-word product in g_tmp, normalised.
void TakeBlockProduct(BigNum *c, int32_t n) {
    CopyWords(c->words, g_tmp, 2 * n);
    c->length = 2 * n;
    Normalise(c);
}

}  // namespace

void fast_multiply(const BigNum *a, const BigNum *b, BigNum *c) {
    if (c == a || c == b)
        bigError(1, kMsgMultAlias);
    int32_t la = a->length, lb = b->length;
    if (la <= BIG_BLOCK_WORDS || lb <= BIG_BLOCK_WORDS || 2 * lb / 3 > la || 2 * la / 3 > lb) {
        lbigmult(a, b, c);
        return;
    }
    int32_t n = BlockSize(la < lb ? la : lb);
    if (2 * n > BIG_TMP_WORDS)
        bigError(1, kBigMsgTmpTooSmall);
    Grow(c, la + lb);
    bigBlockMultiply(a->words, b->words, n, g_tmp, nullptr);
    TakeBlockProduct(c, n);
    // a * b = a_lo*b_lo + a_hi*b + a_lo*b_hi
    for (int32_t i = n; i < la; i++)
        bigAddMulWord(b, a->words[i], c, i);
    BigNum a_low = LowView(a, n);
    for (int32_t j = n; j < lb; j++)
        bigAddMulWord(&a_low, b->words[j], c, j);
    c->sign = a->sign * b->sign;
}

void fast_square(const BigNum *a, BigNum *c) {
    if (c == a)
        bigError(1, kMsgSquareAlias);
    int32_t la = a->length;
    if (la <= BIG_BLOCK_WORDS) {
        bigsquare(a, c);
        return;
    }
    int32_t n = BlockSize(la);
    if (2 * n > BIG_TMP_WORDS)
        bigError(1, kBigMsgTmpTooSmall);
    Grow(c, 2 * la);
    bigBlockSquare(a->words, n, g_tmp, nullptr);
    TakeBlockProduct(c, n);
    // a^2 = a_lo^2 + a_hi*a + a_lo*a_hi
    for (int32_t i = n; i < la; i++)
        bigAddMulWord(a, a->words[i], c, i);
    BigNum a_low = LowView(a, n);
    for (int32_t i = n; i < la; i++)
        bigAddMulWord(&a_low, a->words[i], c, i);
    c->sign = 1;
}

void bigMultiply(const BigNum *a, const BigNum *b, BigNum *c) {
    if (a == b) {
        fast_square(a, c);
        c->sign = 1;
        return;
    }
    fast_multiply(a, b, c);
    c->sign = a->sign * b->sign;
}

void bigShiftLeft(const BigNum *a, int32_t bits, BigNum *c) {
    int32_t la = a->length;
    if (bits == 0) {
        if (a != c) {
            Grow(c, la);
            CopyWords(c->words, a->words, la);
            c->length = la;
        }
        return;
    }
    int32_t shift_words = bits / 32, shift_bits = bits % 32;
    Grow(c, la + shift_words + 1);
    const uint32_t *src = a->words;
    uint32_t *dst = c->words + shift_words;
    // Top down, so that c may be a.
    int32_t i = la - 1;
    if (shift_bits == 0) {
        dst[la] = 0;
        BIG_UNROLL4(la, {
            dst[i] = src[i];
            i--;
        });
    } else {
        int32_t back = 32 - shift_bits;
        dst[la] = src[la - 1] >> back;
        BIG_UNROLL4(la - 1, {
            dst[i] = src[i] << shift_bits | src[i - 1] >> back;
            i--;
        });
        dst[0] = src[0] << shift_bits;
    }
    memset(c->words, 0, shift_words * sizeof(uint32_t));
    c->length = la + shift_words + 1;
    Normalise(c);
}

void bigShiftRight(const BigNum *a, int32_t bits, BigNum *c) {
    int32_t la = a->length;
    int32_t shift_words = bits / 32, shift_bits = bits % 32;
    if (shift_words >= la) {
        c->words[0] = 0;
        c->length = 1;
        return;
    }
    int32_t lc = la - shift_words;
    Grow(c, lc);
    const uint32_t *src = a->words + shift_words;
    uint32_t *dst = c->words;
    // Bottom up, so that c may be a.
    int32_t i = 0;
    if (shift_bits == 0) {
        BIG_UNROLL4(lc, {
            dst[i] = src[i];
            i++;
        });
    } else {
        int32_t back = 32 - shift_bits;
        BIG_UNROLL4(lc - 1, {
            dst[i] = src[i] >> shift_bits | src[i + 1] << back;
            i++;
        });
        dst[lc - 1] = src[lc - 1] >> shift_bits;
    }
    c->length = lc;
    Normalise(c);
}

void bigAddMulWord(const BigNum *a, uint32_t w, BigNum *x, int32_t offset) {
    int32_t la = a->length;
    int32_t end = la + offset;
    Grow(x, end + 2);
    if (x->length < end) {
        memset(x->words + x->length, 0, (end - x->length) * sizeof(uint32_t));
        x->length = end;
    }
    uint32_t carry = MulAddWords(x->words + offset, a->words, la, w);
    int32_t p = end;
    for (; carry != 0 && p < x->length; p++) {
        uint32_t s = x->words[p] + carry;
        carry = s < carry;
        x->words[p] = s;
    }
    if (carry != 0) {
        Grow(x, p + 1);
        x->words[p] = carry;
        x->length = p + 1;
    }
    Normalise(x);
}

namespace {

// Trial product scratch of the long division: divisor * one word.
BigNum *g_mod_trial;
BigNum *g_div_trial;
BigNum *g_div_divisor;

BigNum *Scratch(BigNum **slot, uint32_t words) {
    if (*slot == nullptr) {
        *slot = newBig(0);
        Grow(*slot, words);
    }
    return *slot;
}

// Knuth's long division of r by dv, whose top word has its top bit set and
// which is no longer than r. Leaves r mod dv in r (not normalised to
// length); stores the quotient's length(r) - length(dv) + 1 words in q
// unless q is null.
void LongDivide(BigNum *r, const BigNum *dv, uint32_t *q, BigNum *trial) {
    int32_t lr = r->length, ld = dv->length, k = lr - ld;
    uint32_t *rw = r->words;
    const uint32_t *dw = dv->words;
    uint32_t top = dw[ld - 1];
    Grow(trial, ld + 1);
    uint32_t *t = trial->words;
    uint32_t first = 0;
    if (CompareWords(rw + k, dw, ld) >= 0) {
        SubWords(rw + k, rw + k, dw, ld);
        first = 1;
    }
    if (q != nullptr)
        q[k] = first;
    // r < dv * 2^(32 * (i - ld + 1)), so r's word i is at most dv's top word
    // and the quotient word fits in 32 bits.
    for (int32_t i = lr - 1; i >= ld; i--) {
        uint32_t *window = rw + i - ld;
        uint32_t qhat = rw[i] == top ? 0xFFFFFFFFu : DivWord(rw[i], rw[i - 1], top);
        memset(t, 0, (ld + 1) * sizeof(uint32_t));
        t[ld] = MulAddWords(t, dw, ld, qhat);
        // The estimate exceeds the true quotient word by at most 2.
        while (CompareWords(t, window, ld + 1) > 0) {
            qhat--;
            uint32_t borrow = SubWords(t, t, dw, ld);
            t[ld] -= borrow;
        }
        SubWords(window, window, t, ld + 1);
        if (q != nullptr)
            q[i - ld] = qhat;
    }
}

// The shift that brings a top word below 2^31 up to bit 31.
int32_t NormalisingShift(const BigNum *d) {
    uint32_t top = d->words[d->length - 1];
    return top < 0x80000000u ? 32 - WordBits(top) : 0;
}

}  // namespace

void bigDivide(BigNum *a, BigNum *d, BigNum *q, BigNum *r) {
    if (IsZero(d))
        bigError(1, kMsgDivZero);
    int32_t sa = a->sign < 0 ? -1 : 1;
    int32_t sq = sa * (d->sign < 0 ? -1 : 1);
    bigCopy(a, r);
    SetZero(q);
    int32_t cmp = bigCompare(r, d);
    if (cmp == 0) {
        q->words[0] = 1;
        SetZero(r);
    } else if (cmp > 0 && IsOne(d)) {
        bigCopy(r, q);
        SetZero(r);
    } else if (cmp > 0) {
        BigNum *dv = Scratch(&g_div_divisor, 4);
        BigNum *trial = Scratch(&g_div_trial, 4);
        int32_t s = NormalisingShift(d);
        bigShiftLeft(d, s, dv);
        bigShiftLeft(r, s, r);
        int32_t k = r->length - dv->length;
        Grow(q, k + 1);
        LongDivide(r, dv, q->words, trial);
        q->length = k + 1;
        Normalise(q);
        Normalise(r);
        if (s != 0)
            bigShiftRight(r, s, r);
    }
    q->sign = IsZero(q) ? 1 : sq;
    r->sign = IsZero(r) ? 1 : sa;
}

void bigMod(BigNum *a, BigNum *m, BigNum *r) {
    if (IsZero(m))
        bigError(1, kMsgModZero);
    if (IsOne(m)) {
        memset(r->words, 0, r->capacity * sizeof(uint32_t));
        SetZero(r);
        return;
    }
    int32_t sa = a->sign;
    bigCopy(a, r);
    if (bigCompare(r, m) < 0)
        return;
    r->sign = 1;
    int32_t s = NormalisingShift(m);
    if (s != 0) {
        bigShiftLeft(m, s, m);
        bigShiftLeft(r, s, r);
    }
    LongDivide(r, m, nullptr, Scratch(&g_mod_trial, 4));
    Normalise(r);
    if (s != 0) {
        bigShiftRight(m, s, m);
        bigShiftRight(r, s, r);
    }
    r->sign = sa;
}
