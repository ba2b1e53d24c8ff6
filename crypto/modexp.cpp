#include "crypto/modexp.h"

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

// out = reduce(out * factor); prod is scratch.
void MontMultiply(BigNum *out, const BigNum *factor, const MontContext *ctx, BigNum *prod) {
    bigMultiply(out, factor, prod);
    montReduce(prod, ctx, out);
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
    MontContext *ctx = montContext(m);
    PowerTable *tg = montPowerTable(g, ctx);
    PowerTable *ty = montPowerTable(y, ctx);
    BigNum *prod = newBig(0);
    int32_t top1 = TopNibble(e1), top2 = TopNibble(e2);
    int32_t top = top1 > top2 ? top1 : top2;
    bigCopy(tg->entry[0], out);
    // At the top of step j, out is the Montgomery form of
    // (g^(e1 >> 4(j+1)) * y^(e2 >> 4(j+1)))^16.
    for (int32_t j = top; j >= 0; j--) {
        uint32_t k1 = j <= top1 ? Nibble(e1, j) : 0;
        uint32_t k2 = j <= top2 ? Nibble(e2, j) : 0;
        if (k1 != 0)
            MontMultiply(out, tg->entry[k1], ctx, prod);
        if (k2 != 0)
            MontMultiply(out, ty->entry[k2], ctx, prod);
        if (j > 0) {
            for (int32_t k = 0; k < 4; k++)
                MontMultiply(out, out, ctx, prod);
        }
    }
    bigCopy(out, prod);
    montReduce(prod, ctx, out);
    freeBig(prod);
    freePowerTable(ty);
    freePowerTable(tg);
    freeMontContext(ctx);
}
