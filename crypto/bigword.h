#ifndef CRYPTO_BIGWORD_H
#define CRYPTO_BIGWORD_H

// The word product of the two arithmetic kernels, shared by the big-number
// routines and the Montgomery multiplication. Internal to crypto/.
//
// BIG_KERNEL16 is the portable kernel: no 64-bit multiply, each 32x32-bit
// product from three 16x16-bit ones. The default lets the compiler multiply
// 32x32 into 64 bits.

#include <stdint.h>

#ifdef BIG_KERNEL16

// hi:lo = a * b from three 16x16-bit products: a1*b1, a0*b0 and the signed
// product of the half-differences, (a1 - a0) * (b0 - b1), which together
// with the other two gives the middle term a1*b0 + a0*b1.
inline void Mul32(uint32_t a, uint32_t b, uint32_t *hi, uint32_t *lo) {
    uint32_t a1 = a >> 16, a0 = a & 0xFFFF;
    uint32_t b1 = b >> 16, b0 = b & 0xFFFF;
    uint32_t hh = a1 * b1;
    uint32_t ll = a0 * b0;
    uint32_t da = a1 >= a0 ? a1 - a0 : a0 - a1;
    uint32_t db = b0 >= b1 ? b0 - b1 : b1 - b0;
    bool negative = (a1 < a0) != (b0 < b1);
    uint32_t dd = da * db;
    // mid_hi:mid = a1*b0 + a0*b1 = hh + ll +/- dd, a 33-bit value. The sign
    // selects by mask: a branch on it would be mispredicted half the time.
    uint32_t sum = hh + ll;
    uint32_t sum_hi = sum < hh;
    uint32_t plus = sum + dd, minus = sum - dd;
    uint32_t carry = plus < dd, borrow = sum < dd;
    uint32_t mask = 0u - static_cast<uint32_t>(negative);
    uint32_t mid = (minus & mask) | (plus & ~mask);
    uint32_t mid_hi = sum_hi + (((0u - borrow) & mask) | (carry & ~mask));
    uint32_t low = ll + (mid << 16);
    *hi = hh + (mid >> 16) + (mid_hi << 16) + (low < ll);
    *lo = low;
}

#else

inline void Mul32(uint32_t a, uint32_t b, uint32_t *hi, uint32_t *lo) {
    uint64_t p = static_cast<uint64_t>(a) * b;
    *hi = static_cast<uint32_t>(p >> 32);
    *lo = static_cast<uint32_t>(p);
}

#endif

#endif
