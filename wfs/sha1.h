#ifndef WFS_SHA1_H
#define WFS_SHA1_H

#include <stdint.h>

// Streaming SHA-1. The digest is the five chaining words themselves, never
// the standard's big-endian byte string.
struct Sha1Context {
    uint32_t state[5];   // chaining words; the digest after Sha1Final
    uint32_t buffered;   // bytes waiting in block, 0 to 63
    uint64_t bitLength;  // bits hashed so far, counted per completed block
    unsigned char block[64];
};

// Starts a digest. A context is reused only after a new Sha1Init.
void Sha1Init(Sha1Context *ctx);

// Hashes count bytes (0 included). data may be null when count is 0.
void Sha1Update(Sha1Context *ctx, const void *data, uint32_t count);

// Pads and hashes the last block(s); ctx->state is then the digest. Call once.
void Sha1Final(Sha1Context *ctx);

// The block function Sha1Update uses: the CPU's SHA instructions when it has
// them (with SSSE3 and SSE4.1), chosen on first use, else portable code. Both
// give the same digests.
enum Sha1Engine { kSha1Portable, kSha1ShaInstructions };

// The engine in use now.
Sha1Engine Sha1CurrentEngine(void);

// With portable true, every later update uses the portable code even on a
// CPU with SHA instructions; with false the choice is the CPU's again. For
// tests and benchmarks that compare the two; not safe while another thread
// hashes.
void Sha1ForcePortable(bool portable);

#endif
