#ifndef WFS_NETSOURCE_H
#define WFS_NETSOURCE_H

#include <stdint.h>

#include <atomic>

#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

#include "net/tcp.h"

// What the HTTP and FTP download sources share: their state besides the
// client, their error capture, and the steps that only differ by the client
// behind them.

// The text of a download source's latest failure: the description of the
// error object that a failed client call left on the thread, turned into
// 8-bit text (ANSI code page) when first asked for. Each source keeps one.
struct SourceError {
    BSTR description;  // null when the failure recorded none
    char *text;        // made from description on demand, or null
};

// Forgets the previous failure.
void SourceErrorClear(SourceError *error);

// Forgets the previous failure and keeps the description of the thread's
// error object, if there is one. Returns code unchanged.
int32_t SourceErrorCapture(SourceError *error, HRESULT code);

// The failure's text, or "unknown error" without a description or when it
// cannot be converted. The same pointer until the next clear or capture.
const char *SourceErrorText(SourceError *error);

// A download source's stream, read ahead by a thread of its own.
//
// The store hashes every byte it hands out on the caller's thread; the
// reader thread waits in recv() meanwhile, so receiving and hashing overlap
// instead of taking turns. The source's one 64 KiB buffer is split into two
// blocks: the reader fills one while the caller is handed the other, in
// order. The reader starts with the first read after an open and ends at
// the end of the data, at a failed read, or when the source resets it.
// While it runs, only the reader touches the stream and the client behind
// it; they are plain objects, not bound to the thread that made them. The
// error object of a failed read is the reader thread's own, so the reader
// takes its description and hands it over with the block.
//
// A process that may run on one CPU only gains nothing from the overlap and
// pays for the switches between the threads, so it reads the stream on the
// caller's thread instead, into one block that spans the whole buffer.
enum { kReadAheadBytes = 64 * 1024 };

struct ReadAheadBlock {
    uint32_t size;   // bytes the stream gave; 0 marks the end of the data
    HRESULT result;  // the stream's answer; a failure ends the data too
    uint8_t *bytes;  // its part of the buffer
};

// A counter's sleeping watcher: see WaitForChange in netsource.cpp.
struct ReadAheadSignal {
    std::atomic<bool> sleeping;
    HANDLE event;  // auto-reset
};

struct ReadAhead {
    IStream *stream;               // with a reference of its own; null until the first read
    bool onCallerThread;           // one CPU: blocks[0] only, filled by the caller
    HANDLE thread;                 // null while no reader runs
    std::atomic<uint32_t> filled;  // blocks the reader has filled
    std::atomic<uint32_t> freed;   // blocks the caller has handed out in full
    std::atomic<bool> stop;        // the source is done with the stream
    ReadAheadSignal blockFilled;   // the caller waits for filled to move
    ReadAheadSignal blockFreed;    // the reader waits for freed to move
    BSTR failure;                  // the reader's error description, once it failed
    ReadAheadBlock *current;       // the block being handed out, or null
    uint32_t start;                // its next byte
    ReadAheadBlock blocks[2];
    uint8_t buffer[kReadAheadBytes];
};

// Stops the reader, if one runs, and drops the bytes held and the stream:
// the next read starts on the stream it is given. The reader stops within
// the stream's own bounds on a wait for data (the idle bound, or at once
// after TcpCancel).
void ReadAheadReset(ReadAhead *ahead);

// Clears error, then gives count bytes (at most 2^31 - 1, so that the result
// stays a byte count) from the stream read ahead; fewer only when the
// stream's data ends. The stream must stay the same until the next reset.
// A null stream gives E_POINTER, a reader thread that cannot start
// E_OUTOFMEMORY; a failed read is captured, and the bytes of
// this call are dropped.
int32_t SourceRead(SourceError *error, IStream *stream, ReadAhead *ahead, void *buffer,
                   uint32_t count);

// The state that each download source keeps besides its client.
struct NetSource {
    ITcpNode *node;       // from Init to Shutdown
    IStream *stream;      // the client's data stream, or null
    SourceError failure;  // the latest failure
    ReadAhead ahead;      // bytes received but not yet handed out
};

// Forgets the last failure and starts the node afresh, releasing the one
// before. Returns 0, or -1 when the network cannot start.
int32_t NetSourceStart(NetSource *source);

// Drops the bytes read ahead and the stream.
void NetSourceDropStream(NetSource *source);

// Drops the stream and the node, and forgets the last failure.
void NetSourceStop(NetSource *source);

// A wide text that is freed with its holder.
struct WideText {
    BSTR text = nullptr;
    ~WideText() { SysFreeString(text); }
};

// Clears the failure, then gives the wide form of name (8-bit text) in
// *wide. 0; E_POINTER for a null name, E_OUTOFMEMORY when it does not
// convert (*wide untouched on failure).
int32_t NetSourceWideName(NetSource *source, const char *name, WideText *wide);

// The table entries of a download source that differ only by its state.
template <NetSource *source>
struct NetSourceEntries {
    static int32_t Init(void) { return NetSourceStart(source); }
    static int32_t Read(void *buffer, uint32_t count) {
        return SourceRead(&source->failure, source->stream, &source->ahead, buffer, count);
    }
    static const char *ErrorText(void) { return SourceErrorText(&source->failure); }
};

#endif
