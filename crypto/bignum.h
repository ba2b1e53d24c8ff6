#ifndef CRYPTO_BIGNUM_H
#define CRYPTO_BIGNUM_H

// Signed integers of 32-bit words.
//
// Every operation writes its result into a number that the caller created
// with newBig. Results are always normalised: length >= 1 and the top word in
// use is non-zero unless the number is zero. Capacity grows to exactly the
// number of words a step needs and never shrinks while the number lives.
//
// Misuse (zero modulus or divisor, an aliasing that an operation forbids, an
// operand too long for the fast multiplication's fixed scratch array) and
// memory exhaustion are fatal: bigError(1, ...) writes
// "CRITICAL EXCEPTION: %s exiting.\n" to stderr and exits with status 1.
//
// Not re-entrant: the division routines and the fast multiplication share
// static scratch space, and bigMod shifts its modulus in place during a call.

#include <stddef.h>
#include <stdint.h>

struct BigNum {
    int32_t sign;      // +1 or -1; comparisons ignore it
    int32_t length;    // words in use, at least 1
    int32_t capacity;  // words allocated, at least length
    uint32_t *words;   // magnitude, least significant word first
};

// Fast multiplication splits operands into blocks of this many words.
enum { BIG_BLOCK_WORDS = 64, BIG_TMP_WORDS = 128 };

// The fatal report of an operand too long for the fixed scratch space.
extern const char kBigMsgTmpTooSmall[];

// Reports an arithmetic error. Severity 1 is fatal: the report is
// "CRITICAL EXCEPTION: <text> exiting.\n" on stderr and the process exits
// with status 1. Any other severity writes "WARNING: <text>\n" and returns.
void bigError(int32_t severity, const char *text);

// Returns a new number of value w (sign +1, length 1, capacity 1).
BigNum *newBig(uint32_t w);

// Overwrites all capacity words with zero, then frees the words and n.
// n may be null.
void freeBig(BigNum *n);

// n = the len bytes of buf read least significant first (len 0 gives 0).
// n's sign is untouched; capacity grows to ceil(len / 4) words if smaller.
void BufToBig(const unsigned char *buf, uint32_t len, BigNum *n);

// Writes |n| into buf as len bytes, least significant first, the bytes above
// its significant ones zero. Fatal ("BigToBuf: Buffer is too small.") when
// |n| needs more than len bytes; buf is then untouched.
void BigToBuf(const BigNum *n, uint32_t len, unsigned char *buf);

// Number of significant bits of |n|; 0 for zero.
int32_t bigBitLength(const BigNum *n);

// c = a (sign, length and words). c MAY be a.
void bigCopy(const BigNum *a, BigNum *c);

// Compares magnitudes: negative, 0 or positive as |a| <, =, > |b|. When the
// lengths differ the result is length(a) - length(b). Normalises a and b
// (their values do not change).
int32_t bigCompare(BigNum *a, BigNum *b);

// c = |a| + |b| with the sign of the longer operand (of a for equal lengths).
// c MAY be a or b.
void bigadd(const BigNum *a, const BigNum *b, BigNum *c);

// c = |a| - |b|; fatal unless |a| >= |b|. c's sign is untouched.
// c MAY be a or b.
void bigsub(const BigNum *a, const BigNum *b, BigNum *c);

// c = a - b, signs included. c MAY be a or b.
void bigSubSigned(BigNum *a, BigNum *b, BigNum *c);

// c = a * b; squares when a and b are the same number. c MUST be distinct
// from a and b (fatal otherwise).
void bigMultiply(const BigNum *a, const BigNum *b, BigNum *c);

// Schoolbook product; c MUST be distinct from a and b (fatal otherwise).
void lbigmult(const BigNum *a, const BigNum *b, BigNum *c);

// Schoolbook square, sign +1; c MUST be distinct from a (fatal otherwise).
void bigsquare(const BigNum *a, BigNum *c);

// Products for long operands: the 64-word block routine plus multiply-add of
// the remaining words; shorter or too unequal operands go to lbigmult and
// bigsquare. Fatal when the block would exceed BIG_TMP_WORDS: squaring needs
// length <= 127, and two operands both >= 128 words within a 2/3 ratio of
// each other cannot be multiplied. c MUST be distinct from a and b. The
// result's sign is left to bigMultiply.
void fast_multiply(const BigNum *a, const BigNum *b, BigNum *c);
void fast_square(const BigNum *a, BigNum *c);

// Karatsuba block routines: dst[0 .. 2n) = a[0 .. n) * b[0 .. n) (or the
// square of a), n a power of two >= BIG_BLOCK_WORDS. Blocks of
// BIG_BLOCK_WORDS words are multiplied directly; larger ones split in halves
// and need bigBlockScratchWords(n) words of scratch (none for n = 64).
// dst MUST NOT overlap a, b or scratch.
int32_t bigBlockScratchWords(int32_t n);
void bigBlockMultiply(const uint32_t *a, const uint32_t *b, int32_t n, uint32_t *dst,
                      uint32_t *scratch);
void bigBlockSquare(const uint32_t *a, int32_t n, uint32_t *dst, uint32_t *scratch);

// c = |a| * 2^bits, or floor(|a| / 2^bits); bits >= 0. c's sign is
// untouched. c MAY be a.
void bigShiftLeft(const BigNum *a, int32_t bits, BigNum *c);
void bigShiftRight(const BigNum *a, int32_t bits, BigNum *c);

// x = x + |a| * w * 2^(32 * offset), on magnitudes; x's sign is untouched.
// Grows x to length(a) + offset + 2 words first. x MUST be distinct from a.
void bigAddMulWord(const BigNum *a, uint32_t w, BigNum *x, int32_t offset);

// q = a / d truncated toward zero, r = a - q * d. A non-zero quotient has
// sign sign(a) * sign(d), a non-zero remainder the sign of a, zeros +1.
// Fatal if d is zero. r MAY be a; q MUST be distinct from a, d and r, and d
// from r. d is never changed.
void bigDivide(BigNum *a, BigNum *d, BigNum *q, BigNum *r);

// r = a mod m, truncated: a non-zero r has the sign of a. Fatal if m is
// zero. r MAY be a; r MUST be distinct from m. m is shifted in place during
// the call and restored (value and sign) before it returns.
void bigMod(BigNum *a, BigNum *m, BigNum *r);

// Blocks for records built on numbers (MontContext, PowerTable): fatal on
// exhaustion like every allocation here; bigRelease wipes `bytes` bytes of
// the block before freeing it.
void *bigAllocate(size_t bytes);
void bigRelease(void *block, size_t bytes);

// Replaces the allocator behind every number (headers, word arrays, static
// scratch). release receives the block and the size it was allocated with;
// the module wipes every block before releasing it. Passing NULLs restores
// malloc and free. Meant for tests (memory exhaustion, wiping); change it
// only while no number allocated by the previous allocator is alive, or when
// both free compatibly.
void bigSetAllocator(void *(*alloc)(size_t bytes), void (*release)(void *block, size_t bytes));

#endif
