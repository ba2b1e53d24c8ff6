#ifndef CRYPTO_DSA_H
#define CRYPTO_DSA_H

// DSA verification (FIPS 186) and the signed LATEST pointer.

#include <stdint.h>

#include "crypto/bignum.h"

// The key record; the caller owns it and its numbers. Verification reads p,
// q, g, y and never x. p is odd and at most 127 words (longer moduli stop the
// program in the fast multiplication); q is at most 160 bits for a LATEST
// file, whose r and s have 20 bytes each.
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
// zero or not below q gives 0. m is used as it stands, not reduced mod q
// first. The values of m, r, s and the key's numbers are unchanged (p and q
// are shifted in place and restored inside bigMod). A zero p is fatal.
int32_t VerifySignature(BigNum *m, const DsaSignature *sig, const DsaKey *key);

// The LATEST file: m, r, s, 20 bytes each, least significant byte first.
enum { LATEST_FIELD_SIZE = 20, LATEST_FILE_SIZE = 3 * LATEST_FIELD_SIZE };

extern const char kLatestWrongSize[];     // "signature file is the wrong size"
extern const char kLatestBadSignature[];  // "signature does not match public key"

// Checks the size bytes of a LATEST file against key. On success returns 0
// and writes m as five words, least significant first (out[i] is bytes
// 4i .. 4i+3, least significant byte first). On failure returns -1, sets
// *error to kLatestWrongSize (size != LATEST_FILE_SIZE) or
// kLatestBadSignature, and leaves out untouched. error MAY be null.
int32_t LatestVerify(const unsigned char *data, uint32_t size, const DsaKey *key, uint32_t out[5],
                     const char **error);

#endif
