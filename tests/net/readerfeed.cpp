#include "tests/net/readerfeed.h"

#include <string.h>

#include <algorithm>

#include "net/ftpreply.h"

const char kFedEof[] = "<eof>";
const char kFedOverLimit[] = "<over limit>";

HttpHeadOutcome FeedHttpHead(const std::string &response, size_t first, size_t piece) {
    char buffer[kHttpHeadCapacity];
    uint32_t held = 0;
    size_t offset = 0;
    size_t nextRead = first;
    bool ended = false;
    HttpHeadReader head;
    HttpHeadStart(&head);
    HttpHeadOutcome out;
    for (;;) {
        out.step = HttpHeadNext(&head, buffer, &held, kHttpHeadCapacity, ended);
        out.sound = out.step == kHttpHeadMore ? held < kHttpHeadCapacity
                                              : held <= kHttpHeadCapacity;
        if (!out.sound)
            return out;
        if (out.step == kHttpHeadMore) {
            size_t got =
                std::min({nextRead, (size_t)(kHttpHeadCapacity - held), response.size() - offset});
            memcpy(buffer + held, response.data() + offset, got);
            held += (uint32_t)got;
            offset += got;
            ended = got == 0;
            nextRead = piece;
        } else if (out.step == kHttpHeadStatusLine) {
            out.sound = memchr(buffer, '\0', held) != nullptr;
            if (!out.sound)
                return out;
            out.statusLine = buffer;
        } else {
            break;
        }
    }
    out.status = head.status;
    out.contentLength = head.contentLength;
    if (out.step == kHttpHeadDone || out.step == kHttpHeadNone)
        out.body = std::string(buffer, held) + response.substr(offset);
    return out;
}

FtpRepliesOutcome FeedFtpReplies(const std::string &stream, size_t piece) {
    char buffer[kFtpReplyBufferSize];
    FtpReplyState state = {};
    size_t offset = 0;
    FtpRepliesOutcome out;
    for (;;) {
        FtpReplyStart(buffer, &state);
        FtpReplyStep step;
        while ((step = FtpReplyNext(buffer, &state)) == kFtpReplyMore) {
            out.sound = state.held < kFtpReplyBufferSize;
            if (!out.sound)
                return out;
            size_t got = std::min(
                {piece, kFtpReplyBufferSize - (size_t)state.held, stream.size() - offset});
            if (got == 0) {
                out.finals.push_back(kFedEof);
                return out;
            }
            memcpy(buffer + state.held, stream.data() + offset, got);
            state.held += (uint32_t)got;
            offset += got;
        }
        if (step == kFtpReplyOverLimit) {
            out.finals.push_back(kFedOverLimit);
            return out;
        }
        out.sound = state.lineEnd > 0 && state.lineEnd <= state.held &&
                    buffer[state.lineEnd - 1] == '\0';
        if (!out.sound)
            return out;
        out.finals.push_back(buffer);
    }
}
