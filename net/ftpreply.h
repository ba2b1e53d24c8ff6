#ifndef NET_FTPREPLY_H
#define NET_FTPREPLY_H

// The reader of FTP replies, fed from memory: plain standard C++, shared by
// the FTP client and its fuzz test.
//
// A reply is any number of lines ending in LF; the first line that starts
// with three digits and a blank is its final line, and every line before it
// is dropped. Lines may be of any length: a line that does not fit the
// buffer keeps its first kFtpKeptLineLength bytes and the rest of it is
// skipped in pieces. One reply of more than kFtpReplyLimit bytes (up to the
// end of its final line) is refused.
//
// The caller's loop for one reply:
//     FtpReplyStart(buffer, &state);
//     while ((step = FtpReplyNext(buffer, &state)) == kFtpReplyMore)
//         read at most kFtpReplyBufferSize - state.held bytes into
//         buffer + state.held and add their number to state.held
//         (the end of the data ends the reply unfinished);
// then on kFtpReplyDone the final line is at the start of buffer.

#include <stdint.h>

enum {
    // The reply buffer; a line of up to 254 bytes before its CR LF is kept
    // whole.
    kFtpReplyBufferSize = 256,
    // What is kept of a longer line: the reply number and far more text
    // than an error box shows.
    kFtpKeptLineLength = 192,
    // A greeting or a multi-line reply of more is not a server we talk to.
    kFtpReplyLimit = 65536,
};

enum FtpReplyStep {
    kFtpReplyMore,       // read more (kFtpReplyBufferSize - held >= 1), call again
    kFtpReplyDone,       // the final line is at the start of the buffer
    kFtpReplyOverLimit,  // the reply is longer than kFtpReplyLimit bytes
};

// Where the reader stands in the caller's buffer of kFtpReplyBufferSize
// bytes; all zero before the first reply on a connection.
struct FtpReplyState {
    uint32_t held;     // bytes in the buffer
    uint32_t lineEnd;  // after kFtpReplyDone: where the next reply's bytes start
    uint32_t scanned;  // bytes of the current line scanned, none an LF
    uint32_t kept;     // 0, or the kept length of a line being skipped
    uint32_t dropped;  // bytes of this reply dropped so far
};

// Begins a reply: the bytes that came behind the last reply's final line
// (a server may send a transfer's 150 and 226 in one piece) move to the
// start of the buffer.
void FtpReplyStart(char *buffer, FtpReplyState *state);

// Scans what is held. Every CR becomes a zero byte, so a line's text ends
// at its first CR; the LF after a line becomes a zero byte too. On
// kFtpReplyDone the final line's text is zero-terminated at the start of the
// buffer and the bytes after it, up to held, belong to the next reply.
FtpReplyStep FtpReplyNext(char *buffer, FtpReplyState *state);

// True when line starts with three digits and a blank.
bool FtpIsFinalLine(const char *line);

// The reply number of a final line (its three digits as a decimal).
int FtpReplyNumber(const char *line);

#endif
