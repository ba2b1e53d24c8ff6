// The response head reader against a plain reading of the whole response,
// with the reads split at sizes the input chooses (tests/net/readerfeed.h).

#include <string.h>

#include <string>

#include "net/decimal.h"
#include "net/httphead.h"
#include "tests/fuzz/fuzz.h"
#include "tests/net/readerfeed.h"

namespace {

// The fields the reader gave are compared only where it read them.
bool Same(const HttpHeadOutcome &a, const HttpHeadOutcome &b) {
    bool read = a.step == kHttpHeadDone || a.step == kHttpHeadNone;
    return a.step == b.step && (!read || (a.status == b.status && a.statusLine == b.statusLine &&
                                          a.contentLength == b.contentLength && a.body == b.body));
}

// A reading whose reader broke its contract stops the run.
HttpHeadOutcome Read(const std::string &response, size_t first, size_t piece) {
    HttpHeadOutcome out = FeedHttpHead(response, first, piece);
    FUZZ_CHECK(out.sound);
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
HttpHeadOutcome Reference(const std::string &response) {
    HttpHeadOutcome out;
    std::string first = response.substr(0, kHttpHeadCapacity);
    if (first.size() < 8 || !StartsWithNoCase(first, "http/")) {
        out.step = kHttpHeadNone;
        out.status = 200;
        out.body = response;
        return out;
    }
    size_t end = response.find('\n');
    if ((end == std::string::npos && response.size() >= kHttpHeadCapacity) ||
        (end != std::string::npos && end >= kHttpHeadCapacity)) {
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
        if (end + 1 - start <= kHttpHeadCapacity && StartsWithNoCase(text, "content-length:"))
            out.contentLength = ScanDecimal(text.c_str() + 15);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t piece = 1 + data[0] % 128;
    std::string response(reinterpret_cast<const char *>(data) + 1, size - 1);
    HttpHeadOutcome expected = Reference(response);
    FUZZ_CHECK(Same(Read(response, kHttpHeadCapacity, kHttpHeadCapacity), expected));
    FUZZ_CHECK(Same(Read(response, piece, piece), expected));
    return 0;
}
