#ifndef TOOLS_MKSETUP_NONCE_H
#define TOOLS_MKSETUP_NONCE_H

// Deterministic DSA nonces (RFC 6979, section 3.2) with HMAC-SHA1: the
// nonce is drawn from a generator keyed by the private value x and the
// signed value, so the same key and value always give the same signature
// and no random source can leak the key through a repeated nonce.

#include <stdint.h>

#include "crypto/bignum.h"
#include "tools/mksetup/hmacsha1.h"

struct NonceGenerator {
    unsigned char key[kSha1Bytes];    // K
    unsigned char value[kSha1Bytes];  // V
    BigNum *q;                        // borrowed
    bool drawn;                       // a candidate was handed out already
};

// Starts the generator for a q of at most 160 bits, the private value x
// (0 < x < q) and the signed value m (below 2^160; its 20 bytes, most
// significant first, play the part of the message hash h1). q is borrowed
// until the last NonceNext.
void NonceStart(NonceGenerator *gen, const BigNum *x, BigNum *q, const BigNum *m);

// k = the next candidate nonce, in 1 .. q-1. The first call gives the
// nonce; call again only when that one gave r = 0 or s = 0.
void NonceNext(NonceGenerator *gen, BigNum *k);

// Overwrites K and V.
void NonceWipe(NonceGenerator *gen);

#endif
