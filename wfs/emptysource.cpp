#include "wfs/emptysource.h"

#include "wfs/digest.h"

namespace {

int32_t Init(void) {
    return 0;
}

int32_t Open(const char *name) {
    Digest digest;
    return NameToDigest(name, &digest) == 0 && name[kDigestNameLength] == '\0' &&
                   DigestEqual(&digest, &kEmptyDigest)
               ? 0
               : -1;
}

int32_t Read(void *, uint32_t) {
    return 0;
}

int32_t Close(void) {
    return 0;
}

void Shutdown(void) {}

const char *ErrorText(void) {
    return "unknown error";
}

}  // namespace

const WfsSource kEmptySource = {
    Init, WfsNoConnection, Open, Read, Close, Shutdown, ErrorText,
};
