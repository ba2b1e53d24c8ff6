#ifndef CRYPTO_DSASIGN_H
#define CRYPTO_DSASIGN_H

// The publisher's side of DSA (FIPS 186): key generation, a check of a key
// read from a file, and signing with a nonce the caller chooses. The
// installer only verifies (crypto/dsa.h) and links none of this.

#include <stdint.h>

#include "crypto/dsa.h"
#include "crypto/prime.h"

// Miller-Rabin rounds for the generated primes: a composite passes with
// probability below 2^-80 whatever it is, far less for random candidates.
enum { DSA_PRIME_ROUNDS = 40 };

// Makes a key with q a prime of qBits bits, p a prime of pBits bits with
// q dividing p - 1, g of order q modulo p, x uniform in 1 .. q-1 and
// y = g^x mod p, every random choice from `random`. 2 <= qBits and
// qBits + 2 <= pBits. The key's five numbers are the caller's (created with
// newBig); returns 0 with all five set, or -1 when the source failed (their
// values then hold no meaning).
int32_t DsaGenerateKey(int32_t pBits, int32_t qBits, const RandomSource *random, DsaKey *key);

// Checks that the key's numbers fit together: p odd, q odd and above 1,
// q divides p - 1, 1 < g < p with g^q = 1 mod p, 0 < x < q and y = g^x mod p.
// Returns null when they do, else a short text naming the first check that
// failed. Primality of p and q is not tested. x MUST be set.
const char *DsaCheckKey(const DsaKey *key);

// Signs m with the nonce k (0 < k < q): r = (g^k mod p) mod q and
// s = k^-1 * (m + x * r) mod q, m used as it stands. Returns 0 and sets
// sig's r and s, or -1 when r or s comes out zero (sig untouched); the
// caller then signs again with another nonce. m and the key are unchanged.
int32_t DsaSign(BigNum *m, BigNum *k, const DsaKey *key, DsaSignature *sig);

#endif
