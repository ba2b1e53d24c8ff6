#ifndef WFS_WFS_H
#define WFS_WFS_H

#include <stdint.h>

#include "wfs/digest.h"

// The store: one way to get at a data resource by its digest. Each open
// tries the executable's own resources, then the HTTP base URL followed by
// the digest name, then the FTP directory followed by the digest name over
// one FTP connection kept for the run. The resource of no bytes, which no
// executable can carry, is served by the store itself. Every byte handed
// out is hashed, and closing succeeds only when the digest of the bytes
// read equals the one the resource was opened by. One data resource is
// open at a time; the store is used from one thread.
//
// All results are 0 or a byte count on success, negative on failure; the
// reason for a failure is WfsLastError(), read before the next store call.

// The longest base URL taken, in bytes: a base is followed by a digest
// name (or "LATEST") in one request name of 282 bytes with its zero.
enum { kWfsMaxBaseUrl = 249 };

// Takes the two base URLs (copied). The FTP URL must start with "ftp://"
// and have a '/' after the host; bases longer than kWfsMaxBaseUrl are
// refused. No connection is made here. -1 on failure.
int32_t WfsInit(const char *httpBase, const char *ftpBase);

// Closes whatever is open, then opens the data resource of that digest
// from the first source that has it. -1 on failure; the failure reported
// is the FTP source's (own resource and HTTP failures are silent).
int32_t WfsOpen(const Digest *digest);

// Reads up to count bytes into buffer; the buffer is filled completely
// unless the data ends. Returns the count, 0 at the end, negative on error.
int32_t WfsRead(void *buffer, uint32_t count);

// Ends the open data resource and checks its digest: 0 when it matches,
// -1 otherwise ("downloaded file does not match its message digest!").
// Harmless when nothing is open (-1, "no connection open").
int32_t WfsClose(void);

// WfsOpen, one WfsRead of capacity bytes, WfsClose. Returns the bytes read.
// A data resource longer than capacity fails its digest check.
int32_t WfsReadAll(const Digest *digest, void *buffer, uint32_t capacity);

// Text of the latest failure; null before the first. Never cleared by a
// success; valid until the next store call.
const char *WfsLastError(void);

// Abandons every download for the rest of the run: a read, open or close
// waiting on the network, now or later, fails within a tenth of a second.
// The one store call allowed from another thread (the status window's
// Cancel); cannot be undone.
void WfsCancel(void);

// Closes what is open and releases every source (the FTP connection too).
void WfsShutdown(void);

struct DsaKey;

// Fetches the signed pointer "LATEST" beside the data resources: from the
// HTTP base, else from the FTP directory (connecting on first need, and the
// connection is kept for later opens), and checks its DSA signature against
// key. Returns 0 and the pointer as five words in the form WfsOpen takes a
// digest; -1 otherwise, out untouched, with WfsLastError() set to the FTP
// source's text, "signature file is the wrong size" or "signature does not
// match public key". No data resource may be open during the call.
int32_t WfsFetchLatest(const DsaKey *key, uint32_t out[5]);

// A DSA public key as the bytes of its numbers p, q, g and y, in that
// order, each least significant byte first.
enum { kWfsKeyNumbers = 4 };
struct WfsKeyNumber {
    const unsigned char *bytes;
    uint32_t length;
};

// WfsFetchLatest with the key given as its numbers' bytes (each at least
// one byte), for callers that carry the key as data.
int32_t WfsFetchLatestWithKey(const WfsKeyNumber key[kWfsKeyNumbers], uint32_t out[5]);

#endif
