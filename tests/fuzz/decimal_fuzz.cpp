// ScanDecimal and HostTextPort against strtoull, in narrow and wide text.

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "net/decimal.h"
#include "tests/fuzz/fuzz.h"

namespace {

// atoi wrapping modulo 2^32: strtoull's value kept to its low 32 bits,
// when the digits are few enough for it not to saturate.
bool Reference(const char *text, int32_t *value) {
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    if (strspn(p, "0123456789") > 19)
        return false;
    errno = 0;
    unsigned long long wide = strtoull(text, nullptr, 10);
    *value = (int32_t)(uint32_t)wide;
    return errno == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();  // up to the first zero byte
    std::wstring wide(text.begin(), text.end());
    int32_t value = ScanDecimal(text.c_str());
    FUZZ_CHECK(ScanDecimal(wide.c_str()) == value);
    int32_t expected;
    if (Reference(text.c_str(), &expected))
        FUZZ_CHECK(value == expected);

    size_t colon = text.find(':');
    uint16_t port =
        colon == std::string::npos ? 80 : (uint16_t)ScanDecimal(text.c_str() + colon + 1);
    FUZZ_CHECK(HostTextPort(text.c_str(), (uint16_t)80) == port);
    FUZZ_CHECK(HostTextPort(wide.c_str(), (uint16_t)80) == port);
    return 0;
}
