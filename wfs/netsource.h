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

// Clears error, then one Read of the stream (which fills the buffer unless
// the data ends) of at most 2^31 - 1 bytes, so that the result stays a byte
// count. A null stream gives E_POINTER; a failed read is captured.
int32_t SourceRead(SourceError *error, IStream *stream, void *buffer, uint32_t count);

#endif
