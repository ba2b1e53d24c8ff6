// Links the store and nothing above it; the empty resource needs no server.
#include "wfs/wfs.h"

int main() {
    if (WfsInit("http://127.0.0.1:1/", "ftp://127.0.0.1:1/") < 0)
        return 1;
    char buffer[1];
    int32_t n = WfsReadAll(&kEmptyDigest, buffer, sizeof buffer);
    WfsShutdown();
    return n == 0 ? 0 : 2;
}
