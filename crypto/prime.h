#ifndef CRYPTO_PRIME_H
#define CRYPTO_PRIME_H

// Random numbers and probable primes for key generation, on the numbers of
// crypto/bignum.h. The bytes come from a source the caller supplies (the
// system's random generator in the tools, a replayable one in tests), so
// this module stays free of platform headers. Not re-entrant (the
// arithmetic below is not).

#include <stdint.h>

#include "crypto/bignum.h"

// fill writes len random bytes into buf and returns 0, or returns -1 when
// the source failed (buf then holds no meaning).
struct RandomSource {
    int32_t (*fill)(void *context, unsigned char *buf, uint32_t len);
    void *context;
};

// n = a uniformly random number of exactly `bits` bits (the top bit set),
// bits >= 2. Returns 0, or -1 when the source failed (n then holds no
// meaning).
int32_t bigRandomBits(int32_t bits, const RandomSource *random, BigNum *n);

// n = a uniformly random number in 1 .. limit-1, limit >= 2. Returns 0, or
// -1 when the source failed. n MUST be distinct from limit.
int32_t bigRandomBelow(BigNum *limit, const RandomSource *random, BigNum *n);

// r = |a| mod w for a word w > 0.
uint32_t bigModWord(const BigNum *a, uint32_t w);

// Whether |n| has no prime factor below 2000 other than itself.
bool bigSurvivesTrialDivision(const BigNum *n);

// Miller-Rabin with `rounds` random bases: 1 when |n| is a probable prime
// (a composite passes with probability below 4^-rounds), 0 when it is
// composite, -1 when the source failed. n is not changed.
int32_t bigIsProbablePrime(BigNum *n, int32_t rounds, const RandomSource *random);

// out = b^|e| mod m, for odd m > 1 and 0 <= b < m. out MUST be distinct from
// every input.
void bigExpMod(const BigNum *b, const BigNum *e, BigNum *m, BigNum *out);

#endif
