#include "crypto/modexp.h"

#include "crypto/montmul.h"

namespace {

bool IsZero(const BigNum *n) {
    return n->length == 1 && n->words[0] == 0;
}

// Nibble j of |e|, least significant first.
uint32_t Nibble(const BigNum *e, int32_t j) {
    return (e->words[j / 8] >> (4 * (j % 8))) & 15;
}

// Index of the highest non-zero nibble of |e|, -1 when e is zero.
int32_t TopNibble(const BigNum *e) {
    int32_t j = 8 * e->length - 1;
    while (j >= 0 && Nibble(e, j) == 0)
        j--;
    return j;
}

enum { WORDS_PER_LIMB = MONT_LIMB_BITS / 32 };

// limbs[0 .. n) = |a|, for |a| below 2^(MONT_LIMB_BITS * n).
void ToLimbs(const BigNum *a, MontLimb *limbs, int32_t n) {
    for (int32_t k = 0; k < n; k++) {
        MontLimb limb = 0;
        for (int32_t t = 0; t < WORDS_PER_LIMB; t++) {
            int32_t i = k * WORDS_PER_LIMB + t;
            if (i < a->length)
                limb |= static_cast<MontLimb>(a->words[i]) << (32 * t);
        }
        limbs[k] = limb;
    }
}

// out = limbs[0 .. n), sign +1.
void ToNumber(const MontLimb *limbs, int32_t n, BigNum *out) {
    int32_t count = n * WORDS_PER_LIMB;
    size_t bytes = count * sizeof(uint32_t);
    uint32_t *words = static_cast<uint32_t *>(bigAllocate(bytes));
    for (int32_t i = 0; i < count; i++)
        words[i] = static_cast<uint32_t>(limbs[i / WORDS_PER_LIMB] >> (32 * (i % WORDS_PER_LIMB)));
    BigNum view = {1, count, count, words};
    while (view.length > 1 && words[view.length - 1] == 0)
        view.length--;
    bigCopy(&view, out);
    bigRelease(words, bytes);
}

// b itself when it has no more words than m, else b mod m in scratch: the
// limb arithmetic takes operands below R.
const BigNum *FitToModulus(const BigNum *b, BigNum *m, BigNum *scratch) {
    if (b->length <= m->length)
        return b;
    bigCopy(b, scratch);
    bigMod(scratch, m, scratch);
    return scratch;
}

// The limb arrays of one exponentiation in one block, which is wiped when
// released: the modulus, R^2 mod m and one as limbs (R here is
// 2^(MONT_LIMB_BITS * n), which exceeds the context's R by a word when m has
// an odd number of words and limbs are 64 bits), the accumulator and the two
// tables of MONT_TABLE_SIZE entries.
struct LimbWork {
    MontLimbs mod;
    MontLimb *rr, *one, *acc, *table_g, *table_y;
    MontLimb *block;
    size_t bytes;
};

void StartLimbWork(BigNum *m, const MontContext *ctx, LimbWork *work) {
    int32_t n = (m->length + WORDS_PER_LIMB - 1) / WORDS_PER_LIMB;
    work->bytes = (4 + 2 * MONT_TABLE_SIZE) * n * sizeof(MontLimb);
    work->block = static_cast<MontLimb *>(bigAllocate(work->bytes));
    MontLimb *limbs = work->block;
    work->rr = limbs + n;
    work->one = limbs + 2 * n;
    work->acc = limbs + 3 * n;
    work->table_g = limbs + 4 * n;
    work->table_y = work->table_g + MONT_TABLE_SIZE * n;
    ToLimbs(m, limbs, n);
    int32_t extra_words = n * WORDS_PER_LIMB - m->length;
    if (extra_words == 0) {
        ToLimbs(ctx->rr, work->rr, n);
    } else {
        BigNum *rr = newBig(0);
        bigShiftLeft(ctx->rr, 64 * extra_words, rr);
        bigMod(rr, m, rr);
        ToLimbs(rr, work->rr, n);
        freeBig(rr);
    }
    for (int32_t k = 0; k < n; k++)
        work->one[k] = 0;
    work->one[0] = 1;
    // The context's m^-1 mod 2^32, lifted to the limb by one Newton step
    // (inv * m = 1 mod 2^k gives inv * (2 - m * inv) * m = 1 mod 2^2k).
    MontLimb inv = static_cast<MontLimb>(0u - ctx->n0inv);
    inv *= 2 - limbs[0] * inv;
    work->mod = {limbs, n, static_cast<MontLimb>(0u - inv)};
}

void EndLimbWork(LimbWork *work) {
    bigRelease(work->block, work->bytes);
}

MontLimb *Entry(MontLimb *table, int32_t i, const LimbWork *work) {
    return table + i * work->mod.n;
}

// table[i] = b^i in Montgomery form (b^i * R mod m), b with no more words
// than m. The work's accumulator is scratch.
void BuildTable(const BigNum *b, LimbWork *work, MontLimb *table) {
    const MontLimbs *mod = &work->mod;
    ToLimbs(b, work->acc, mod->n);
    montLimbMultiply(work->one, work->rr, mod, Entry(table, 0, work));
    montLimbMultiply(work->acc, work->rr, mod, Entry(table, 1, work));
    for (int32_t i = 2; i < MONT_TABLE_SIZE; i++)
        montLimbMultiply(Entry(table, 1, work), Entry(table, i - 1, work), mod,
                         Entry(table, i, work));
}

}  // namespace

void bigInverse(BigNum *a, BigNum *m, BigNum *r) {
    BigNum *q = newBig(0);
    BigNum *x0 = newBig(1);
    BigNum *g0 = newBig(0);
    BigNum *x1 = newBig(0);
    BigNum *g1 = newBig(0);
    BigNum *t = newBig(0);
    BigNum *s = newBig(0);
    bigCopy(a, g0);
    bigCopy(m, g1);
    // x0 * a = g0 and x1 * a = g1 (mod m); g1 shrinks to gcd(a, m), then 0.
    while (!IsZero(g1)) {
        bigDivide(g0, g1, q, s);
        bigMultiply(x1, q, t);
        bigSubSigned(x0, t, t);
        BigNum *old_x0 = x0, *old_g0 = g0;
        x0 = x1;
        g0 = g1;
        x1 = t;
        g1 = s;
        t = old_x0;
        s = old_g0;
    }
    bigCopy(x0, r);
    if (r->sign < 0)
        bigNegMod(r, m, r);
    freeBig(q);
    freeBig(x0);
    freeBig(g0);
    freeBig(x1);
    freeBig(g1);
    freeBig(t);
    freeBig(s);
}

void bigNegMod(BigNum *a, BigNum *m, BigNum *c) {
    if (a->sign >= 0 && bigCompare(m, a) > 0) {
        bigsub(m, a, c);
        c->sign = 1;
        return;
    }
    BigNum *one = newBig(1);
    BigNum *m_minus_1 = newBig(0);
    BigNum *prod = newBig(0);
    bigsub(m, one, m_minus_1);
    // a * (m - 1) = -a (mod m); bigMod keeps the dividend's sign.
    bigMultiply(a, m_minus_1, prod);
    bigMod(prod, m, c);
    c->sign = 1;
    freeBig(prod);
    freeBig(m_minus_1);
    freeBig(one);
}

MontContext *montContext(BigNum *m) {
    MontContext *ctx = static_cast<MontContext *>(bigAllocate(sizeof(MontContext)));
    ctx->modulus = m;
    // y = w^-1 mod 2^i, one bit more each round (w is odd).
    uint32_t w = m->words[0], y = 1;
    for (int32_t i = 2; i <= 32; i++) {
        uint32_t mask = i == 32 ? 0xFFFFFFFFu : (1u << i) - 1;
        uint32_t half = 1u << (i - 1);
        if (((w * y) & mask) >= half)
            y += half;
    }
    ctx->n0inv = 0u - y;
    ctx->rr = newBig(1);
    bigShiftLeft(ctx->rr, 32 * m->length, ctx->rr);
    bigShiftLeft(ctx->rr, 32 * m->length, ctx->rr);
    bigMod(ctx->rr, m, ctx->rr);
    return ctx;
}

void freeMontContext(MontContext *ctx) {
    if (ctx == nullptr)
        return;
    freeBig(ctx->rr);
    bigRelease(ctx, sizeof(MontContext));
}

void montReduce(BigNum *x, const MontContext *ctx, BigNum *r) {
    BigNum *m = ctx->modulus;
    int32_t n = m->length;
    // Round i clears word i of x by adding a multiple of m * 2^(32 * i).
    for (int32_t i = 0; i < n; i++) {
        uint32_t xi = i < x->length ? x->words[i] : 0;
        bigAddMulWord(m, xi * ctx->n0inv, x, i);
    }
    bigShiftRight(x, 32 * n, r);
    r->sign = 1;
    if (bigCompare(r, m) >= 0)
        bigsub(r, m, r);
}

PowerTable *montPowerTable(const BigNum *b, const MontContext *ctx) {
    PowerTable *table = static_cast<PowerTable *>(bigAllocate(sizeof(PowerTable)));
    table->count = MONT_TABLE_SIZE;
    BigNum *one = newBig(1);
    BigNum *prod = newBig(0);
    BigNum *t = newBig(0);
    for (int32_t i = 0; i < MONT_TABLE_SIZE; i++)
        table->entry[i] = newBig(0);
    bigMultiply(one, ctx->rr, prod);
    montReduce(prod, ctx, table->entry[0]);
    bigMultiply(b, ctx->rr, prod);
    montReduce(prod, ctx, t);
    bigCopy(t, table->entry[1]);
    // t is b in Montgomery form; entry i - 1 holds b^(i-1) in Montgomery form.
    for (int32_t i = 2; i < MONT_TABLE_SIZE; i++) {
        bigMultiply(t, table->entry[i - 1], prod);
        montReduce(prod, ctx, table->entry[i]);
    }
    freeBig(t);
    freeBig(prod);
    freeBig(one);
    return table;
}

void freePowerTable(PowerTable *table) {
    if (table == nullptr)
        return;
    for (int32_t i = 0; i < table->count; i++)
        freeBig(table->entry[i]);
    bigRelease(table, sizeof(PowerTable));
}

void bigDoubleExpMod(const BigNum *g, const BigNum *y, const BigNum *e1, const BigNum *e2,
                     BigNum *m, BigNum *out) {
    if (m->length >= BIG_TMP_WORDS)
        bigError(1, kBigMsgTmpTooSmall);
    MontContext *ctx = montContext(m);
    LimbWork work;
    StartLimbWork(m, ctx, &work);
    BigNum *scratch = newBig(0);
    BuildTable(FitToModulus(g, m, scratch), &work, work.table_g);
    BuildTable(FitToModulus(y, m, scratch), &work, work.table_y);
    int32_t top1 = TopNibble(e1), top2 = TopNibble(e2);
    int32_t top = top1 > top2 ? top1 : top2;
    const MontLimbs *mod = &work.mod;
    MontLimb *acc = work.acc;
    for (int32_t k = 0; k < mod->n; k++)
        acc[k] = work.table_g[k];
    // At the top of step j, acc is the Montgomery form of
    // (g^(e1 >> 4(j+1)) * y^(e2 >> 4(j+1)))^16.
    for (int32_t j = top; j >= 0; j--) {
        uint32_t k1 = j <= top1 ? Nibble(e1, j) : 0;
        uint32_t k2 = j <= top2 ? Nibble(e2, j) : 0;
        if (k1 != 0)
            montLimbMultiply(acc, Entry(work.table_g, k1, &work), mod, acc);
        if (k2 != 0)
            montLimbMultiply(acc, Entry(work.table_y, k2, &work), mod, acc);
        if (j > 0) {
            for (int32_t k = 0; k < 4; k++)
                montLimbSquare(acc, mod, acc);
        }
    }
    montLimbMultiply(acc, work.one, mod, acc);
    ToNumber(acc, mod->n, out);
    freeBig(scratch);
    EndLimbWork(&work);
    freeMontContext(ctx);
}
