#ifndef WFS_DIGEST_H
#define WFS_DIGEST_H

#include <stdint.h>

// A digest is the five SHA-1 chaining words H0..H4 after the last block.
// As a memory block it is their image in order, each word little-endian.
struct Digest {
    uint32_t word[5];
};

// A digest name is 32 characters over "0123456789abcdefghijklmnopqrstuv".
// Character k is the 5-bit group k, least significant first, of the number
// H0 + H1*2^32 + ... + H4*2^128. Lower case only.
enum { kDigestNameLength = 32 };

// Writes the 32 characters and a NUL into name (at least 33 bytes).
void DigestToName(const Digest *digest, char *name);

// Reads exactly the first 32 characters of text; what follows is not looked
// at. Returns 0 and fills *digest, or -1 at the first byte outside the
// lower-case alphabet (a shorter text's NUL included); *digest is then
// partly written and must not be used.
int32_t NameToDigest(const char *text, Digest *digest);

// True when all five words are equal.
bool DigestEqual(const Digest *a, const Digest *b);

// The digest of no bytes, named "ev8j3dn1bqqslnvnlic09c0clc2e0cvl".
extern const Digest kEmptyDigest;

struct Sha1Context;

// The digest a hash ended with: its five chaining words after Sha1Final.
void DigestFromHash(const Sha1Context *finished, Digest *digest);

#endif
