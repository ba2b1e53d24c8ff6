// NameToDigest on any text: it accepts exactly the texts whose first 32
// characters are in the alphabet, never reads past the first bad one, and
// DigestToName gives those 32 characters back.

#include <string.h>

#include <vector>

#include "tests/fuzz/fuzz.h"
#include "wfs/digest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Exactly the input's bytes and a terminator, so that AddressSanitizer
    // sees any read beyond the text.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    bool valid = size >= kDigestNameLength;
    for (size_t i = 0; valid && i < kDigestNameLength; ++i)
        valid = (text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'v');
    Digest digest;
    int32_t result = NameToDigest(text.data(), &digest);
    FUZZ_CHECK((result == 0) == valid);
    if (valid) {
        char name[kDigestNameLength + 1];
        DigestToName(&digest, name);
        FUZZ_CHECK(memcmp(name, text.data(), kDigestNameLength) == 0 &&
                   name[kDigestNameLength] == '\0');
    }
    return 0;
}
