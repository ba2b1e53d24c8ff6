#ifndef WFS_STORE_H
#define WFS_STORE_H

#include <stdint.h>

// What the store's other files use of wfs.cpp; callers outside wfs/ use
// wfs.h.

// Reads the file name (a base-relative request name such as "LATEST") whole
// from the first server that has it: HTTP, else FTP, connecting on first
// need. Returns its length, at most capacity (more is not read); -1 with the
// last server's text as WfsLastError(). No data resource may be open.
int32_t WfsReadFromServers(const char *name, void *buffer, uint32_t capacity);

// Sets what WfsLastError() gives.
void WfsSetLastError(const char *text);

#endif
