#ifndef TOOLS_MKSETUP_SYSRANDOM_H
#define TOOLS_MKSETUP_SYSRANDOM_H

// The system's random source: RtlGenRandom on Windows, /dev/urandom
// elsewhere.

#include <stdint.h>

// Fills buf with len random bytes; a RandomSource fill (crypto/prime.h),
// context unused. Returns 0, or -1 when the source failed.
int32_t SystemRandomFill(void *context, unsigned char *buf, uint32_t len);

#endif
