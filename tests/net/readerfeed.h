#ifndef TESTS_NET_READERFEED_H
#define TESTS_NET_READERFEED_H

// Feeds the piece-by-piece readers (net/httphead.h, net/ftpreply.h) from
// memory as their clients do: each read takes at most the buffer's free
// space and at most a chosen piece size, so that one input is seen split at
// many points. Plain standard C++, shared by the unit tests and the fuzz
// targets; each checks the outcome in its own way.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "net/httphead.h"

// The HTTP client's buffer.
constexpr uint32_t kHttpHeadCapacity = 1024;

struct HttpHeadOutcome {
    HttpHeadStep step = kHttpHeadMore;   // the reader's final step
    uint32_t status = 0;                 // the reader's, at its final step
    std::string statusLine = "<none>";   // as handed out, if it was
    int32_t contentLength = -1;          // the reader's, at its final step
    std::string body;  // after Done or None: what was held and what was never read
    // The reader kept to its contract: never more than the capacity held,
    // room to read whenever it asked for more, the status line
    // zero-terminated inside what was held.
    bool sound = true;
};

// Reads response with a first read of at most first bytes and later reads
// of at most piece bytes (both at least 1).
HttpHeadOutcome FeedHttpHead(const std::string &response, size_t first, size_t piece);

// What ends the list of FeedFtpReplies.
extern const char kFedEof[];        // "<eof>": the stream ended inside a reply
extern const char kFedOverLimit[];  // "<over limit>": a reply was refused

struct FtpRepliesOutcome {
    // The final line of every reply in stream, in order, then kFedEof or
    // kFedOverLimit.
    std::vector<std::string> finals;
    // The reader kept to its contract: room to read whenever it asked for
    // more, each final line zero-terminated inside what was held.
    bool sound = true;
};

// Reads the replies in stream one after another with reads of at most piece
// bytes (at least 1).
FtpRepliesOutcome FeedFtpReplies(const std::string &stream, size_t piece);

#endif
