#ifndef CRYPTO_MODEXP_H
#define CRYPTO_MODEXP_H

// Modular inverse and Montgomery double exponentiation, on
// the numbers of crypto/bignum.h. Not re-entrant (the arithmetic below is
// not). A zero modulus is fatal through bigMod's "bigMod: modulus is zero.".

#include <stdint.h>

#include "crypto/bignum.h"

// Montgomery context for an odd modulus m of n words, R = 2^(32 * n).
struct MontContext {
    BigNum *modulus;  // borrowed, not copied
    BigNum *rr;       // R^2 mod m, owned
    uint32_t n0inv;   // -m^-1 mod 2^32
};

// b^0 .. b^15 in Montgomery form (b^i * R mod m); entry 0 is R mod m.
enum { MONT_TABLE_SIZE = 16 };
struct PowerTable {
    int32_t count;  // always MONT_TABLE_SIZE
    BigNum *entry[MONT_TABLE_SIZE];
};

// r = a^-1 mod m by the extended Euclidean algorithm, for a and m >= 0. No
// coprimality check: for an a without an inverse r is not one; a = 0 gives 0.
// r MAY be a; r MUST be distinct from m.
void bigInverse(BigNum *a, BigNum *m, BigNum *r);

// c = (-|a|) mod m in 0 .. m-1, except that a = 0 gives m. For a negative a
// with |a| < m this is a + m. c MAY be a; c MUST be distinct from m.
void bigNegMod(BigNum *a, BigNum *m, BigNum *c);

// Returns a new context for odd m (normalised, m > 1); release it with
// freeMontContext, which leaves m alone. m is read (and shifted in place and
// restored by bigMod) during the call.
MontContext *montContext(BigNum *m);
void freeMontContext(MontContext *ctx);

// r = x * R^-1 mod m, in 0 .. m-1 with sign +1, for 0 <= x < m * R. x is left
// holding the intermediate sum. r MUST be distinct from x and the modulus.
void montReduce(BigNum *x, const MontContext *ctx, BigNum *r);

// Returns a new table for 0 <= b < m; release it with freePowerTable.
PowerTable *montPowerTable(const BigNum *b, const MontContext *ctx);
void freePowerTable(PowerTable *table);

// out = g^|e1| * y^|e2| mod m for odd m > 1 and 0 <= g, y < m, with 4-bit
// windows over both exponents and one shared squaring chain. Both exponents
// zero give 1. out MUST be distinct from every input; the inputs keep their
// values (m is shifted in place and restored while the context is built).
// The products run on limb arrays (crypto/montmul.h), not through
// bigMultiply and montReduce; the result is the same. Fatal, like the fast
// multiplication, for m of BIG_TMP_WORDS words or more.
void bigDoubleExpMod(const BigNum *g, const BigNum *y, const BigNum *e1, const BigNum *e2,
                     BigNum *m, BigNum *out);

#endif
