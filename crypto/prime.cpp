#include "crypto/prime.h"

#include "crypto/modexp.h"

namespace {

enum { kSmallPrimeLimit = 2000, kMaxSmallPrimes = 320 };

// The primes below kSmallPrimeLimit, by the sieve of Eratosthenes.
struct SmallPrimes {
    uint16_t value[kMaxSmallPrimes];
    int32_t count;
    constexpr SmallPrimes() : value(), count(0) {
        bool composite[kSmallPrimeLimit] = {};
        for (int32_t i = 2; i < kSmallPrimeLimit; i++) {
            if (composite[i])
                continue;
            value[count++] = static_cast<uint16_t>(i);
            for (int32_t j = i * i; j < kSmallPrimeLimit; j += i)
                composite[j] = true;
        }
    }
};
constexpr SmallPrimes kSmallPrimes;

bool IsWord(const BigNum *n, uint32_t w) {
    return bigBitLength(n) <= 32 && n->words[0] == w;
}

// n = `bits` random bits read as a number, the top one forced to 1 when
// setTop is true. Returns 0, or -1 when the source failed.
int32_t RandomNumber(int32_t bits, bool setTop, const RandomSource *random, BigNum *n) {
    uint32_t bytes = static_cast<uint32_t>((bits + 7) / 8);
    unsigned char *buf = static_cast<unsigned char *>(bigAllocate(bytes));
    int32_t status = random->fill(random->context, buf, bytes);
    if (status == 0) {
        int32_t topBits = bits - 8 * static_cast<int32_t>(bytes - 1);  // 1 .. 8
        buf[bytes - 1] &= static_cast<unsigned char>((1u << topBits) - 1);
        if (setTop)
            buf[bytes - 1] |= static_cast<unsigned char>(1u << (topBits - 1));
        BufToBig(buf, bytes, n);
        n->sign = 1;
    }
    bigRelease(buf, bytes);
    return status;
}

// One Miller-Rabin round for odd n > 4 with n - 1 = d * 2^s: true when the
// base a is no witness of n being composite. x is scratch.
bool PassesRound(const BigNum *a, BigNum *n, BigNum *nMinus1, const BigNum *d, int32_t s, BigNum *x,
                 BigNum *t) {
    bigExpMod(a, d, n, x);
    if (IsWord(x, 1) || bigCompare(x, nMinus1) == 0)
        return true;
    // x = a^(d * 2^i) mod n; reaching n - 1 before 1 is what a prime allows.
    for (int32_t i = 1; i < s; i++) {
        bigMultiply(x, x, t);
        bigMod(t, n, x);
        if (bigCompare(x, nMinus1) == 0)
            return true;
        if (IsWord(x, 1))
            return false;
    }
    return false;
}

}  // namespace

int32_t bigRandomBits(int32_t bits, const RandomSource *random, BigNum *n) {
    return RandomNumber(bits, true, random, n);
}

int32_t bigRandomBelow(BigNum *limit, const RandomSource *random, BigNum *n) {
    int32_t bits = bigBitLength(limit);
    // Rejection keeps the draw uniform; each try succeeds with odds above 1/2.
    do {
        if (RandomNumber(bits, false, random, n) < 0)
            return -1;
    } while (IsWord(n, 0) || bigCompare(n, limit) >= 0);
    return 0;
}

uint32_t bigModWord(const BigNum *a, uint32_t w) {
    uint64_t r = 0;
    for (int32_t i = a->length - 1; i >= 0; i--)
        r = ((r << 32) | a->words[i]) % w;
    return static_cast<uint32_t>(r);
}

bool bigSurvivesTrialDivision(const BigNum *n) {
    for (int32_t i = 0; i < kSmallPrimes.count; i++) {
        uint32_t p = kSmallPrimes.value[i];
        if (bigModWord(n, p) == 0)
            return IsWord(n, p);
    }
    return true;
}

int32_t bigIsProbablePrime(BigNum *n, int32_t rounds, const RandomSource *random) {
    if (bigBitLength(n) <= 2)
        return IsWord(n, 2) || IsWord(n, 3) ? 1 : 0;
    if ((n->words[0] & 1) == 0)
        return 0;
    BigNum *one = newBig(1);
    BigNum *nMinus1 = newBig(0);
    BigNum *nMinus2 = newBig(0);
    BigNum *d = newBig(0);
    BigNum *a = newBig(0);
    BigNum *x = newBig(0);
    BigNum *t = newBig(0);
    BigNum *two = newBig(2);
    bigsub(n, one, nMinus1);
    bigsub(n, two, nMinus2);
    int32_t s = 0;
    while (((nMinus1->words[s / 32] >> (s % 32)) & 1) == 0)
        s++;
    bigShiftRight(nMinus1, s, d);
    int32_t result = 1;
    for (int32_t round = 0; round < rounds && result == 1; round++) {
        // A base in 2 .. n-2: a draw in 1 .. n-3, plus one.
        if (bigRandomBelow(nMinus2, random, a) < 0) {
            result = -1;
            break;
        }
        bigadd(a, one, a);
        if (!PassesRound(a, n, nMinus1, d, s, x, t))
            result = 0;
    }
    freeBig(two);
    freeBig(t);
    freeBig(x);
    freeBig(a);
    freeBig(d);
    freeBig(nMinus2);
    freeBig(nMinus1);
    freeBig(one);
    return result;
}

void bigExpMod(const BigNum *b, const BigNum *e, BigNum *m, BigNum *out) {
    BigNum *zero = newBig(0);
    bigDoubleExpMod(b, b, e, zero, m, out);
    freeBig(zero);
}
