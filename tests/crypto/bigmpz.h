#ifndef TESTS_CRYPTO_BIGMPZ_H
#define TESTS_CRYPTO_BIGMPZ_H

// GMP beside the big numbers, for the native crypto tests and the fuzz
// tests.

#include "crypto/bignum.h"

#include <gmp.h>
#include <string.h>

#include <string>

// The independent arithmetic of the native build: a GMP integer, filled
// from a BigNum (sign included), and its value as MakeBig's hex text.
struct Mpz {
    mpz_t v;
    Mpz() { mpz_init(v); }
    ~Mpz() { mpz_clear(v); }
};

inline void ToMpz(const BigNum *n, Mpz *z) {
    mpz_import(z->v, n->length, -1, sizeof(uint32_t), 0, 0, n->words);
    if (n->sign < 0)
        mpz_neg(z->v, z->v);
}

inline std::string MpzHex(const Mpz &z) {
    char *s = mpz_get_str(nullptr, 16, z.v);
    std::string hex(s);
    void (*release)(void *, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(s, strlen(s) + 1);
    return hex;
}

#endif
