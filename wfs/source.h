#ifndef WFS_SOURCE_H
#define WFS_SOURCE_H

#include <stdint.h>

// One place the store can take data resources from: the executable's own
// resources, an HTTP server or an FTP server. Each source is a module with
// its own static state; the store reaches it only through this table, so a
// source plugs in without the store knowing how it works.
//
// Every operation returns 0 or a byte count on success and a negative value
// on failure; after a failure ErrorText() tells why.
struct WfsSource {
    // Prepares the source (finds the module, starts the socket layer).
    int32_t (*Init)(void);
    // Opens and logs in a connection kept for later opens; null for sources
    // that need none. User and password may be null (anonymous login).
    int32_t (*Connect)(const char *host, const char *user, const char *password);
    // Opens one data resource by name: the lower-case digest name for the
    // resource source, the whole URL for HTTP, the server path for FTP.
    int32_t (*Open)(const char *name);
    // Fills the buffer completely unless the data ends first; 0 at the end.
    int32_t (*Read)(void *buffer, uint32_t count);
    // Releases the open data resource (ends the transfer).
    int32_t (*Close)(void);
    // Open, one Read of count bytes, Close; gives the byte count. Null for
    // the resource source.
    int32_t (*FetchWhole)(const char *name, void *buffer, uint32_t count);
    // Releases everything the source holds.
    void (*Shutdown)(void);
    // Text of the source's latest failure; never null. Valid until the
    // source's next operation.
    const char *(*ErrorText)(void);
};

extern const WfsSource kResourceSource;  // wfs/ressource.cpp
extern const WfsSource kHttpSource;      // wfs/httpsource.cpp
extern const WfsSource kFtpSource;       // wfs/ftpsource.cpp

#endif
