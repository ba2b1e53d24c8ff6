#ifndef CRYPTO_MONTMUL_H
#define CRYPTO_MONTMUL_H

// Montgomery multiplication on fixed-length limb arrays, least significant
// limb first: the exponentiation's inner loop. Product and reduction are
// interleaved column by column (product scanning), so the running column sum
// stays in three limbs (registers) and no double-length product is ever
// stored; squares add each cross product once and double it. On an x86 CPU
// with AVX2 (found at run time), moduli of a multiple of four 32-bit words
// take a vector path instead that adds a product row and a reduction row
// four 32-bit columns at a time.
//
// A limb is 64 bits where the compiler offers a 128-bit product and the
// default kernel is built, else 32 bits (always under BIG_KERNEL16, whose
// products come from 16x16-bit halves).

#include <stdint.h>

#if !defined(BIG_KERNEL16) && defined(__SIZEOF_INT128__)
typedef uint64_t MontLimb;
#else
typedef uint32_t MontLimb;
#endif

// The largest modulus, in limbs: the 128 32-bit words of the big-number
// arithmetic's fixed scratch array.
enum { MONT_LIMB_BITS = 8 * sizeof(MontLimb), MONT_MAX_LIMBS = 128 * 32 / MONT_LIMB_BITS };

// An odd modulus m > 1 of n limbs (its top limb may be zero), with
// R = 2^(MONT_LIMB_BITS * n).
struct MontLimbs {
    const MontLimb *m;
    int32_t n;       // 1 .. MONT_MAX_LIMBS
    MontLimb n0inv;  // -m^-1 mod 2^MONT_LIMB_BITS
};

// Allows (non-zero) or forbids the AVX2 path that x86 CPUs that have it take
// for moduli of a multiple of four 32-bit words; allowed from the start. Returns 1 when the AVX2
// path is now in use, else 0. Meant for tests, which compare the two paths.
int32_t montLimbVector(int32_t allow);

// out = a * b * R^-1 mod m, in 0 .. m-1, for a < R and b < m. out MAY be a
// or b.
void montLimbMultiply(const MontLimb *a, const MontLimb *b, const MontLimbs *mod, MontLimb *out);

// out = a * a * R^-1 mod m, in 0 .. m-1, for a < m. out MAY be a.
void montLimbSquare(const MontLimb *a, const MontLimbs *mod, MontLimb *out);

#endif
