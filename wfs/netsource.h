#ifndef WFS_NETSOURCE_H
#define WFS_NETSOURCE_H

#include <stdint.h>
#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

// What the HTTP and FTP download sources share: their error capture, and
// the open and read steps that only differ by the client behind them.

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

// Clears error, then runs open on the wide form of name (8-bit text). A
// null name gives E_POINTER, a failed conversion E_OUTOFMEMORY.
int32_t SourceOpen(SourceError *error, const char *name, int32_t (*open)(LPCOLESTR));

// Bytes a download source has read from its stream but not yet handed out.
// Reading ahead in blocks of this size costs one client call and a few
// recv() calls per block instead of per caller's chunk; the buffer is the
// source's own and never grows.
struct ReadAhead {
    uint32_t start;  // the next byte to hand out
    uint32_t end;    // one past the last byte held
    uint8_t bytes[64 * 1024];
};

// Drops the bytes held: the next read starts on the stream.
void ReadAheadReset(ReadAhead *ahead);

// Clears error, then gives count bytes (at most 2^31 - 1, so that the result
// stays a byte count) from ahead, refilling it from the stream; fewer only
// when the stream's data ends. A null stream gives E_POINTER; a failed read
// is captured, and the bytes of this call are dropped.
int32_t SourceRead(SourceError *error, IStream *stream, ReadAhead *ahead, void *buffer,
                   uint32_t count);

#endif
