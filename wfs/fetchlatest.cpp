// The signed LATEST pointer, in a file of its own so that a program that
// never asks for it (the installer) links no DSA code.

#include "crypto/bignum.h"
#include "wfs/latest.h"
#include "wfs/store.h"
#include "wfs/wfs.h"

int32_t WfsFetchLatest(const DsaKey *key, uint32_t out[5]) {
    // Only the first 60 bytes are asked for; more would not be read anyway.
    unsigned char latest[LATEST_FILE_SIZE];
    int32_t n = WfsReadFromServers("LATEST", latest, sizeof latest);
    if (n < 0)
        return -1;
    const char *error;
    if (LatestVerify(latest, (uint32_t)n, key, out, &error) < 0) {
        WfsSetLastError(error);
        return -1;
    }
    return 0;
}

int32_t WfsFetchLatestWithKey(const WfsKeyNumber key[kWfsKeyNumbers], uint32_t out[5]) {
    BigNum *numbers[kWfsKeyNumbers];
    for (int i = 0; i < kWfsKeyNumbers; i++) {
        numbers[i] = newBig(0);
        BufToBig(key[i].bytes, key[i].length, numbers[i]);
    }
    DsaKey dsa = {numbers[0], numbers[1], numbers[2], numbers[3], nullptr};
    int32_t status = WfsFetchLatest(&dsa, out);
    for (BigNum *n : numbers)
        freeBig(n);
    return status;
}
