// SHA-1 throughput: 256 MiB hashed in updates of 4096 bytes from one buffer
// that stays in the cache, as `openssl speed -evp sha1 -bytes 4096` does.
// Prints one line per engine the CPU offers, in MB/s (10^6 bytes):
//   sha_instructions 2012.3
//   portable 790.4
#include <stdio.h>

#include <chrono>

#include "wfs/sha1.h"

namespace {

enum { kChunk = 4096, kTotal = 256 << 20 };

double MegabytesPerSecond(void) {
    static unsigned char chunk[kChunk];
    for (int i = 0; i < kChunk; i++)
        chunk[i] = (unsigned char)(i * 7 + 1);
    Sha1Context ctx;
    Sha1Init(&ctx);
    auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < kTotal; done += kChunk)
        Sha1Update(&ctx, chunk, kChunk);
    Sha1Final(&ctx);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    // Depends on the digest, so the work cannot be left out.
    return kTotal / elapsed.count() / 1e6 + (ctx.state[0] & 1) * 1e-9;
}

}  // namespace

int main() {
    if (Sha1CurrentEngine() == kSha1ShaInstructions)
        printf("sha_instructions %.1f\n", MegabytesPerSecond());
    Sha1ForcePortable(true);
    printf("portable %.1f\n", MegabytesPerSecond());
    return 0;
}
