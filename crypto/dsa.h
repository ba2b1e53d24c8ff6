#ifndef CRYPTO_DSA_H
#define CRYPTO_DSA_H

// DSA verification (FIPS 186).

#include <stdint.h>

#include "crypto/bignum.h"

// The key record; the caller owns it and its numbers. Verification reads p,
// q, g, y and never x. p is odd and at most 127 words (longer moduli stop the
// program in the fast multiplication).
struct DsaKey {
    BigNum *p;  // prime modulus
    BigNum *q;  // prime order of the subgroup
    BigNum *g;  // generator of the subgroup of order q
    BigNum *y;  // public value g^x mod p
    BigNum *x;  // private value (may be null)
};

struct DsaSignature {
    BigNum *r;
    BigNum *s;
};

// Returns 1 when (r, s) is a DSA signature of m under key, else 0. r or s
// negative, zero or not below q gives 0. m is used as it stands, not reduced
// mod q first. The values of m, r, s and the key's numbers are unchanged (p
// and q are shifted in place and restored inside bigMod). A zero p is fatal.
int32_t VerifySignature(BigNum *m, const DsaSignature *sig, const DsaKey *key);

#endif
