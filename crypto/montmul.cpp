#include "crypto/montmul.h"

#include <string.h>

#include "crypto/bigword.h"

// A second path on x86 CPUs with AVX2, chosen at run time: the rest of the
// build keeps its baseline instruction set.
#if !defined(BIG_KERNEL16) && (defined(__i386__) || defined(__x86_64__))
#define MONT_VECTOR 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

#if !defined(BIG_KERNEL16)

#if defined(__SIZEOF_INT128__)
typedef unsigned __int128 MontWide;
#else
typedef uint64_t MontWide;
#endif

// A column sum of three limbs: low holds the lower two, top the third. The
// compiler keeps all three in registers and adds with carries.
struct Accumulator {
    MontWide low = 0;
    MontLimb top = 0;

    void Add(MontLimb x, MontLimb y) {
        MontWide p = static_cast<MontWide>(x) * y;
        low += p;
        top += low < p;
    }
    void Add(const Accumulator &other) {
        low += other.low;
        top += other.top + (low < other.low);
    }
    void Double() {
        top = top << 1 | static_cast<MontLimb>(low >> (2 * MONT_LIMB_BITS - 1));
        low <<= 1;
    }
    MontLimb Low() const { return static_cast<MontLimb>(low); }
    // Drops the low limb: the column is done, the rest carries into the next.
    void Shift() {
        low = low >> MONT_LIMB_BITS | static_cast<MontWide>(top) << MONT_LIMB_BITS;
        top = 0;
    }
};

#else

struct Accumulator {
    uint32_t c0 = 0, c1 = 0, c2 = 0;

    void Add(uint32_t x, uint32_t y) {
        uint32_t hi, lo;
        Mul32(x, y, &hi, &lo);
        c0 += lo;
        hi += c0 < lo;  // hi <= 2^32 - 2, so this cannot wrap
        c1 += hi;
        c2 += c1 < hi;
    }
    void Add(const Accumulator &other) {
        c0 += other.c0;
        uint32_t carry = c0 < other.c0;
        c1 += carry;
        c2 += c1 < carry;
        c1 += other.c1;
        c2 += (c1 < other.c1) + other.c2;
    }
    void Double() {
        c2 = c2 << 1 | c1 >> 31;
        c1 = c1 << 1 | c0 >> 31;
        c0 <<= 1;
    }
    uint32_t Low() const { return c0; }
    void Shift() {
        c0 = c1;
        c1 = c2;
        c2 = 0;
    }
};

#endif

// t (n limbs) plus carry * R is below 2m: subtract m once if it is not
// below m.
void SubtractIfNotBelow(MontLimb *t, MontLimb carry, const MontLimbs *mod) {
    const MontLimb *m = mod->m;
    int32_t n = mod->n;
    if (carry == 0) {
        int32_t i = n - 1;
        while (i > 0 && t[i] == m[i])
            i--;
        if (t[i] < m[i])
            return;
    }
    MontLimb borrow = 0;
    for (int32_t i = 0; i < n; i++) {
        MontLimb ti = t[i], mi = m[i];
        t[i] = ti - mi - borrow;
        borrow = (ti < mi) | ((ti == mi) & borrow);
    }
}

#ifdef MONT_VECTOR

bool g_vector_allowed = true;

// AVX2 in the CPU, and the system saving the YMM registers across task
// switches (XCR0 bits 1 and 2). Asked of CPUID directly rather than through
// __builtin_cpu_supports, whose run-time support adds 5.6 KB to the installer.
bool CpuHasAvx2() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    unsigned xcr0, xcr0High;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6) != 6)
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}

bool VectorUnitPresent() {
    static int present = -1;
    if (present < 0)
        present = CpuHasAvx2() ? 1 : 0;
    return present != 0;
}

// lo[k] += the low halves and hi[k] += the high halves of x * f[k] and
// y * g[k], four columns at a time, for the aligned blocks of columns from
// `first` (a multiple of 4) up to `end`.
__attribute__((target("avx2"))) inline void AddRowsAvx2(uint64_t *lo, uint64_t *hi, uint32_t x,
                                                        const uint64_t *f, uint32_t y,
                                                        const uint64_t *g, int32_t first,
                                                        int32_t end) {
    const __m256i low_mask = _mm256_set1_epi64x(0xFFFFFFFF);
    const __m256i xs = _mm256_set1_epi32(static_cast<int>(x));
    const __m256i ys = _mm256_set1_epi32(static_cast<int>(y));
    for (int32_t k = first; k < end; k += 4) {
        __m256i p =
            _mm256_mul_epu32(xs, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(f + k)));
        __m256i q =
            _mm256_mul_epu32(ys, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(g + k)));
        __m256i *l = reinterpret_cast<__m256i *>(lo + k);
        __m256i *h = reinterpret_cast<__m256i *>(hi + k);
        __m256i low =
            _mm256_add_epi64(_mm256_and_si256(p, low_mask), _mm256_and_si256(q, low_mask));
        __m256i high = _mm256_add_epi64(_mm256_srli_epi64(p, 32), _mm256_srli_epi64(q, 32));
        _mm256_store_si256(l, _mm256_add_epi64(_mm256_load_si256(l), low));
        _mm256_store_si256(h, _mm256_add_epi64(_mm256_load_si256(h), high));
    }
}

enum { WORDS_PER_LIMB = MONT_LIMB_BITS / 32, MAX_WORDS = MONT_MAX_LIMBS * WORDS_PER_LIMB };

// 32-bit word i of a limb array.
uint32_t Word(const MontLimb *limbs, int32_t i) {
    return static_cast<uint32_t>(limbs[i / WORDS_PER_LIMB] >> (32 * (i % WORDS_PER_LIMB)));
}

// The count words of limbs zero-extended to 64-bit lanes, with four zero
// lanes either side, so that every aligned block of four columns reads its
// four factors from one run of lanes.
void WidenPadded(const MontLimb *limbs, int32_t count, uint64_t *lanes) {
    for (int32_t k = 0; k < 4; k++)
        lanes[k] = lanes[count + 4 + k] = 0;
    for (int32_t i = 0; i < count; i++)
        lanes[4 + i] = Word(limbs, i);
}

uint64_t *Align32(uint64_t *p) {
    return reinterpret_cast<uint64_t *>((reinterpret_cast<uintptr_t>(p) + 31) & ~uintptr_t(31));
}

// montLimbMultiply on the moduli's 32-bit words, for a word count that is a
// multiple of 4 (R is the same). Column sums are kept in 64-bit lanes as low
// halves (lo[k]) and high halves (hi[k], which belong to column k + 1) of
// the products, so no carry crosses a lane. Pass i adds the product row
// a[i] * b and the reduction row u[i-1] * m together; after it column i - 1
// is complete (its low word zero, its carry moves on) and column i lacks
// only u[i] * m[0], so its value mod 2^32 picks u[i].
__attribute__((target("avx2"))) void MultiplyAvx2(const MontLimb *a, const MontLimb *b,
                                                  const MontLimbs *mod, MontLimb *out) {
    int32_t n = mod->n * WORDS_PER_LIMB;
    uint32_t n0inv = static_cast<uint32_t>(mod->n0inv);
    uint64_t b_space[MAX_WORDS + 8], m_space[MAX_WORDS + 8];
    WidenPadded(b, n, b_space);
    WidenPadded(mod->m, n, m_space);
    uint64_t lo_space[2 * MAX_WORDS + 8], hi_space[2 * MAX_WORDS + 12];
    uint64_t *lo = Align32(lo_space), *hi = Align32(hi_space) + 4;
    memset(lo, 0, (2 * n + 4) * sizeof(uint64_t));
    memset(hi - 4, 0, (2 * n + 8) * sizeof(uint64_t));
    uint64_t carry = 0;
    uint32_t u = 0;
    for (int32_t i = 0; i <= n; i++) {
        int32_t first = (i > 0 ? i - 1 : 0) & ~3;
        // b_space[4 + j] is b's word j: column k of row i takes word k - i
        // of b, of reduction row i - 1 word k - i + 1 of m.
        AddRowsAvx2(lo, hi, i < n ? Word(a, i) : 0, b_space + 4 - i, u, m_space + 5 - i, first,
                    i + n);
        if (i > 0)
            carry = (lo[i - 1] + hi[i - 2] + carry) >> 32;
        if (i < n)
            u = static_cast<uint32_t>(lo[i] + hi[i - 1] + carry) * n0inv;
    }
    // a and b are read no more: the result goes into out.
    for (int32_t k = 0; k < mod->n; k++)
        out[k] = 0;
    for (int32_t k = n; k < 2 * n; k++) {
        uint64_t t = lo[k] + hi[k - 1] + carry;
        int32_t word = k - n;
        out[word / WORDS_PER_LIMB] |= static_cast<MontLimb>(static_cast<uint32_t>(t))
                                      << (32 * (word % WORDS_PER_LIMB));
        carry = t >> 32;
    }
    SubtractIfNotBelow(out, static_cast<MontLimb>(carry + hi[2 * n - 1]), mod);
}

bool UseVector(const MontLimbs *mod) {
    return g_vector_allowed && mod->n * WORDS_PER_LIMB % 4 == 0 && VectorUnitPresent();
}

#endif

}  // namespace

int32_t montLimbVector(int32_t allow) {
#ifdef MONT_VECTOR
    g_vector_allowed = allow != 0;
    return g_vector_allowed && VectorUnitPresent();
#else
    (void)allow;
    return 0;
#endif
}

void montLimbMultiply(const MontLimb *a, const MontLimb *b, const MontLimbs *mod, MontLimb *out) {
#ifdef MONT_VECTOR
    if (UseVector(mod)) {
        MultiplyAvx2(a, b, mod, out);
        return;
    }
#endif
    MontLimb u[MONT_MAX_LIMBS];
    const MontLimb *m = mod->m;
    int32_t n = mod->n;
    Accumulator acc;
    // Column i sums a[j] * b[i-j] and u[j] * m[i-j] over the limbs that
    // exist, the two in one loop with a sum each (two independent carry
    // chains). Below n, u[i] is chosen so that the column's low limb becomes
    // zero; from n on the low limb is result limb i - n, written only after
    // every later column has stopped reading a[i - n] and b[i - n], so out may
    // be a or b.
    for (int32_t i = 0; i < 2 * n; i++) {
        int32_t first = i < n ? 0 : i - n + 1, last = i < n ? i - 1 : n - 1;
        Accumulator reduction;
        for (int32_t j = first; j <= last; j++) {
            acc.Add(a[j], b[i - j]);
            reduction.Add(u[j], m[i - j]);
        }
        acc.Add(reduction);
        if (i < n) {
            acc.Add(a[i], b[0]);
            u[i] = acc.Low() * mod->n0inv;
            acc.Add(u[i], m[0]);
        } else {
            out[i - n] = acc.Low();
        }
        acc.Shift();
    }
    SubtractIfNotBelow(out, acc.Low(), mod);
}

void montLimbSquare(const MontLimb *a, const MontLimbs *mod, MontLimb *out) {
#ifdef MONT_VECTOR
    if (UseVector(mod)) {
        MultiplyAvx2(a, a, mod, out);
        return;
    }
#endif
    MontLimb u[MONT_MAX_LIMBS];
    const MontLimb *m = mod->m;
    int32_t n = mod->n;
    Accumulator acc;
    // Column i of a * a: each cross product a[j] * a[i-j], j < i - j, once
    // and doubled, plus the square a[i/2]^2 on even columns; the reduction
    // terms u[j] * m[i-j] as in montLimbMultiply, the first of them in the
    // cross products' loop.
    for (int32_t i = 0; i < 2 * n; i++) {
        int32_t first = i < n ? 0 : i - n + 1, last = i < n ? i - 1 : n - 1;
        int32_t cross_end = (i + 1) / 2;  // j < i - j
        Accumulator cross, reduction;
        int32_t j = first;
        for (; j < cross_end; j++) {
            cross.Add(a[j], a[i - j]);
            reduction.Add(u[j], m[i - j]);
        }
        for (; j <= last; j++)
            reduction.Add(u[j], m[i - j]);
        cross.Double();
        acc.Add(cross);
        acc.Add(reduction);
        if (i % 2 == 0 && i / 2 < n)
            acc.Add(a[i / 2], a[i / 2]);
        if (i < n) {
            u[i] = acc.Low() * mod->n0inv;
            acc.Add(u[i], m[0]);
        } else {
            out[i - n] = acc.Low();
        }
        acc.Shift();
    }
    SubtractIfNotBelow(out, acc.Low(), mod);
}
