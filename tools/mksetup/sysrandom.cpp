#include "tools/mksetup/sysrandom.h"

#ifdef _WIN32
#include <windows.h>
// RtlGenRandom (advapi32's SystemFunction036): present from Windows XP on.
#include <ntsecapi.h>
#else
#include <stdio.h>
#endif

int32_t SystemRandomFill(void *, unsigned char *buf, uint32_t len) {
#ifdef _WIN32
    return RtlGenRandom(buf, len) ? 0 : -1;
#else
    FILE *source = fopen("/dev/urandom", "rb");
    if (source == nullptr)
        return -1;
    size_t got = fread(buf, 1, len, source);
    fclose(source);
    return got == len ? 0 : -1;
#endif
}
