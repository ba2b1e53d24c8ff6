#ifndef NET_HTTPHEAD_H
#define NET_HTTPHEAD_H

// The reader of an HTTP response head, fed from memory: plain standard C++,
// shared by the HTTP client and its fuzz test.
//
// The head is read in place in the caller's buffer, which never holds more
// than its capacity: the reader asks for more bytes, hands out the status
// line once, and drops every other line as it goes. A header line longer
// than the buffer is skipped in pieces; only the status line must fit.
//
// The caller's loop:
//     HttpHeadStart(&head);
//     ended = false;
//     for (;;) switch (HttpHeadNext(&head, buffer, &held, capacity, ended)) {
//       kHttpHeadMore: read at most capacity - held bytes into buffer + held,
//                      add their number to held, ended = (nothing arrived);
//       kHttpHeadStatusLine: use the line at buffer (zero-terminated);
//       anything else: stop.
//     }

#include <stdint.h>

enum HttpHeadStep {
    // Read more: capacity - *held is at least 1. Call again afterwards.
    kHttpHeadMore,
    // The status line is at the start of buffer, zero-terminated, without
    // its line end; status is set. Call again to go on (the line is dropped
    // then).
    kHttpHeadStatusLine,
    // The empty line that ends the head was read; buffer[0 .. *held) is the
    // start of the body.
    kHttpHeadDone,
    // The data does not start with "HTTP/" (any case), or ends before its
    // eighth byte: the response has no head, status is 200 and everything
    // held is the start of the body. A start that may still become "HTTP/"
    // reads on until 8 bytes are held, however the data arrives.
    kHttpHeadNone,
    // The status line fills the buffer without a line end.
    kHttpHeadLineTooLong,
    // The status line is not "HTTP/<major>.<minor> <status>" with major at
    // most 1, or the data ended inside the head.
    kHttpHeadInvalid,
};

struct HttpHeadReader {
    uint8_t state;
    bool skipEndsHead;      // the skipped line's text is empty: it ends the head
    uint32_t scanned;       // bytes of the current line scanned, none an LF
    uint32_t statusLength;  // bytes of the handed-out status line and its LF
    uint32_t status;        // valid after kHttpHeadStatusLine or kHttpHeadNone
    int32_t contentLength;  // -1 when the head gave none
};

void HttpHeadStart(HttpHeadReader *reader);

// One step over buffer[0 .. *held), capacity >= 8 bytes. Every CR becomes a
// zero byte, so a line's text ends at its first CR; an LF ends the line.
// Lines are removed from the front of buffer as they are read, *held
// dropping accordingly. ended tells that the read asked for by the last
// kHttpHeadMore gave nothing (false on the first call). After a final step
// (Done, None, LineTooLong, Invalid) the reader is not called again.
HttpHeadStep HttpHeadNext(HttpHeadReader *reader, char *buffer, uint32_t *held, uint32_t capacity,
                          bool ended);

// The status line "HTTP/%d.%d %d" matched as sscanf matches that format
// (leading white space before each number, one sign, the blank before the
// status standing for any white space, none included). Gives false, with
// the outputs partly written, when a number is missing.
bool ParseStatusLine(const char *line, int *major, int *minor, int *status);

#endif
