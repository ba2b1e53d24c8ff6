#ifndef WFS_LATEST_H
#define WFS_LATEST_H

// The signed pointer file "LATEST" that lies beside the data resources: a
// 160-bit pointer (the digest of the newest setup description) and its DSA
// signature. Plain C++: no Windows header.

#include <stdint.h>

#include "crypto/dsa.h"

// m, r, s, 20 bytes each, least significant byte first. The key's q is at
// most 160 bits, so that r and s fit their 20 bytes.
enum { LATEST_FIELD_SIZE = 20, LATEST_FILE_SIZE = 3 * LATEST_FIELD_SIZE };

extern const char kLatestWrongSize[];     // "signature file is the wrong size"
extern const char kLatestBadSignature[];  // "signature does not match public key"

// Checks the size bytes of a LATEST file against key. On success returns 0
// and writes m as five words, least significant first (out[i] is bytes
// 4i .. 4i+3, least significant byte first). On failure returns -1, sets
// *error to kLatestWrongSize (size != LATEST_FILE_SIZE) or
// kLatestBadSignature, and leaves out untouched. error MAY be null.
int32_t LatestVerify(const unsigned char *data, uint32_t size, const DsaKey *key, uint32_t out[5],
                     const char **error);

#endif
