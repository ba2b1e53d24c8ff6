// The signed LATEST pointer, in a file of its own so that a program that
// never asks for it (the installer) links no DSA code.

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
