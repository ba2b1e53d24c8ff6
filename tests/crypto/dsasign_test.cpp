// The publisher's side of DSA: BigToBuf and bit lengths, Miller-Rabin,
// key generation with a replayable random source, the key check, and
// signing against the published vectors of RFC 6979 (A.2.1, DSA-1024 with
// the nonces it lists).

#include "crypto/dsasign.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/crypto/bigtest.h"

namespace {

// RFC 6979, A.2.1.
const char kRfcP[] =
    "86f5ca03dcfeb225063ff830a0c769b9dd9d6153ad91d7ce27f787c43278b447"
    "e6533b86b18bed6e8a48b784a14c252c5be0dbf60b86d6385bd2f12fb763ed88"
    "73abfd3f5ba2e0a8c0a59082eac056935e529daf7c610467899c77adedfc846c"
    "881870b7b19b2b58f9be0521a17002e3bdd6b86685ee90b3d9a1b02b782b1779";
const char kRfcQ[] = "996f967f6c8e388d9e28d01e205fba957a5698b1";
const char kRfcG[] =
    "7b0f92546150b62514bb771e2a0c0ce387f03bda6c56b505209ff25fd3c133d"
    "89bbcd97e904e09114d9a7defdeadfc9078ea544d2e401aeecc40bb9fbbf78fd"
    "87995a10a1c27cb7789b594ba7efb5c4326a9fe59a070e136db77175464adca4"
    "17be5dce2f40d10a46a3a3943f26ab7fd9c0398ff8c76ee0a56826a8a88f1dbd";
const char kRfcX[] = "411602cb19a6ccc34494d79d98ef1e7ed5af25f7";
const char kRfcY[] =
    "5df5e01ded31d0297e274e1691c192fe5868fef9e19a84776454b100cf16f653"
    "92195a38b90523e2542ee61871c0440cb87c322fc4b4d2ec5e1e7ec766e1be8d"
    "4ce935437dc11c3c8fd426338933ebfe739cb3465f4d3668c5e473508253b1e6"
    "82f65cbdc4fae93c2ea212390e54905a86e2223170b44eaa7da5dd9ffcfb7f3b";

OwnedKey RfcKey() {
    return OwnedKey(kRfcP, kRfcQ, kRfcG, kRfcY, kRfcX);
}

// Bytes from a seeded generator; fails once `budget` bytes are used up.
struct TestRandom {
    std::mt19937 rng;
    size_t budget;
    static int32_t Fill(void *context, unsigned char *buf, uint32_t len) {
        TestRandom *self = static_cast<TestRandom *>(context);
        if (len > self->budget)
            return -1;
        self->budget -= len;
        for (uint32_t i = 0; i < len; i++)
            buf[i] = static_cast<unsigned char>(self->rng());
        return 0;
    }
    RandomSource Source() { return RandomSource{Fill, this}; }
};

}  // namespace

TEST(BigToBuf, BytesLeastSignificantFirstPaddedWithZeros) {
    Big n = MakeBig("504030201");
    unsigned char buf[8];
    memset(buf, 0xee, sizeof buf);
    BigToBuf(n.get(), 8, buf);
    const unsigned char expected[8] = {1, 2, 3, 4, 5, 0, 0, 0};
    EXPECT_EQ(0, memcmp(buf, expected, 8));
    Big zero(newBig(0));
    BigToBuf(zero.get(), 1, buf);
    EXPECT_EQ(0, buf[0]);
}

TEST(BigToBufDeathTest, TooSmallABufferIsFatal) {
    Big n = MakeBig("10000000000");
    unsigned char buf[5];
    EXPECT_EXIT(BigToBuf(n.get(), 5, buf), ::testing::ExitedWithCode(1),
                FatalReport("BigToBuf: Buffer is too small.\n"));
}

TEST(BigBitLength, CountsSignificantBitsOfTheMagnitude) {
    const struct {
        const char *hex;
        int32_t bits;
    } cases[] = {{"0", 0}, {"1", 1}, {"-ff", 8}, {"100000000", 33}, {kRfcQ, 160}, {kRfcP, 1024}};
    for (const auto &c : cases)
        EXPECT_EQ(c.bits, bigBitLength(MakeBig(c.hex).get())) << c.hex;
}

TEST(ProbablePrime, KnownPrimesAndComposites) {
    const struct {
        const char *hex;
        int32_t prime;
    } cases[] = {
        {"0", 0},
        {"1", 0},
        {"2", 1},
        {"3", 1},
        {"4", 0},
        {"5", 1},
        {"10001", 1},                             // 65537
        {"231", 0},                               // 561, a Carmichael number
        {"7ff", 0},                               // 2047, a strong pseudoprime to base 2
        {"bfa17dc7", 0},                          // 3215031751, strong to bases 2, 3, 5 and 7
        {"1fffffffffffffff", 1},                  // 2^61 - 1
        {"1ffffffffffffffffffffff", 1},           // 2^89 - 1
        {"7fffffffffffffffffffffffffffffff", 1},  // 2^127 - 1
        {"ffffffffffffffffffffff7ffffffffe0000000000000000000001", 0},  // (2^127-1)(2^89-1)
        {kRfcQ, 1},
        {kRfcP, 1},
    };
    TestRandom random{std::mt19937(TestSeed()), SIZE_MAX};
    RandomSource source = random.Source();
    for (const auto &c : cases)
        EXPECT_EQ(c.prime, bigIsProbablePrime(MakeBig(c.hex).get(), DSA_PRIME_ROUNDS, &source))
            << c.hex;
}

TEST(ProbablePrime, ProductOfTwoLargePrimesIsComposite) {
    Big p = MakeBig(kRfcP), q = MakeBig(kRfcQ), n(newBig(0));
    bigMultiply(p.get(), q.get(), n.get());
    TestRandom random{std::mt19937(TestSeed()), SIZE_MAX};
    RandomSource source = random.Source();
    EXPECT_EQ(0, bigIsProbablePrime(n.get(), 1, &source));
    EXPECT_TRUE(bigSurvivesTrialDivision(n.get()));
}

TEST(DsaSign, ReproducesTheRfc6979Signatures) {
    OwnedKey key = RfcKey();
    const struct {
        const char *message;  // SHA-1 of "sample" and of "test"
        const char *m, *k, *r, *s;
    } cases[] = {
        {"sample", "8151325dcdbae9e0ff95f9f9658432dbedfdb209",
         "7bdb6b0ff756e1bb5d53583ef979082f9ad5bd5b", "2e1a0c2562b2912caaf89186fb0f42001585da55",
         "29efb6b0aff2d7a68eb70ca313022253b9a88df5"},
        {"test", "a94a8fe5ccb19ba61c4c0873d391e987982fbbd3",
         "5c842df4f9e344ee09f056838b42c7a17f4a6433", "42ab2052fd43e123f0607f115052a67dcd9c5c77",
         "183916b0230d45b9931491d4c6b0bd2fb4aaf088"},
    };
    for (const auto &c : cases) {
        Big m = MakeBig(c.m), k = MakeBig(c.k), r(newBig(0)), s(newBig(0));
        DsaSignature sig = {r.get(), s.get()};
        ASSERT_EQ(0, DsaSign(m.get(), k.get(), &key.record, &sig)) << c.message;
        EXPECT_TRUE(BigIs(r.get(), c.r)) << c.message;
        EXPECT_TRUE(BigIs(s.get(), c.s)) << c.message;
        EXPECT_EQ(1, VerifySignature(m.get(), &sig, &key.record)) << c.message;
        EXPECT_TRUE(BigIs(m.get(), c.m));
        EXPECT_TRUE(BigIs(key.x.get(), kRfcX));
    }
}

TEST(DsaCheckKey, NamesTheFirstBrokenRelation) {
    const struct {
        const char *p, *q, *g, *y, *x;
        const char *problem;  // null: consistent
    } cases[] = {
        {kRfcP, kRfcQ, kRfcG, kRfcY, kRfcX, nullptr},
        {"10", kRfcQ, kRfcG, kRfcY, kRfcX, "p or q is not an odd number above 1"},
        {kRfcP, "1", kRfcG, kRfcY, kRfcX, "p or q is not an odd number above 1"},
        {kRfcP, "996f967f6c8e388d9e28d01e205fba957a5698b3", kRfcG, kRfcY, kRfcX,
         "q does not divide p - 1"},
        {kRfcP, kRfcQ, "1", kRfcY, kRfcX, "g is not between 1 and p"},
        {kRfcP, kRfcQ, kRfcP, kRfcY, kRfcX, "g is not between 1 and p"},
        {kRfcP, kRfcQ, "2", kRfcY, kRfcX, "g does not have order q"},
        {kRfcP, kRfcQ, kRfcG, kRfcY, "0", "x is not between 0 and q"},
        {kRfcP, kRfcQ, kRfcG, kRfcY, kRfcQ, "x is not between 0 and q"},
        {kRfcP, kRfcQ, kRfcG, kRfcY, "411602cb19a6ccc34494d79d98ef1e7ed5af25f8",
         "y is not g^x mod p"},
    };
    for (const auto &c : cases) {
        OwnedKey key(c.p, c.q, c.g, c.y, c.x);
        const char *problem = DsaCheckKey(&key.record);
        EXPECT_STREQ(c.problem, problem);
        EXPECT_TRUE(BigIs(key.p.get(), c.p));
        EXPECT_TRUE(BigIs(key.q.get(), c.q));
    }
}

// A smaller p than the packager's 2048 bits keeps the test quick; the sizes
// are parameters of the same code.
TEST(DsaGenerateKey, MakesAConsistentKeyOfTheAskedSizes) {
    TestRandom random{std::mt19937(TestSeed()), SIZE_MAX};
    RandomSource source = random.Source();
    OwnedKey key("0", "0", "0", "0", "0");
    ASSERT_EQ(0, DsaGenerateKey(512, 160, &source, &key.record));
    EXPECT_EQ(512, bigBitLength(key.p.get()));
    EXPECT_EQ(160, bigBitLength(key.q.get()));
    EXPECT_EQ(nullptr, DsaCheckKey(&key.record));
    EXPECT_EQ(1, bigIsProbablePrime(key.p.get(), DSA_PRIME_ROUNDS, &source));
    EXPECT_EQ(1, bigIsProbablePrime(key.q.get(), DSA_PRIME_ROUNDS, &source));
#ifdef CRYPTO_TEST_GMP
    Mpz p, q;
    ToMpz(key.p.get(), &p);
    ToMpz(key.q.get(), &q);
    EXPECT_NE(0, mpz_probab_prime_p(p.v, 40));
    EXPECT_NE(0, mpz_probab_prime_p(q.v, 40));
#endif

    // The same random bytes give the same key.
    TestRandom again{std::mt19937(TestSeed()), SIZE_MAX};
    RandomSource sameSource = again.Source();
    OwnedKey same("0", "0", "0", "0", "0");
    ASSERT_EQ(0, DsaGenerateKey(512, 160, &sameSource, &same.record));
    EXPECT_TRUE(BigIs(same.p.get(), BigHex(key.p.get())));
    EXPECT_TRUE(BigIs(same.y.get(), BigHex(key.y.get())));
}

// The source runs dry before the first byte, while q is sought, and while p
// is sought: even the luckiest 512/160 key takes about 3,460 bytes (q and p
// and 40 Miller-Rabin bases for each, then x), so 3,000 never suffice.
TEST(DsaGenerateKey, FailsWhenTheRandomSourceFails) {
    for (size_t budget : {size_t(0), size_t(100), size_t(3000)}) {
        TestRandom random{std::mt19937(TestSeed()), budget};
        RandomSource source = random.Source();
        OwnedKey key("0", "0", "0", "0", "0");
        EXPECT_EQ(-1, DsaGenerateKey(512, 160, &source, &key.record)) << budget;
    }
}
