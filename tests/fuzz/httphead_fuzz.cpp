// The response head reader against a plain reading of the whole response,
// with the reads split at sizes the input chooses.

#include <string.h>

#include <algorithm>
#include <string>

#include "net/decimal.h"
#include "net/httphead.h"
#include "tests/fuzz/fuzz.h"

namespace {

constexpr uint32_t kCapacity = 1024;  // the HTTP client's buffer

struct Outcome {
    HttpHeadStep step = kHttpHeadMore;
    uint32_t status = 0;
    std::string statusLine;
    int32_t contentLength = -1;
    std::string body;

    bool operator==(const Outcome &o) const {
        bool read = step == kHttpHeadDone || step == kHttpHeadNone;
        return step == o.step && (!read || (status == o.status && statusLine == o.statusLine &&
                                            contentLength == o.contentLength && body == o.body));
    }
};

// The reader, with a first read of at most first bytes and later reads of
// at most piece bytes.
Outcome Read(const std::string &response, size_t first, size_t piece) {
    char buffer[kCapacity];
    uint32_t held = 0;
    size_t offset = 0;
    bool ended = false;
    bool firstRead = true;
    HttpHeadReader head;
    HttpHeadStart(&head);
    Outcome out;
    for (;;) {
        out.step = HttpHeadNext(&head, buffer, &held, kCapacity, ended);
        FUZZ_CHECK(held <= kCapacity);
        if (out.step == kHttpHeadMore) {
            FUZZ_CHECK(held < kCapacity);
            size_t got = std::min(
                {firstRead ? first : piece, (size_t)(kCapacity - held), response.size() - offset});
            memcpy(buffer + held, response.data() + offset, got);
            held += (uint32_t)got;
            offset += got;
            ended = got == 0;
            firstRead = false;
        } else if (out.step == kHttpHeadStatusLine) {
            FUZZ_CHECK(memchr(buffer, '\0', held) != nullptr);
            out.statusLine = buffer;
        } else {
            break;
        }
    }
    out.status = head.status;
    out.contentLength = head.contentLength;
    out.body = std::string(buffer, held) + response.substr(offset);
    return out;
}

// A line's text ends at its first CR or zero byte.
std::string Text(const std::string &line) {
    return line.substr(0, line.find_first_of(std::string("\r\0", 2)));
}

bool StartsWithNoCase(const std::string &text, const char *prefix) {
    size_t n = strlen(prefix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower((unsigned char)text[i]) != prefix[i])
            return false;
    return true;
}

// The whole response read as the head's rules say.
Outcome Reference(const std::string &response) {
    Outcome out;
    std::string first = response.substr(0, kCapacity);
    if (first.size() < 8 || !StartsWithNoCase(first, "http/")) {
        out.step = kHttpHeadNone;
        out.status = 200;
        out.body = response;
        return out;
    }
    size_t end = response.find('\n');
    if ((end == std::string::npos && response.size() >= kCapacity) ||
        (end != std::string::npos && end >= kCapacity)) {
        out.step = kHttpHeadLineTooLong;
        return out;
    }
    int major = 0, minor = 0, status = 0;
    if (end == std::string::npos ||
        !ParseStatusLine(Text(response.substr(0, end)).c_str(), &major, &minor, &status) ||
        major > 1) {
        out.step = kHttpHeadInvalid;
        return out;
    }
    out.status = (uint32_t)status;
    out.statusLine = Text(response.substr(0, end));
    for (size_t start = end + 1;; start = end + 1) {
        end = response.find('\n', start);
        if (end == std::string::npos) {
            out.step = kHttpHeadInvalid;
            return out;
        }
        std::string text = Text(response.substr(start, end - start));
        if (text.empty()) {
            out.step = kHttpHeadDone;
            out.body = response.substr(end + 1);
            return out;
        }
        // Only lines that fit the buffer are looked at.
        if (end + 1 - start <= kCapacity && StartsWithNoCase(text, "content-length:"))
            out.contentLength = ScanDecimal(text.c_str() + 15);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t piece = 1 + data[0] % 128;
    std::string response(reinterpret_cast<const char *>(data) + 1, size - 1);
    Outcome expected = Reference(response);
    FUZZ_CHECK(Read(response, kCapacity, kCapacity) == expected);
    FUZZ_CHECK(Read(response, piece, piece) == expected);
    return 0;
}
