// Big numbers: the edge cases, the fast paths against the schoolbook
// ones, expected values from Python integers (gen_vectors.py) and, in the
// native build, random operands checked against GMP.

#include "crypto/bignum.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/crypto/bigtest.h"

namespace {

using BigOp = std::function<void(BigNum *, BigNum *, BigNum *)>;

// Runs op(a, b, r) on fresh numbers and, when allowed, with r being a and
// then b; checks the result and that the operands that are not the result
// kept their values.
void CheckBinary(const VectorCase &c, const BigOp &op, bool magnitude_only, bool may_alias) {
    SCOPED_TRACE(VectorWhere(c));
    auto expect = [&](const BigNum *r) {
        return magnitude_only ? BigMagnitudeIs(r, c.results[0]) : BigIs(r, c.results[0]);
    };
    Big a = MakeBig(c.args[0]), b = MakeBig(c.args[1]), r(newBig(0));
    op(a.get(), b.get(), r.get());
    EXPECT_TRUE(expect(r.get()));
    EXPECT_TRUE(BigIs(a.get(), c.args[0]));
    EXPECT_TRUE(BigIs(b.get(), c.args[1]));
    if (!may_alias)
        return;
    Big a1 = MakeBig(c.args[0]), b1 = MakeBig(c.args[1]);
    op(a1.get(), b1.get(), a1.get());
    EXPECT_TRUE(expect(a1.get())) << "result in a";
    EXPECT_TRUE(BigIs(b1.get(), c.args[1]));
    Big a2 = MakeBig(c.args[0]), b2 = MakeBig(c.args[1]);
    op(a2.get(), b2.get(), b2.get());
    EXPECT_TRUE(expect(b2.get())) << "result in b";
    EXPECT_TRUE(BigIs(a2.get(), c.args[0]));
}

void CheckAll(const char *op_name, const BigOp &op, bool magnitude_only, bool may_alias) {
    for (const VectorCase &c : Vectors(op_name)) {
        CheckBinary(c, op, magnitude_only, may_alias);
        if (::testing::Test::HasFailure())
            return;
    }
}

std::vector<unsigned char> Bytes(std::initializer_list<int> list) {
    std::vector<unsigned char> v;
    for (int b : list)
        v.push_back(static_cast<unsigned char>(b));
    return v;
}

}  // namespace

// --- edge cases ------------------------------------------------------------

TEST(Bignum, NewBigHasOneWord) {
    Big n(newBig(0xDEADBEEF));
    EXPECT_EQ(1, n->sign);
    EXPECT_EQ(1, n->length);
    EXPECT_EQ(1, n->capacity);
    EXPECT_EQ(0xDEADBEEFu, n->words[0]);
}

TEST(Bignum, BufToBigReadsLeastSignificantByteFirst) {
    struct Case {
        std::vector<unsigned char> bytes;
        const char *value;
        int32_t length, capacity;
    } cases[] = {
        {Bytes({1, 2, 3, 4, 5}), "504030201", 2, 2},
        {Bytes({0, 0, 0, 0}), "0", 1, 1},
        {Bytes({0x80}), "80", 1, 1},
        {Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0}), "1", 1, 3},
        {Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}),
         "14131211100f0e0d0c0b0a090807060504030201", 5, 5},
    };
    for (const Case &c : cases) {
        Big n(newBig(7));
        n->sign = -1;
        BufToBig(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), n.get());
        EXPECT_EQ(c.length, n->length) << c.value;
        EXPECT_EQ(c.capacity, n->capacity) << c.value;
        EXPECT_TRUE(BigIs(n.get(), std::string("-") + c.value)) << "sign untouched";
    }
}

TEST(Bignum, CompareReturnsLengthDifferenceAndIgnoresSigns) {
    Big three = MakeBig(
            "300000000"
            "00000000"),
        five = MakeBig(
            "5"
            "00000000"
            "00000000"
            "00000000"
            "00000000");
    EXPECT_EQ(-2, bigCompare(three.get(), five.get()));
    EXPECT_EQ(2, bigCompare(five.get(), three.get()));
    Big a = MakeBig("-1234567890"), b = MakeBig("1234567890");
    EXPECT_EQ(0, bigCompare(a.get(), b.get()));
    Big small = MakeBig("ffffffff00000000"), big = MakeBig("ffffffff00000001");
    EXPECT_EQ(-1, bigCompare(small.get(), big.get()));
    EXPECT_EQ(1, bigCompare(big.get(), small.get()));
}

TEST(Bignum, CompareNormalisesItsOperands) {
    Big a = MakeBig("5"), b = MakeBig(
                              "1"
                              "00000000"
                              "00000000");
    bigShiftLeft(a.get(), 96, a.get());
    bigShiftRight(a.get(), 96, a.get());
    a->words[1] = a->words[2] = a->words[3] = 0;
    a->length = 4;  // top words zero: the same value, not normalised
    EXPECT_EQ(-2, bigCompare(a.get(), b.get()));
    EXPECT_EQ(1, a->length);
    EXPECT_TRUE(BigIs(a.get(), "5"));
}

TEST(Bignum, AddTakesTheSignOfTheLongerOperand) {
    struct Case {
        const char *a, *b, *sum;
    } cases[] = {
        {"-100000000", "5", "-100000005"},
        {"5", "-100000000", "-100000005"},
        {"-5", "7", "-c"},  // equal lengths: the sign of a
        {"5", "-7", "c"},
        {"ffffffff", "1", "100000000"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), b = MakeBig(c.b), r(newBig(0));
        bigadd(a.get(), b.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.sum)) << c.a << " + " << c.b;
    }
}

TEST(Bignum, SubSignedFollowsTheSignTable) {
    struct Case {
        const char *a, *b, *difference;
    } cases[] = {
        {"5", "3", "2"},    {"3", "5", "-2"},  {"5", "-3", "8"}, {"-5", "3", "-8"},
        {"-5", "-3", "-2"}, {"-3", "-5", "2"}, {"5", "5", "0"},  {"-5", "-5", "-0"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), b = MakeBig(c.b), r(newBig(0));
        bigSubSigned(a.get(), b.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.difference)) << c.a << " - " << c.b;
    }
    Big m5 = MakeBig("-5"), zero(newBig(0)), r(newBig(0));
    bigSubSigned(m5.get(), m5.get(), r.get());
    EXPECT_EQ(0, bigCompare(r.get(), zero.get())) << "-0 compares equal to zero";
}

TEST(Bignum, ModKeepsTheSignOfTheDividend) {
    struct Case {
        const char *a, *m, *r;
    } cases[] = {
        {"-5", "7", "-5"},
        {"-c", "7", "-5"},
        {"c", "-7", "5"},
        {"5", "7", "5"},
        {"7", "7", "0"},
        {"-12345", "1", "0"},
        {"ffffffffffffffff", "1", "0"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), m = MakeBig(c.m), r(newBig(0));
        bigMod(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.r)) << c.a << " mod " << c.m;
        EXPECT_TRUE(BigIs(m.get(), c.m)) << "modulus restored";
    }
}

TEST(Bignum, ModOfExactMultiplesIsZero) {
    std::mt19937 rng(TestSeed());
    for (int32_t len : {1, 2, 5, 33, 64, 65, 100}) {
        Big m = BigFromWords(ShapedWords(rng, len), 1);
        std::string m_hex = BigHex(m.get());
        Big r(newBig(0));
        bigMod(m.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), "0")) << "m mod m, m = " << m_hex;
        for (int32_t k : {1, 2, 7}) {
            Big a(newBig(0));
            bigShiftLeft(m.get(), 32 * k, a.get());
            bigMod(a.get(), m.get(), r.get());
            EXPECT_TRUE(BigIs(r.get(), "0")) << "m * 2^(32*" << k << ") mod m";
            EXPECT_TRUE(BigIs(m.get(), m_hex));
        }
    }
}

TEST(Bignum, ModWithModulusOneClearsAllWords) {
    Big a = MakeBig("123456789abcdef0123456789"), one = MakeBig("1");
    Big r = MakeBig("ffffffffffffffffffffffffffffffff");
    bigMod(a.get(), one.get(), r.get());
    EXPECT_TRUE(BigIs(r.get(), "0"));
    for (int32_t i = 0; i < r->capacity; i++)
        EXPECT_EQ(0u, r->words[i]);
}

TEST(Bignum, DivideTruncatesTowardZero) {
    struct Case {
        const char *a, *d, *q, *r;
    } cases[] = {
        {"7", "2", "3", "1"},
        {"-7", "2", "-3", "-1"},
        {"7", "-2", "-3", "1"},
        {"-7", "-2", "3", "-1"},
        {"3", "7", "0", "3"},
        {"-3", "7", "0", "-3"},
        {"-7", "7", "-1", "0"},
        {"7", "7", "1", "0"},
        {"-123456789abcdef", "1", "-123456789abcdef", "0"},
        {"123456789abcdef", "-1", "-123456789abcdef", "0"},
        {"ffffffffffffffffffffffff", "ffffffff", "10000000100000001", "0"},
        {"fffffffffffffffffffffffe", "ffffffffffffffff", "100000000", "fffffffe"},
    };
    for (const Case &c : cases) {
        Big a = MakeBig(c.a), d = MakeBig(c.d), q(newBig(0)), r(newBig(0));
        bigDivide(a.get(), d.get(), q.get(), r.get());
        EXPECT_TRUE(BigIs(q.get(), c.q)) << c.a << " / " << c.d;
        EXPECT_TRUE(BigIs(r.get(), c.r)) << c.a << " % " << c.d;
        EXPECT_TRUE(BigIs(d.get(), c.d));
    }
}

TEST(Bignum, DivideByItsShiftedDivisor) {
    std::mt19937 rng(TestSeed());
    for (int32_t len : {1, 3, 64, 65, 127}) {
        Big m = BigFromWords(ShapedWords(rng, len), 1), a(newBig(0));
        bigShiftLeft(m.get(), 32, a.get());
        Big q(newBig(0)), r(newBig(0));
        bigDivide(a.get(), m.get(), q.get(), r.get());
        EXPECT_TRUE(BigIs(q.get(), "100000000"));
        EXPECT_TRUE(BigIs(r.get(), "0"));
    }
}

TEST(Bignum, CapacityGrowsToExactlyWhatAStepNeeds) {
    Big seven = MakeBig("7000000060000000500000004000000030000000200000001");
    ASSERT_EQ(7, seven->length);
    Big copy(newBig(0));
    bigCopy(seven.get(), copy.get());
    EXPECT_EQ(7, copy->capacity);

    Big three = MakeBig(
            "300000002"
            "00000001"),
        five = MakeBig(
            "5"
            "00000004"
            "00000003"
            "00000002"
            "00000001");
    Big sum(newBig(0));
    bigadd(three.get(), five.get(), sum.get());
    EXPECT_EQ(6, sum->capacity);

    Big shifted(newBig(0));
    bigShiftLeft(three.get(), 70, shifted.get());
    EXPECT_EQ(3 + 2 + 1, shifted->capacity);

    Big four = MakeBig(
            "4"
            "00000003"
            "00000002"
            "00000001"),
        x(newBig(0));
    bigAddMulWord(four.get(), 5, x.get(), 3);
    EXPECT_EQ(4 + 3 + 2, x->capacity);

    Big product(newBig(0));
    lbigmult(three.get(), five.get(), product.get());
    EXPECT_EQ(8, product->capacity);

    Big square(newBig(0));
    bigsquare(five.get(), square.get());
    EXPECT_EQ(10, square->capacity);

    // Never shrinks.
    Big one = MakeBig("1");
    bigCopy(one.get(), copy.get());
    EXPECT_EQ(7, copy->capacity);
    EXPECT_TRUE(BigIs(copy.get(), "1"));
}

TEST(Bignum, ShiftsLeaveTheSignAlone) {
    Big a = MakeBig("-123456789abcdef"), c = MakeBig("5");
    bigShiftLeft(a.get(), 36, c.get());
    EXPECT_TRUE(BigIs(c.get(), "123456789abcdef000000000"));
    bigShiftRight(a.get(), 4, c.get());
    EXPECT_TRUE(BigIs(c.get(), "123456789abcde"));
    bigShiftRight(a.get(), 200, c.get());
    EXPECT_TRUE(BigIs(c.get(), "0"));
    bigShiftLeft(a.get(), 0, c.get());
    EXPECT_TRUE(BigIs(c.get(), "123456789abcdef"));
}

// --- fast paths against the schoolbook routines ---------------------------

TEST(Bignum, FastMultiplyEqualsSchoolbookAroundTheCutOvers) {
    std::mt19937 rng(TestSeed());
    const int32_t lengths[] = {1, 10, 43, 63, 64, 65, 66, 96, 97, 100, 127, 128, 130, 200};
    for (int32_t la : lengths) {
        for (int32_t lb : lengths) {
            bool fast = la > 64 && lb > 64 && 2 * lb / 3 <= la && 2 * la / 3 <= lb;
            if (fast && la >= 128 && lb >= 128)
                continue;  // fatal, tested below
            Big a = BigFromWords(ShapedWords(rng, la), rng() % 2 ? -1 : 1);
            Big b = BigFromWords(ShapedWords(rng, lb), 1);
            Big fast_product(newBig(0)), slow_product(newBig(0));
            bigMultiply(a.get(), b.get(), fast_product.get());
            lbigmult(a.get(), b.get(), slow_product.get());
            EXPECT_TRUE(BigIs(fast_product.get(), BigHex(slow_product.get())))
                << la << " x " << lb << " words";
        }
    }
}

TEST(Bignum, FastSquareEqualsSchoolbookUpTo127Words) {
    std::mt19937 rng(TestSeed());
    for (int32_t len : {1, 2, 63, 64, 65, 66, 100, 126, 127}) {
        Big a = BigFromWords(ShapedWords(rng, len), -1);
        Big fast(newBig(0)), slow(newBig(0)), product(newBig(0)), copy(newBig(0));
        bigMultiply(a.get(), a.get(), fast.get());
        bigsquare(a.get(), slow.get());
        bigCopy(a.get(), copy.get());
        lbigmult(a.get(), copy.get(), product.get());
        EXPECT_TRUE(BigIs(slow.get(), BigHex(product.get()))) << len;
        EXPECT_TRUE(BigIs(fast.get(), BigHex(slow.get()))) << len << " words";
    }
}

TEST(Bignum, KaratsubaBlocksEqualSchoolbook) {
    std::mt19937 rng(TestSeed());
    for (int32_t n : {64, 128, 256}) {
        for (int round = 0; round < 4; round++) {
            std::vector<uint32_t> a = ShapedWords(rng, n), b = ShapedWords(rng, n);
            if (round == 0)
                a.assign(n, 0xFFFFFFFF), b.assign(n, 0xFFFFFFFF);
            std::vector<uint32_t> dst(2 * n), scratch(bigBlockScratchWords(n) + 1);
            Big big_a = BigFromWords(a, 1), big_b = BigFromWords(b, 1);
            Big expected(newBig(0));
            lbigmult(big_a.get(), big_b.get(), expected.get());
            bigBlockMultiply(a.data(), b.data(), n, dst.data(), scratch.data());
            EXPECT_TRUE(BigIs(BigFromWords(dst, 1).get(), BigHex(expected.get())))
                << "product of " << n << "-word blocks";
            bigsquare(big_a.get(), expected.get());
            bigBlockSquare(a.data(), n, dst.data(), scratch.data());
            EXPECT_TRUE(BigIs(BigFromWords(dst, 1).get(), BigHex(expected.get())))
                << "square of a " << n << "-word block";
        }
    }
    EXPECT_EQ(0, bigBlockScratchWords(64));
}

// --- expected values from Python integers ---------------------------------

TEST(BignumVectors, Compare) {
    for (const VectorCase &c : Vectors("cmp")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), b = MakeBig(c.args[1]);
        EXPECT_EQ(static_cast<int32_t>(HexWord(c.results[0])), bigCompare(a.get(), b.get()));
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        EXPECT_TRUE(BigIs(b.get(), c.args[1]));
        if (HasFailure())
            return;
    }
}

TEST(BignumVectors, Add) {
    CheckAll(
        "add", [](BigNum *a, BigNum *b, BigNum *r) { bigadd(a, b, r); }, false, true);
}

TEST(BignumVectors, Sub) {
    CheckAll(
        "sub", [](BigNum *a, BigNum *b, BigNum *r) { bigsub(a, b, r); }, true, true);
}

TEST(BignumVectors, SubSigned) {
    CheckAll(
        "subs", [](BigNum *a, BigNum *b, BigNum *r) { bigSubSigned(a, b, r); }, false, true);
}

TEST(BignumVectors, Multiply) {
    CheckAll(
        "mul", [](BigNum *a, BigNum *b, BigNum *r) { bigMultiply(a, b, r); }, false, false);
    CheckAll(
        "mul", [](BigNum *a, BigNum *b, BigNum *r) { lbigmult(a, b, r); }, false, false);
}

TEST(BignumVectors, Square) {
    for (const VectorCase &c : Vectors("sqr")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), r(newBig(0)), s(newBig(0)), f(newBig(0));
        bigMultiply(a.get(), a.get(), r.get());
        bigsquare(a.get(), s.get());
        fast_square(a.get(), f.get());
        EXPECT_TRUE(BigIs(r.get(), c.results[0]));
        EXPECT_TRUE(BigIs(s.get(), c.results[0]));
        EXPECT_TRUE(BigIs(f.get(), c.results[0]));
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        if (HasFailure())
            return;
    }
}

namespace {

void CheckShift(const char *op_name, void (*shift)(const BigNum *, int32_t, BigNum *)) {
    for (const VectorCase &c : Vectors(op_name)) {
        SCOPED_TRACE(VectorWhere(c));
        int32_t bits = static_cast<int32_t>(HexWord(c.args[1]));
        Big a = MakeBig(c.args[0]), r = MakeBig("-1");
        shift(a.get(), bits, r.get());
        EXPECT_TRUE(BigIs(r.get(), "-" + c.results[0])) << "sign untouched";
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        shift(a.get(), bits, a.get());
        EXPECT_TRUE(BigIs(a.get(), c.results[0])) << "in place";
        if (::testing::Test::HasFailure())
            return;
    }
}

}  // namespace

TEST(BignumVectors, ShiftLeft) {
    CheckShift("shl", bigShiftLeft);
}

TEST(BignumVectors, ShiftRight) {
    CheckShift("shr", bigShiftRight);
}

TEST(BignumVectors, AddMulWord) {
    for (const VectorCase &c : Vectors("amw")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), x = MakeBig(c.args[2]);
        int32_t offset = static_cast<int32_t>(HexWord(c.args[3]));
        bigAddMulWord(a.get(), HexWord(c.args[1]), x.get(), offset);
        EXPECT_TRUE(BigMagnitudeIs(x.get(), c.results[0]));
        EXPECT_GE(x->capacity, a->length + offset + 2);
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        if (HasFailure())
            return;
    }
}

TEST(BignumVectors, Divide) {
    for (const VectorCase &c : Vectors("div")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), d = MakeBig(c.args[1]), q(newBig(0)), r(newBig(0));
        bigDivide(a.get(), d.get(), q.get(), r.get());
        EXPECT_TRUE(BigIs(q.get(), c.results[0])) << "quotient";
        EXPECT_TRUE(BigIs(r.get(), c.results[1])) << "remainder";
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        EXPECT_TRUE(BigIs(d.get(), c.args[1]));
        Big q2(newBig(0));
        bigDivide(a.get(), d.get(), q2.get(), a.get());
        EXPECT_TRUE(BigIs(q2.get(), c.results[0])) << "quotient, remainder in a";
        EXPECT_TRUE(BigIs(a.get(), c.results[1])) << "remainder in a";
        if (HasFailure())
            return;
    }
}

TEST(BignumVectors, Mod) {
    for (const VectorCase &c : Vectors("mod")) {
        SCOPED_TRACE(VectorWhere(c));
        Big a = MakeBig(c.args[0]), m = MakeBig(c.args[1]), r(newBig(0));
        int32_t m_length = m->length;
        bigMod(a.get(), m.get(), r.get());
        EXPECT_TRUE(BigIs(r.get(), c.results[0]));
        EXPECT_TRUE(BigIs(a.get(), c.args[0]));
        EXPECT_TRUE(BigIs(m.get(), c.args[1])) << "modulus restored";
        EXPECT_EQ(m_length, m->length);
        bigMod(a.get(), m.get(), a.get());
        EXPECT_TRUE(BigIs(a.get(), c.results[0])) << "in place";
        if (HasFailure())
            return;
    }
}

// --- fatal reports, read from a child process ------------------------------

namespace {

struct FatalCase {
    const char *name;
    void (*run)();
    std::string text;
};

void ZeroModulus() {
    Big a = MakeBig("5"), m = MakeBig("0"), r(newBig(0));
    bigMod(a.get(), m.get(), r.get());
}

void ZeroDivisor() {
    Big a = MakeBig("5"), d = MakeBig("-0"), q(newBig(0)), r(newBig(0));
    bigDivide(a.get(), d.get(), q.get(), r.get());
}

void SubtractLarger() {
    Big a = MakeBig("5"), b = MakeBig("6"), c(newBig(0));
    bigsub(a.get(), b.get(), c.get());
}

void SubtractLonger() {
    Big a = MakeBig("ffffffff"), b = MakeBig("100000000"), c(newBig(0));
    bigsub(a.get(), b.get(), c.get());
}

void ProductIntoFirst() {
    Big a = MakeBig("5"), b = MakeBig("6");
    lbigmult(a.get(), b.get(), a.get());
}

void ProductIntoSecond() {
    Big a = MakeBig("5"), b = MakeBig("6");
    bigMultiply(a.get(), b.get(), b.get());
}

void SquareIntoOperand() {
    Big a = MakeBig("5");
    bigsquare(a.get(), a.get());
}

Big Words(int32_t n) {
    return BigFromWords(std::vector<uint32_t>(n, 0x12345678), 1);
}

void Square128Words() {
    Big a = Words(128), c(newBig(0));
    bigMultiply(a.get(), a.get(), c.get());
}

void Multiply128By128Words() {
    Big a = Words(128), b = Words(130), c(newBig(0));
    bigMultiply(a.get(), b.get(), c.get());
}

void *NoMemory(size_t) {
    return nullptr;
}

void NewBigWithoutMemory() {
    bigSetAllocator(NoMemory, nullptr);
    newBig(1);
}

int g_allocations_left;
void *AllocateSome(size_t bytes) {
    return g_allocations_left-- > 0 ? malloc(bytes) : nullptr;
}

void GrowWithoutMemory() {
    Big n(newBig(1));
    unsigned char bytes[64] = {1};
    g_allocations_left = 0;
    bigSetAllocator(AllocateSome, nullptr);
    BufToBig(bytes, sizeof bytes, n.get());
    printf("continued with %p\n", static_cast<void *>(n->words));
}

void *SmallBlocksOnly(size_t bytes) {
    return bytes <= 4096 ? malloc(bytes) : nullptr;
}

// A length within 3 of 2^32 needs 2^30 words: BufToBig must ask for them (and
// stop when they cannot be had) rather than let ceil(len / 4) wrap to 0 and
// write below the word array. The byte is never read.
template <uint32_t kLength>
void BufToBigOfLength() {
    unsigned char byte = 1;
    Big n(newBig(0));
    bigSetAllocator(SmallBlocksOnly, nullptr);
    BufToBig(&byte, kLength, n.get());
}

// The exact message, with its run of 17 blanks spelled out.
const std::string kMultAliasText = "lbigmult: product pointer cannot be the same as either" +
                                   std::string(17, ' ') + "multiplicand.\n";

const FatalCase kFatalCases[] = {
    {"ZeroModulus", ZeroModulus, "bigMod: modulus is zero.\n"},
    {"ZeroDivisor", ZeroDivisor, "bigDivide: divisor is zero.\n"},
    {"SubtractLarger", SubtractLarger, "bigsub: carry is non zero when done\n"},
    {"SubtractLonger", SubtractLonger, "bigsub: carry is non zero when done\n"},
    {"ProductIntoFirst", ProductIntoFirst, kMultAliasText},
    {"ProductIntoSecond", ProductIntoSecond, kMultAliasText},
    {"SquareIntoOperand", SquareIntoOperand,
     "bigsquare: product pointer cannot be the same as multiplicand.\n"},
    {"Square128Words", Square128Words, "fast_square: Number is too big for static tmp array.\n"},
    {"Multiply128By128Words", Multiply128By128Words,
     "fast_square: Number is too big for static tmp array.\n"},
    {"NewBigWithoutMemory", NewBigWithoutMemory, "bigAlloc: out of memory.\n"},
    {"GrowWithoutMemory", GrowWithoutMemory, "bigAlloc: out of memory.\n"},
    {"BufToBigOfLength2To32Minus3", BufToBigOfLength<0xFFFFFFFDu>, "bigAlloc: out of memory.\n"},
    {"BufToBigOfLength2To32Minus1", BufToBigOfLength<0xFFFFFFFFu>, "bigAlloc: out of memory.\n"},
};

class BignumFatal : public ::testing::TestWithParam<FatalCase> {};

}  // namespace

TEST_P(BignumFatal, ReportsAndExitsWithStatusOne) {
    EXPECT_EXIT(GetParam().run(), ::testing::ExitedWithCode(1), FatalReport(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Bignum, BignumFatal, ::testing::ValuesIn(kFatalCases),
                         [](const ::testing::TestParamInfo<FatalCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(Bignum, WarningReturns) {
    EXPECT_EXIT(
        {
            bigError(2, "look");
            exit(7);
        },
        ::testing::ExitedWithCode(7), ::testing::Matcher<const std::string &>("WARNING: look\n"));
}

// --- release wipes ---------------------------------------------------------

namespace {

int g_released, g_released_dirty;

void *TrackedAllocate(size_t bytes) {
    return malloc(bytes);
}

void TrackedRelease(void *block, size_t bytes) {
    const unsigned char *p = static_cast<const unsigned char *>(block);
    for (size_t i = 0; i < bytes; i++) {
        if (p[i] != 0) {
            g_released_dirty++;
            break;
        }
    }
    g_released++;
    free(block);
}

}  // namespace

TEST(Bignum, EveryReleasedBlockIsWiped) {
    g_released = g_released_dirty = 0;
    bigSetAllocator(TrackedAllocate, TrackedRelease);
    {
        std::mt19937 rng(TestSeed());
        Big a = BigFromWords(ShapedWords(rng, 40), 1);
        Big b = BigFromWords(ShapedWords(rng, 70), 1);
        Big c(newBig(0)), q(newBig(0)), r(newBig(0));
        bigMultiply(a.get(), b.get(), c.get());  // grows c from one word
        bigMultiply(c.get(), c.get(), r.get());
        bigDivide(r.get(), b.get(), q.get(), c.get());
        bigMod(r.get(), a.get(), r.get());
    }
    bigSetAllocator(nullptr, nullptr);
    EXPECT_GE(g_released, 10);
    EXPECT_EQ(0, g_released_dirty);
}

// --- random operands against GMP (native build) ----------------------------

#ifdef CRYPTO_TEST_GMP

namespace {

Big RandomBig(std::mt19937 &rng, int32_t max_words, bool allow_negative) {
    return BigFromWords(ShapedWords(rng, ShapedLength(rng, max_words)),
                        allow_negative && rng() % 2 ? -1 : 1);
}

}  // namespace

TEST(BignumGmp, RandomOperandsAgree) {
    uint32_t seed = TestSeed();
    std::mt19937 rng(seed);
    for (int round = 0; round < 1500; round++) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        Big a = RandomBig(rng, 130, true), b = RandomBig(rng, 130, true);
        if (rng() % 4 == 0) {  // a multiple of b, plus at most one more word
            Big k = RandomBig(rng, 6, false), t(newBig(0));
            lbigmult(b.get(), k.get(), t.get());
            bigCopy(t.get(), a.get());
            if (rng() % 2)
                a->words[0] ^= 1;
        }
        Mpz za, zb, zr, zq;
        ToMpz(a.get(), &za);
        ToMpz(b.get(), &zb);
        Big r(newBig(0)), q(newBig(0));

        bigSubSigned(a.get(), b.get(), r.get());
        mpz_sub(zr.v, za.v, zb.v);
        if (mpz_sgn(zr.v) != 0) {
            EXPECT_TRUE(BigIs(r.get(), MpzHex(zr))) << "a - b";
        }

        if (a->length < 128 || b->length < 128) {
            bigMultiply(a.get(), b.get(), r.get());
            mpz_mul(zr.v, za.v, zb.v);
            EXPECT_TRUE(BigIs(r.get(), MpzHex(zr))) << "a * b";
        }
        if (a->length < 128) {
            bigMultiply(a.get(), a.get(), r.get());
            mpz_mul(zr.v, za.v, za.v);
            EXPECT_TRUE(BigIs(r.get(), MpzHex(zr))) << "a * a";
        }

        bigDivide(a.get(), b.get(), q.get(), r.get());
        mpz_tdiv_qr(zq.v, zr.v, za.v, zb.v);
        EXPECT_TRUE(BigIs(q.get(), MpzHex(zq))) << "a / b";
        EXPECT_TRUE(BigIs(r.get(), MpzHex(zr))) << "a % b";

        bigMod(a.get(), b.get(), r.get());
        EXPECT_TRUE(mpz_sgn(zr.v) != 0 ? BigIs(r.get(), MpzHex(zr)) : BigMagnitudeIs(r.get(), "0"))
            << "a mod b";

        int32_t bits = static_cast<int32_t>(rng() % 200);
        bigShiftLeft(a.get(), bits, r.get());
        mpz_abs(zq.v, za.v);
        mpz_mul_2exp(zr.v, zq.v, bits);
        EXPECT_TRUE(BigMagnitudeIs(r.get(), MpzHex(zr))) << "a << " << bits;
        bigShiftRight(a.get(), bits, r.get());
        mpz_fdiv_q_2exp(zr.v, zq.v, bits);
        EXPECT_TRUE(BigMagnitudeIs(r.get(), MpzHex(zr))) << "a >> " << bits;

        uint32_t w = rng();
        int32_t offset = static_cast<int32_t>(rng() % 8);
        bigCopy(b.get(), r.get());
        bigAddMulWord(a.get(), w, r.get(), offset);
        mpz_abs(zr.v, zb.v);
        mpz_mul_ui(zq.v, za.v, w);  // unsigned long holds 32 bits
        mpz_abs(zq.v, zq.v);
        mpz_mul_2exp(zq.v, zq.v, 32 * offset);
        mpz_add(zr.v, zr.v, zq.v);
        EXPECT_TRUE(BigMagnitudeIs(r.get(), MpzHex(zr))) << "b + a * w";

        int cmp = mpz_cmpabs(za.v, zb.v);
        int32_t got = bigCompare(a.get(), b.get());
        EXPECT_EQ(cmp > 0, got > 0);
        EXPECT_EQ(cmp < 0, got < 0);
        if (HasFailure())
            return;
    }
}

#endif
