// Modular inverse and exponentiation: the edge cases, expected values from Python integers and,
// in the native build, random operands checked against GMP.

#include "crypto/modexp.h"

#include "crypto/montmul.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>

#include "tests/crypto/bigtest.h"

namespace {

struct ContextDeleter {
    void operator()(MontContext *ctx) const { freeMontContext(ctx); }
};
using Context = std::unique_ptr<MontContext, ContextDeleter>;

std::string DoubleExp(const std::string &g, const std::string &y, const std::string &e1,
                      const std::string &e2, const std::string &m) {
    Big bg = MakeBig(g), by = MakeBig(y), be1 = MakeBig(e1), be2 = MakeBig(e2);
    Big bm = MakeBig(m), out(newBig(0));
    bigDoubleExpMod(bg.get(), by.get(), be1.get(), be2.get(), bm.get(), out.get());
    EXPECT_TRUE(BigIs(bg.get(), g));
    EXPECT_TRUE(BigIs(by.get(), y));
    EXPECT_TRUE(BigIs(be1.get(), e1));
    EXPECT_TRUE(BigIs(be2.get(), e2));
    EXPECT_TRUE(BigIs(bm.get(), m));
    return BigHex(out.get());
}

}  // namespace

TEST(Modexp, InverseEdgeCases) {
    struct Case {
        const char *a, *m, *inverse;
    } cases[] = {
        {"3", "7", "5"},
        {"1", "fffffffffffffffffffffffffffffffffffffff1", "1"},
        {"0", "f4003ab4c2e7f8a1e7b0b3d9c0d3cbe5f5c9e70b", "0"},
        {"2", "3", "2"},
        {"fffffffe", "ffffffff", "fffffffe"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), m = MakeBig(c.m), r(newBig(0));
        bigInverse(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.inverse)) << c.a << "^-1 mod " << c.m;
        EXPECT_TRUE(BigIs(a.get(), c.a));
        EXPECT_TRUE(BigIs(m.get(), c.m));
    }
}

TEST(Modexp, NegModEdgeCases) {
    struct Case {
        const char *a, *m, *c;
    } cases[] = {
        {"-2", "7", "5"}, {"2", "7", "5"}, {"0", "7", "7"},
        {"7", "7", "0"},  {"9", "7", "5"}, {"-9", "7", "5"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), m = MakeBig(c.m), r(newBig(0));
        bigNegMod(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.c)) << "-" << c.a << " mod " << c.m;
        bigNegMod(a.get(), m.get(), a.get());
        EXPECT_TRUE(BigIs(a.get(), c.c)) << "in place";
    }
}

TEST(Modexp, ContextHoldsRSquaredAndTheNegatedInverse) {
    Big m = MakeBig("fffffffffffffffffffffffffffffffffffffff1");  // 5 words
    Context ctx(montContext(m.get()));
    EXPECT_EQ(m.get(), ctx->modulus);
    EXPECT_EQ(0u, static_cast<uint32_t>(m->words[0] * ctx->n0inv + 1));
    // R = 2^160 = 15 (mod m), so R^2 = 225.
    EXPECT_TRUE(BigIs(ctx->rr, "e1"));
    EXPECT_TRUE(BigIs(m.get(), "fffffffffffffffffffffffffffffffffffffff1"));
}

TEST(Modexp, ReduceOfTheLargestInputIsBelowTheModulus) {
    std::mt19937 rng(TestSeed());
    for (int32_t len : {1, 2, 5, 32, 64, 65, 127}) {
        std::vector<uint32_t> words = ShapedWords(rng, len);
        words[0] |= 1;
        Big m = BigFromWords(words, 1), x(newBig(0)), one = MakeBig("1"), r(newBig(0));
        bigShiftLeft(m.get(), 32 * len, x.get());
        bigsub(x.get(), one.get(), x.get());  // x = m * R - 1
        Context ctx(montContext(m.get()));
        montReduce(x.get(), ctx.get(), r.get());
        EXPECT_LT(bigCompare(r.get(), m.get()), 0) << len << " words";
        EXPECT_EQ(1, r->sign);
    }
}

TEST(Modexp, PowerTableHoldsTheFirstSixteenPowers) {
    Big m = MakeBig("fffffffffffffffffffffffffffffffffffffff1"), b = MakeBig("3");
    Context ctx(montContext(m.get()));
    PowerTable *table = montPowerTable(b.get(), ctx.get());
    ASSERT_EQ(16, table->count);
    uint32_t power = 1;
    for (int i = 0; i < 16; i++) {
        // b^i * R mod m, with R = 15 (mod m).
        Big expected(newBig(power)), fifteen(newBig(15)), t(newBig(0));
        bigMultiply(expected.get(), fifteen.get(), t.get());
        EXPECT_TRUE(BigIs(table->entry[i], BigHex(t.get()))) << "entry " << i;
        power *= 3;
    }
    freePowerTable(table);
}

TEST(Modexp, DoubleExpEdgeCases) {
    const char *m = "c90fdaa22168c234c4c6628b80dc1cd129024e088a67cc74020bbea63b139b22514a0879";
    const char *g = "2", *y = "1234567890abcdef1234567890abcdef";
    const char *e1 = "abcdef0123456789";
    const char *e2 = "fedcba98765432100123456789abcdef0011223344";  // 5 words
    EXPECT_EQ("1", DoubleExp(g, y, "0", "0", m));
    // e2 = 0: g^e1 mod m (value from Python's pow).
    std::string g_e1 = DoubleExp(g, y, e1, "0", m);
    EXPECT_EQ("c36f7e27ec4bdb4236bd2b64778b9cc9b369053b0e065ebb685b45e40cc54fec46c63530", g_e1);
    EXPECT_EQ(g_e1, DoubleExp(y, g, "0", e1, m));
    // g = y: g^(e1 + e2).
    EXPECT_EQ(g_e1, DoubleExp(g, g, "abcdef0123456780", "9", m));
    // A 1-word e1 and a 5-word e2 against two separate exponentiations.
    Big a = MakeBig(DoubleExp(g, y, "9", "0", m)), b = MakeBig(DoubleExp(g, y, "0", e2, m));
    Big bm = MakeBig(m), p(newBig(0)), r(newBig(0));
    bigMultiply(a.get(), b.get(), p.get());
    bigMod(p.get(), bm.get(), r.get());
    EXPECT_EQ(BigHex(r.get()), DoubleExp(g, y, "9", e2, m));
    EXPECT_EQ(BigHex(r.get()), DoubleExp(y, g, e2, "9", m));
}

// --- the limb arithmetic against the slow path ------------------------------

namespace {

uint32_t NibbleOf(const BigNum *e, int32_t j) {
    return j / 8 < e->length ? (e->words[j / 8] >> (4 * (j % 8))) & 15 : 0;
}

// g^e1 * y^e2 mod m one Montgomery product at a time through bigMultiply and
// montReduce, with the same 4-bit windows: the slow path.
std::string SlowDoubleExp(const BigNum *g, const BigNum *y, const BigNum *e1, const BigNum *e2,
                          BigNum *m) {
    Context ctx(montContext(m));
    PowerTable *tg = montPowerTable(g, ctx.get()), *ty = montPowerTable(y, ctx.get());
    Big out(newBig(0)), prod(newBig(0));
    bigCopy(tg->entry[0], out.get());
    auto multiply = [&](const BigNum *factor) {
        bigMultiply(out.get(), factor, prod.get());
        montReduce(prod.get(), ctx.get(), out.get());
    };
    // Leading zero nibbles square the Montgomery one, which stays one.
    int32_t length = e1->length > e2->length ? e1->length : e2->length;
    for (int32_t j = 8 * length - 1; j >= 0; j--) {
        if (uint32_t k1 = NibbleOf(e1, j))
            multiply(tg->entry[k1]);
        if (uint32_t k2 = NibbleOf(e2, j))
            multiply(ty->entry[k2]);
        for (int32_t k = 0; j > 0 && k < 4; k++)
            multiply(out.get());
    }
    bigCopy(out.get(), prod.get());
    montReduce(prod.get(), ctx.get(), out.get());
    freePowerTable(tg);
    freePowerTable(ty);
    return BigHex(out.get());
}

}  // namespace

// Moduli of every length class (multiples of four words take the vector
// path where there is one), in the shapes that stress carries, with the
// largest operands (m - 1, exponents of all ones) among the random ones.
TEST(Modexp, LimbPathsEqualTheSlowPath) {
    std::mt19937 rng(TestSeed());
    printf("vector path %s\n", montLimbVector(1) ? "in use" : "absent");
    for (int32_t len : {1, 2, 3, 4, 5, 8, 12, 31, 32, 33, 63, 64, 65, 96, 124, 127}) {
        for (int round = 0; round < 3; round++) {
            std::vector<uint32_t> words = ShapedWords(rng, len);
            words[0] |= 1;
            if (len == 1 && words[0] == 1)
                words[0] = 3;
            Big m = BigFromWords(words, 1), one = MakeBig("1");
            Big g(newBig(0)), y(newBig(0));
            if (round == 0) {
                bigsub(m.get(), one.get(), g.get());
                bigCopy(g.get(), y.get());
            } else {
                g = BigFromWords(ShapedWords(rng, len), 1);
                y = BigFromWords(ShapedWords(rng, len), 1);
                bigMod(g.get(), m.get(), g.get());
                bigMod(y.get(), m.get(), y.get());
            }
            Big e1 = BigFromWords(std::vector<uint32_t>(5, 0xFFFFFFFF), 1);
            Big e2 = BigFromWords(ShapedWords(rng, 1 + rng() % 6), 1);
            std::string slow = SlowDoubleExp(g.get(), y.get(), e1.get(), e2.get(), m.get());
            for (int32_t vector : {1, 0}) {
                montLimbVector(vector);
                Big out(newBig(0));
                bigDoubleExpMod(g.get(), y.get(), e1.get(), e2.get(), m.get(), out.get());
                EXPECT_TRUE(BigIs(out.get(), slow))
                    << len << " words, round " << round << (vector ? ", vector" : ", portable");
            }
            montLimbVector(1);
        }
    }
}

// --- expected values from Python integers ---------------------------------

TEST(ModexpVectors, Inverse) {
    for (const VectorCase &c : Vectors("inv")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), m = MakeBig(c.args[1]), r(newBig(0));
        bigInverse(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.results[0]));
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        EXPECT_TRUE(BigIs(m.get(), c.args[1]));
        if (HasFailure())
            return;
    }
}

TEST(ModexpVectors, NegMod) {
    for (const VectorCase &c : Vectors("negmod")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), m = MakeBig(c.args[1]), r(newBig(0));
        bigNegMod(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.results[0]));
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        EXPECT_TRUE(BigIs(m.get(), c.args[1]));
        bigNegMod(a.get(), m.get(), a.get());
        EXPECT_TRUE(BigIs(a.get(), c.results[0])) << "in place";
        if (HasFailure())
            return;
    }
}

TEST(ModexpVectors, MontReduce) {
    for (const VectorCase &c : Vectors("mred")) {
        SCOPED_TRACE(VectorWhere(c));
        Big x = MakeBig(c.args[0]), m = MakeBig(c.args[1]), r(newBig(0));
        Context ctx(montContext(m.get()));
        montReduce(x.get(), ctx.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.results[0]));
        EXPECT_TRUE(BigIs(m.get(), c.args[1]));
        if (HasFailure())
            return;
    }
}

TEST(ModexpVectors, DoubleExp) {
    for (const VectorCase &c : Vectors("dexp")) {
        SCOPED_TRACE(VectorWhere(c));
        EXPECT_EQ(c.results[0], DoubleExp(c.args[0], c.args[1], c.args[2], c.args[3], c.args[4]));
        if (HasFailure())
            return;
    }
}

namespace {

void DoubleExpWithZeroModulus() {
    Big m = MakeBig("0"), g = MakeBig("2"), e = MakeBig("3"), out(newBig(0));
    bigDoubleExpMod(g.get(), g.get(), e.get(), e.get(), m.get(), out.get());
}

}  // namespace

TEST(ModexpFatal, ZeroModulusStopsInBigMod) {
    EXPECT_EXIT(DoubleExpWithZeroModulus(), ::testing::ExitedWithCode(1),
                FatalReport("bigMod: modulus is zero.\n"));
}

// --- random operands against GMP (native build) ----------------------------

#ifdef CRYPTO_TEST_GMP

TEST(ModexpGmp, RandomOperandsAgree) {
    uint32_t seed = TestSeed();
    std::mt19937 rng(seed + 1);
    for (int round = 0; round < 150; round++) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        std::vector<uint32_t> words = ShapedWords(rng, ShapedLength(rng, 127));
        words[0] |= 1;
        if (words.size() == 1 && words[0] == 1)
            words[0] = 3;
        Big m = BigFromWords(words, 1);
        Mpz zm, zg, zy, ze1, ze2, za, zb, zr;
        ToMpz(m.get(), &zm);
        Big g = BigFromWords(ShapedWords(rng, m->length), 1);
        Big y = BigFromWords(ShapedWords(rng, m->length), 1);
        bigMod(g.get(), m.get(), g.get());
        bigMod(y.get(), m.get(), y.get());
        Big e1 = BigFromWords(ShapedWords(rng, 1 + rng() % 6), 1);
        Big e2 = BigFromWords(ShapedWords(rng, 1 + rng() % 6), 1);
        ToMpz(g.get(), &zg);
        ToMpz(y.get(), &zy);
        ToMpz(e1.get(), &ze1);
        ToMpz(e2.get(), &ze2);
        Big out(newBig(0));
        bigDoubleExpMod(g.get(), y.get(), e1.get(), e2.get(), m.get(), out.get());
        mpz_powm(za.v, zg.v, ze1.v, zm.v);
        mpz_powm(zb.v, zy.v, ze2.v, zm.v);
        mpz_mul(zr.v, za.v, zb.v);
        mpz_mod(zr.v, zr.v, zm.v);
        EXPECT_TRUE(BigIs(out.get(), MpzHex(zr))) << "g^e1 * y^e2 mod m";

        if (mpz_invert(zr.v, zg.v, zm.v) != 0) {
            bigInverse(g.get(), m.get(), out.get());
            EXPECT_TRUE(BigIs(out.get(), MpzHex(zr))) << "g^-1 mod m";
        }
        if (HasFailure())
            return;
    }
}

#endif
