#ifndef TESTS_CRYPTO_BIGTEST_H
#define TESTS_CRYPTO_BIGTEST_H

// Helpers shared by the crypto tests: numbers from and to signed hexadecimal
// text, a checker of the BigNum invariants, and the table of expected results
// that gen_vectors.py computed with Python integers.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/dsa.h"

struct BigDeleter {
    void operator()(BigNum *n) const { freeBig(n); }
};
using Big = std::unique_ptr<BigNum, BigDeleter>;

// "1f", "-1f", "-0" (a zero with sign -1). Built with newBig and BufToBig.
Big MakeBig(const std::string &hex);

// A DSA key whose numbers (hexadecimal, as MakeBig reads them) it owns;
// record points at them.
struct OwnedKey {
    Big p, q, g, y, x;
    DsaKey record;
    OwnedKey(const std::string &hp, const std::string &hq, const std::string &hg,
             const std::string &hy, const std::string &hx)
        : p(MakeBig(hp)),
          q(MakeBig(hq)),
          g(MakeBig(hg)),
          y(MakeBig(hy)),
          x(MakeBig(hx)),
          record{p.get(), q.get(), g.get(), y.get(), x.get()} {}
};
// The value as MakeBig reads it; "-0" for a zero with sign -1.
std::string BigHex(const BigNum *n);
// n is normalised, length <= capacity, sign is +1 or -1, and n has the value
// and sign that hex gives (a zero's sign is compared as well).
::testing::AssertionResult BigIs(const BigNum *n, const std::string &hex);
// As BigIs, but only the magnitude of n is compared.
::testing::AssertionResult BigMagnitudeIs(const BigNum *n, const std::string &hex);

uint32_t HexWord(const std::string &hex);

// The seed of the tests' own random numbers: CRYPTO_SEED from the
// environment, else the time; printed once so that a failure can be replayed.
uint32_t TestSeed();
// n words in the shapes that break long division and carry handling (all
// ones, top word just below or at 2^31, sparse, ...); the top word is
// non-zero.
std::vector<uint32_t> ShapedWords(std::mt19937 &rng, int32_t n);
// A length in 1 .. max, biased towards the cut-overs near 64 and 128 words.
int32_t ShapedLength(std::mt19937 &rng, int32_t max);
Big BigFromWords(const std::vector<uint32_t> &words, int32_t sign);

struct VectorCase {
    int line;
    std::vector<std::string> args;
    std::vector<std::string> results;
};
// The cases of one operation ("add", "div", ...) from the vector file, read
// once. The file is CRYPTO_VECTORS's (environment) or the one the build made.
const std::vector<VectorCase> &Vectors(const std::string &op);
// "vectors <path> line <n> (python seed <s>)", for failure messages.
std::string VectorWhere(const VectorCase &c);

// Death test matcher for the exact fatal report of bigError.
::testing::Matcher<const std::string &> FatalReport(const std::string &text);

#ifdef CRYPTO_TEST_GMP
#include "tests/crypto/bigmpz.h"
#endif

#endif
