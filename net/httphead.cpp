#include "net/httphead.h"

#include <string.h>

#include "net/decimal.h"

namespace {

enum State : uint8_t {
    kBeforeFirstRead,
    kFirstRead,
    kStatusLine,
    kHeaderLine,
    kSkipLine,  // a header line longer than the buffer, read in pieces
};

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// Compares the first length bytes of text with lower-case prefix without
// regard to case; text may end (zero byte) before that.
bool StartsWithNoCase(const char *text, const char *prefix, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != prefix[i])
            return false;
    return true;
}

// Reads a decimal number as scanf's %d does: white space, one sign, then at
// least one digit. Advances *text past it; false when there is no digit.
bool ScanInt(const char **text, int *value) {
    const char *p = *text;
    while (IsSpace(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint32_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = magnitude * 10 + (uint32_t)(*p - '0');
    *value = (int)(negative ? 0u - magnitude : magnitude);
    *text = p;
    return true;
}

void Drop(char *buffer, uint32_t *held, uint32_t count) {
    memmove(buffer, buffer + count, *held - count);
    *held -= count;
}

// Scans on from reader->scanned for an LF, turning CRs into zero bytes.
// Gives the LF's offset, or *held when none is held.
uint32_t FindLineEnd(HttpHeadReader *reader, char *buffer, uint32_t held) {
    for (; reader->scanned < held; ++reader->scanned) {
        char &c = buffer[reader->scanned];
        if (c == '\n')
            return reader->scanned;
        if (c == '\r')
            c = '\0';
    }
    return held;
}

// The line buffer[0 .. lineEnd] (its LF at lineEnd) is complete. Gives
// kHttpHeadMore to go on with the next line held.
HttpHeadStep CompleteLine(HttpHeadReader *reader, char *buffer, uint32_t *held, uint32_t lineEnd) {
    buffer[lineEnd] = '\0';
    uint32_t lineSize = lineEnd + 1;
    reader->scanned = 0;
    switch (reader->state) {
        case kStatusLine: {
            int major = 0, minor = 0, status = 0;
            if (!ParseStatusLine(buffer, &major, &minor, &status) || major > 1)
                return kHttpHeadInvalid;
            reader->status = (uint32_t)status;
            reader->statusLength = lineSize;
            reader->state = kHeaderLine;
            return kHttpHeadStatusLine;
        }
        case kSkipLine:
            Drop(buffer, held, lineSize);
            reader->state = kHeaderLine;
            return reader->skipEndsHead ? kHttpHeadDone : kHttpHeadMore;
        default: {
            bool empty = buffer[0] == '\0';
            if (!empty && StartsWithNoCase(buffer, "content-length:", 15))
                reader->contentLength = ScanDecimal(buffer + 15);
            Drop(buffer, held, lineSize);
            return empty ? kHttpHeadDone : kHttpHeadMore;
        }
    }
}

// No LF among the held bytes: ask for more, or give up.
HttpHeadStep NeedMore(HttpHeadReader *reader, const char *buffer, uint32_t *held, uint32_t capacity,
                      bool ended) {
    if (ended)
        return kHttpHeadInvalid;
    switch (reader->state) {
        case kStatusLine:
            return *held == capacity ? kHttpHeadLineTooLong : kHttpHeadMore;
        case kHeaderLine:
            if (*held < capacity)
                return kHttpHeadMore;
            // A line whose text is empty (it starts with CR or a zero byte)
            // ends the head, however long it is.
            reader->skipEndsHead = buffer[0] == '\0';
            reader->state = kSkipLine;
            break;
        default:
            break;
    }
    // The line being skipped has no LF yet: what is held of it goes.
    *held = 0;
    reader->scanned = 0;
    return kHttpHeadMore;
}

}  // namespace

bool ParseStatusLine(const char *line, int *major, int *minor, int *status) {
    const char *p = line + 5;
    return strncmp(line, "HTTP/", 5) == 0 && ScanInt(&p, major) && *p++ == '.' &&
           ScanInt(&p, minor) && ScanInt(&p, status);
}

void HttpHeadStart(HttpHeadReader *reader) {
    *reader = HttpHeadReader();
    reader->state = kBeforeFirstRead;
    reader->contentLength = -1;
}

HttpHeadStep HttpHeadNext(HttpHeadReader *reader, char *buffer, uint32_t *held, uint32_t capacity,
                          bool ended) {
    switch (reader->state) {
        case kBeforeFirstRead:
            reader->state = kFirstRead;
            return kHttpHeadMore;
        case kFirstRead:
            // Servers before HTTP/1.0 answer with the body alone. TCP keeps
            // no segment bounds, so a start that may still become a status
            // line waits for its eighth byte, or the end of the data.
            if (*held < 8 && !ended && StartsWithNoCase(buffer, "http/", *held < 5 ? *held : 5))
                return kHttpHeadMore;
            if (*held < 8 || !StartsWithNoCase(buffer, "http/", 5)) {
                reader->status = 200;
                return kHttpHeadNone;
            }
            reader->state = kStatusLine;
            break;
        default:
            break;
    }
    if (reader->statusLength) {
        Drop(buffer, held, reader->statusLength);
        reader->statusLength = 0;
    }
    for (;;) {
        uint32_t lineEnd = FindLineEnd(reader, buffer, *held);
        if (lineEnd == *held)
            return NeedMore(reader, buffer, held, capacity, ended);
        HttpHeadStep step = CompleteLine(reader, buffer, held, lineEnd);
        if (step != kHttpHeadMore)
            return step;
    }
}
