#ifndef TOOLS_MKSETUP_HMACSHA1_H
#define TOOLS_MKSETUP_HMACSHA1_H

// HMAC-SHA1 (RFC 2104) over wfs/sha1, with the digest as the standard's
// 20-byte string (each chaining word most significant byte first), not the
// little-endian word image that digest names use.

#include <stdint.h>

#include "wfs/sha1.h"

enum { kSha1Bytes = 20 };

// The standard byte string of a finished digest.
void Sha1DigestBytes(const Sha1Context *ctx, unsigned char out[kSha1Bytes]);

struct HmacSha1 {
    Sha1Context inner;  // H(K ^ ipad || message ...)
    Sha1Context outer;  // H(K ^ opad || ...), waiting for the inner digest
};

// Starts a MAC under key (any length; keys over 64 bytes are hashed first).
void HmacSha1Init(HmacSha1 *mac, const unsigned char *key, uint32_t keyLength);
void HmacSha1Update(HmacSha1 *mac, const void *data, uint32_t count);
// Writes the 20-byte MAC; the context is then spent.
void HmacSha1Final(HmacSha1 *mac, unsigned char out[kSha1Bytes]);

#endif
