#include "crypto/montmul.h"

#include "crypto/bigword.h"

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

// Column i of the reduction: below n, adds u[j] * m[i-j] for the u already
// chosen and then picks u[i] so that the column's low limb becomes zero;
// from n on, adds the terms whose u exist and stores the column's low limb
// as result limb i - n. Either way the column's carry moves to the next.
inline void ReduceColumn(Accumulator *acc, MontLimb *u, const MontLimbs *mod, int32_t i,
                         MontLimb *out) {
    const MontLimb *m = mod->m;
    int32_t n = mod->n;
    if (i < n) {
        for (int32_t j = 0; j < i; j++)
            acc->Add(u[j], m[i - j]);
        u[i] = acc->Low() * mod->n0inv;
        acc->Add(u[i], m[0]);
    } else {
        for (int32_t j = i - n + 1; j < n; j++)
            acc->Add(u[j], m[i - j]);
        out[i - n] = acc->Low();
    }
    acc->Shift();
}

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

}  // namespace

void montLimbMultiply(const MontLimb *a, const MontLimb *b, const MontLimbs *mod, MontLimb *out) {
    MontLimb u[MONT_MAX_LIMBS];
    int32_t n = mod->n;
    Accumulator acc;
    // Column i sums a[j] * b[i-j] over the limbs that exist; out[i - n] is
    // written only after every later column has stopped reading a[i - n] and
    // b[i - n], so out may be a or b.
    for (int32_t i = 0; i < 2 * n; i++) {
        int32_t first = i < n ? 0 : i - n + 1, last = i < n ? i : n - 1;
        for (int32_t j = first; j <= last; j++)
            acc.Add(a[j], b[i - j]);
        ReduceColumn(&acc, u, mod, i, out);
    }
    SubtractIfNotBelow(out, acc.Low(), mod);
}

void montLimbSquare(const MontLimb *a, const MontLimbs *mod, MontLimb *out) {
    MontLimb u[MONT_MAX_LIMBS];
    int32_t n = mod->n;
    Accumulator acc;
    // Column i of a * a: each cross product a[j] * a[i-j], j < i - j, once
    // and doubled, plus the square a[i/2]^2 on even columns.
    for (int32_t i = 0; i < 2 * n; i++) {
        int32_t first = i < n ? 0 : i - n + 1;
        Accumulator cross;
        for (int32_t j = first; j < i - j; j++)
            cross.Add(a[j], a[i - j]);
        cross.Double();
        acc.Add(cross);
        if (i % 2 == 0 && i / 2 < n)
            acc.Add(a[i / 2], a[i / 2]);
        ReduceColumn(&acc, u, mod, i, out);
    }
    SubtractIfNotBelow(out, acc.Low(), mod);
}
