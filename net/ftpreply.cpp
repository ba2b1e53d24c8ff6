#include "net/ftpreply.h"

#include <string.h>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Removes count bytes from the front of the buffer.
void Drop(char *buffer, FtpReplyState *state, uint32_t count) {
    memmove(buffer, buffer + count, state->held - count);
    state->held -= count;
    state->dropped += count;
}

// No LF is held: the current line goes on. A line that fills the buffer
// keeps its first kFtpKeptLineLength bytes; later pieces of it are dropped.
FtpReplyStep AwaitLineEnd(FtpReplyState *state) {
    if (state->kept == 0 && state->held == kFtpReplyBufferSize)
        state->kept = kFtpKeptLineLength;
    if (state->kept != 0) {
        state->dropped += state->held - state->kept;
        state->held = state->kept;
        state->scanned = state->kept;
    }
    // The reply is at least one byte longer than what has been seen.
    if (state->dropped + state->held >= kFtpReplyLimit)
        return kFtpReplyOverLimit;
    return kFtpReplyMore;
}

// The LF at lineEnd ends the current line; gives the line's size, LF
// included, as it now stands in the buffer.
uint32_t EndLine(char *buffer, FtpReplyState *state, uint32_t lineEnd) {
    if (state->kept == 0) {
        buffer[lineEnd] = '\0';
        return lineEnd + 1;
    }
    // The kept part, a zero byte, then what followed the LF.
    uint32_t kept = state->kept;
    uint32_t after = state->held - lineEnd - 1;
    buffer[kept] = '\0';
    memmove(buffer + kept + 1, buffer + lineEnd + 1, after);
    state->dropped += lineEnd - kept;
    state->held = kept + 1 + after;
    state->kept = 0;
    return kept + 1;
}

}  // namespace

bool FtpIsFinalLine(const char *line) {
    return IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == ' ';
}

int FtpReplyNumber(const char *line) {
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

void FtpReplyStart(char *buffer, FtpReplyState *state) {
    memmove(buffer, buffer + state->lineEnd, state->held - state->lineEnd);
    state->held -= state->lineEnd;
    state->lineEnd = 0;
    state->scanned = 0;
    state->kept = 0;
    state->dropped = 0;
}

FtpReplyStep FtpReplyNext(char *buffer, FtpReplyState *state) {
    for (;;) {
        // Invariant: the current line starts at buffer[0].
        while (state->scanned < state->held && buffer[state->scanned] != '\n') {
            if (buffer[state->scanned] == '\r')
                buffer[state->scanned] = '\0';
            state->scanned++;
        }
        if (state->scanned == state->held)
            return AwaitLineEnd(state);
        uint32_t lineSize = EndLine(buffer, state, state->scanned);
        state->scanned = 0;
        if (state->dropped + lineSize > kFtpReplyLimit)
            return kFtpReplyOverLimit;
        if (FtpIsFinalLine(buffer)) {
            state->lineEnd = lineSize;
            return kFtpReplyDone;
        }
        Drop(buffer, state, lineSize);
    }
}
