// The big-number operations against GMP. The input picks an operation, its
// operands (bytes, signs) and where the result goes (a fresh number or an
// operand, where the header allows it); every result must equal GMP's and
// be normalised. Operands stay within what the header allows: no zero
// divisor or modulus, no operand the fast multiplication refuses.

#include "crypto/bignum.h"
#include "crypto/modexp.h"
#include "tests/crypto/bigmpz.h"
#include "tests/fuzz/fuzz.h"

namespace {

// 127 words: every product and square is allowed.
constexpr size_t kMaxOperandBytes = 508;
// Exponents as long as a DSA subgroup order; the modulus as long as any.
constexpr size_t kMaxExponentBytes = 20;

struct Num {
    BigNum *n;
    explicit Num(uint32_t w = 0) : n(newBig(w)) {}
    ~Num() { freeBig(n); }
    Num(const Num &) = delete;
    Num &operator=(const Num &) = delete;
};

void Take(FuzzInput *in, size_t max, Num *out) {
    size_t count = 0;
    const uint8_t *bytes = in->Bytes(in->Below((uint32_t)max + 1), &count);
    BufToBig(bytes, (uint32_t)count, out->n);
    out->n->sign = in->Byte() & 1 ? -1 : 1;
}

bool Normalised(const BigNum *n) {
    return n->length >= 1 && n->length <= n->capacity && (n->sign == 1 || n->sign == -1) &&
           (n->length == 1 || n->words[n->length - 1] != 0);
}

bool IsZero(const BigNum *n) {
    return n->length == 1 && n->words[0] == 0;
}

// n holds the value z (sign included, a zero of either sign).
void CheckValue(const BigNum *n, const Mpz &z) {
    FUZZ_CHECK(Normalised(n));
    Mpz got;
    ToMpz(n, &got);
    FUZZ_CHECK(mpz_cmp(got.v, z.v) == 0);
}

void CheckMagnitude(const BigNum *n, const Mpz &z) {
    FUZZ_CHECK(Normalised(n));
    Mpz got, want;
    ToMpz(n, &got);
    mpz_abs(got.v, got.v);
    mpz_abs(want.v, z.v);
    FUZZ_CHECK(mpz_cmp(got.v, want.v) == 0);
}

void Add(FuzzInput *in, bool inPlace) {
    Num a, b, c;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &b);
    Mpz za, zb, want;
    ToMpz(a.n, &za);
    ToMpz(b.n, &zb);
    mpz_abs(za.v, za.v);
    mpz_abs(zb.v, zb.v);
    mpz_add(want.v, za.v, zb.v);
    int32_t sign = a.n->length >= b.n->length ? a.n->sign : b.n->sign;
    BigNum *out = inPlace ? a.n : c.n;
    bigadd(a.n, b.n, out);
    CheckMagnitude(out, want);
    FUZZ_CHECK(out->sign == sign);
}

void Subtract(FuzzInput *in, bool inPlace) {
    Num a, b, c;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &b);
    if (bigCompare(a.n, b.n) < 0)
        return;  // |a| < |b| is fatal by contract
    Mpz za, zb, want;
    ToMpz(a.n, &za);
    ToMpz(b.n, &zb);
    mpz_abs(za.v, za.v);
    mpz_abs(zb.v, zb.v);
    mpz_sub(want.v, za.v, zb.v);
    BigNum *out = inPlace ? b.n : c.n;
    int32_t sign = out->sign;
    bigsub(a.n, b.n, out);
    CheckMagnitude(out, want);
    FUZZ_CHECK(out->sign == sign);
}

void SubtractSigned(FuzzInput *in, bool inPlace) {
    Num a, b, c;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &b);
    Mpz za, zb, want;
    ToMpz(a.n, &za);
    ToMpz(b.n, &zb);
    mpz_sub(want.v, za.v, zb.v);
    BigNum *out = inPlace ? a.n : c.n;
    bigSubSigned(a.n, b.n, out);
    CheckValue(out, want);
}

void Multiply(FuzzInput *in, bool square) {
    Num a, b, c;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &b);
    const BigNum *right = square ? a.n : b.n;
    Mpz za, zb, want;
    ToMpz(a.n, &za);
    ToMpz(right, &zb);
    mpz_mul(want.v, za.v, zb.v);
    bigMultiply(a.n, right, c.n);
    CheckValue(c.n, want);
}

void Divide(FuzzInput *in, bool remainderInPlace) {
    Num a, d, q, r;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &d);
    if (IsZero(d.n))
        return;
    Mpz za, zd, wantQ, wantR;
    ToMpz(a.n, &za);
    ToMpz(d.n, &zd);
    mpz_tdiv_qr(wantQ.v, wantR.v, za.v, zd.v);
    BigNum *rest = remainderInPlace ? a.n : r.n;
    bigDivide(a.n, d.n, q.n, rest);
    CheckValue(q.n, wantQ);
    CheckValue(rest, wantR);
    Mpz after;
    ToMpz(d.n, &after);
    FUZZ_CHECK(mpz_cmp(after.v, zd.v) == 0);
}

void Modulo(FuzzInput *in, bool inPlace) {
    Num a, m, r;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &m);
    if (IsZero(m.n))
        return;
    Mpz za, zm, want;
    ToMpz(a.n, &za);
    ToMpz(m.n, &zm);
    mpz_tdiv_r(want.v, za.v, zm.v);
    BigNum *out = inPlace ? a.n : r.n;
    bigMod(a.n, m.n, out);
    CheckValue(out, want);
    Mpz after;
    ToMpz(m.n, &after);
    FUZZ_CHECK(mpz_cmp(after.v, zm.v) == 0 && Normalised(m.n));
}

void CompareAndShift(FuzzInput *in) {
    Num a, b, c;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &b);
    Mpz za, zb, want;
    ToMpz(a.n, &za);
    ToMpz(b.n, &zb);
    int32_t order = bigCompare(a.n, b.n);
    int expected = mpz_cmpabs(za.v, zb.v);
    FUZZ_CHECK((order < 0) == (expected < 0) && (order == 0) == (expected == 0));
    int32_t bits = (int32_t)in->Below(300);
    mpz_abs(want.v, za.v);
    if (in->Byte() & 1) {
        mpz_mul_2exp(want.v, want.v, (mp_bitcnt_t)bits);
        bigShiftLeft(a.n, bits, c.n);
    } else {
        mpz_fdiv_q_2exp(want.v, want.v, (mp_bitcnt_t)bits);
        bigShiftRight(a.n, bits, c.n);
    }
    CheckMagnitude(c.n, want);
}

void Inverse(FuzzInput *in) {
    Num a, m, r;
    Take(in, kMaxOperandBytes, &a);
    Take(in, kMaxOperandBytes, &m);
    a.n->sign = m.n->sign = 1;
    if (IsZero(m.n))
        return;
    Mpz za, zm, want;
    ToMpz(a.n, &za);
    ToMpz(m.n, &zm);
    bigInverse(a.n, m.n, r.n);
    FUZZ_CHECK(Normalised(r.n));
    if (mpz_cmp_ui(zm.v, 1) > 0 && mpz_invert(want.v, za.v, zm.v) != 0)
        CheckValue(r.n, want);
}

void DoubleExponent(FuzzInput *in) {
    Num m, g, y, e1, e2, out;
    Take(in, kMaxOperandBytes, &m);
    Take(in, kMaxOperandBytes, &g);
    Take(in, kMaxOperandBytes, &y);
    Take(in, kMaxExponentBytes, &e1);
    Take(in, kMaxExponentBytes, &e2);
    m.n->words[0] |= 1;
    m.n->sign = g.n->sign = y.n->sign = 1;
    if (m.n->length == 1 && m.n->words[0] == 1)
        return;  // the modulus must be above 1
    bigMod(g.n, m.n, g.n);
    bigMod(y.n, m.n, y.n);
    Mpz zm, zg, zy, ze1, ze2, want, part;
    ToMpz(m.n, &zm);
    ToMpz(g.n, &zg);
    ToMpz(y.n, &zy);
    ToMpz(e1.n, &ze1);
    ToMpz(e2.n, &ze2);
    mpz_abs(ze1.v, ze1.v);
    mpz_abs(ze2.v, ze2.v);
    mpz_powm(want.v, zg.v, ze1.v, zm.v);
    mpz_powm(part.v, zy.v, ze2.v, zm.v);
    mpz_mul(want.v, want.v, part.v);
    mpz_mod(want.v, want.v, zm.v);
    bigDoubleExpMod(g.n, y.n, e1.n, e2.n, m.n, out.n);
    CheckMagnitude(out.n, want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in = {data, size};
    uint8_t op = in.Byte();
    bool variant = op & 0x80;
    switch ((op & 0x7F) % 9) {
        case 0:
            Add(&in, variant);
            break;
        case 1:
            Subtract(&in, variant);
            break;
        case 2:
            SubtractSigned(&in, variant);
            break;
        case 3:
            Multiply(&in, variant);
            break;
        case 4:
            Divide(&in, variant);
            break;
        case 5:
            Modulo(&in, variant);
            break;
        case 6:
            CompareAndShift(&in);
            break;
        case 7:
            Inverse(&in);
            break;
        default:
            DoubleExponent(&in);
            break;
    }
    return 0;
}
