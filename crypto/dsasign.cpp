#include "crypto/dsasign.h"

#include "crypto/modexp.h"

namespace {

bool IsZero(const BigNum *n) {
    return bigBitLength(n) == 0;
}

bool IsOne(const BigNum *n) {
    return bigBitLength(n) == 1;
}

bool IsOdd(const BigNum *n) {
    return (n->words[0] & 1) != 0;
}

// A prime of exactly `bits` bits. Returns 0, or -1 when the source failed.
int32_t RandomPrime(int32_t bits, const RandomSource *random, BigNum *q) {
    for (;;) {
        if (bigRandomBits(bits, random, q) < 0)
            return -1;
        q->words[0] |= 1;
        if (!bigSurvivesTrialDivision(q))
            continue;
        int32_t prime = bigIsProbablePrime(q, DSA_PRIME_ROUNDS, random);
        if (prime != 0)
            return prime > 0 ? 0 : -1;
    }
}

// A prime p of exactly `bits` bits with p = 1 mod 2q: each candidate is a
// random number of that size moved down to the next value of that form.
int32_t RandomPrimeModulus(int32_t bits, BigNum *q, const RandomSource *random, BigNum *p) {
    BigNum *twoQ = newBig(0);
    BigNum *c = newBig(0);
    BigNum *one = newBig(1);
    bigShiftLeft(q, 1, twoQ);
    int32_t status = 0;
    for (;;) {
        if (bigRandomBits(bits, random, p) < 0) {
            status = -1;
            break;
        }
        bigMod(p, twoQ, c);
        bigsub(p, c, p);
        bigadd(p, one, p);
        if (bigBitLength(p) != bits || !bigSurvivesTrialDivision(p))
            continue;
        int32_t prime = bigIsProbablePrime(p, DSA_PRIME_ROUNDS, random);
        if (prime != 0) {
            status = prime > 0 ? 0 : -1;
            break;
        }
    }
    freeBig(one);
    freeBig(c);
    freeBig(twoQ);
    return status;
}

// g = h^((p-1)/q) mod p for the first h = 2, 3, ... that does not give 1;
// such a g has order q because q is prime.
void Generator(BigNum *p, BigNum *q, BigNum *g) {
    BigNum *one = newBig(1);
    BigNum *pMinus1 = newBig(0);
    BigNum *e = newBig(0);
    BigNum *rest = newBig(0);
    BigNum *h = newBig(1);
    bigsub(p, one, pMinus1);
    bigDivide(pMinus1, q, e, rest);
    do {
        bigadd(h, one, h);
        bigExpMod(h, e, p, g);
    } while (IsOne(g));
    freeBig(h);
    freeBig(rest);
    freeBig(e);
    freeBig(pMinus1);
    freeBig(one);
}

}  // namespace

int32_t DsaGenerateKey(int32_t pBits, int32_t qBits, const RandomSource *random, DsaKey *key) {
    if (RandomPrime(qBits, random, key->q) < 0 ||
        RandomPrimeModulus(pBits, key->q, random, key->p) < 0 ||
        bigRandomBelow(key->q, random, key->x) < 0)
        return -1;
    Generator(key->p, key->q, key->g);
    bigExpMod(key->g, key->x, key->p, key->y);
    return 0;
}

const char *DsaCheckKey(const DsaKey *key) {
    BigNum *one = newBig(1);
    BigNum *t = newBig(0);
    BigNum *u = newBig(0);
    const char *problem = nullptr;
    if (!IsOdd(key->p) || !IsOdd(key->q) || IsOne(key->q))
        problem = "p or q is not an odd number above 1";
    if (problem == nullptr) {
        bigsub(key->p, one, t);
        bigMod(t, key->q, u);
        if (!IsZero(u))
            problem = "q does not divide p - 1";
    }
    if (problem == nullptr && (bigBitLength(key->g) < 2 || bigCompare(key->g, key->p) >= 0))
        problem = "g is not between 1 and p";
    if (problem == nullptr) {
        bigExpMod(key->g, key->q, key->p, t);
        if (!IsOne(t))
            problem = "g does not have order q";
    }
    if (problem == nullptr && (IsZero(key->x) || bigCompare(key->x, key->q) >= 0))
        problem = "x is not between 0 and q";
    if (problem == nullptr) {
        bigExpMod(key->g, key->x, key->p, t);
        if (bigCompare(t, key->y) != 0)
            problem = "y is not g^x mod p";
    }
    freeBig(u);
    freeBig(t);
    freeBig(one);
    return problem;
}

int32_t DsaSign(BigNum *m, BigNum *k, const DsaKey *key, DsaSignature *sig) {
    BigNum *r = newBig(0);
    BigNum *s = newBig(0);
    BigNum *t = newBig(0);
    BigNum *u = newBig(0);
    bigExpMod(key->g, k, key->p, t);
    bigMod(t, key->q, r);
    // s = k^-1 * (m + x * r) mod q, every operand non-negative.
    bigMultiply(key->x, r, t);
    bigadd(t, m, t);
    bigMod(t, key->q, u);
    bigInverse(k, key->q, s);
    bigMultiply(s, u, t);
    bigMod(t, key->q, s);
    int32_t status = -1;
    if (!IsZero(r) && !IsZero(s)) {
        bigCopy(r, sig->r);
        bigCopy(s, sig->s);
        status = 0;
    }
    freeBig(u);
    freeBig(t);
    freeBig(s);
    freeBig(r);
    return status;
}
