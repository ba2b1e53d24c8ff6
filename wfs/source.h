#ifndef WFS_SOURCE_H
#define WFS_SOURCE_H

#include <stdint.h>

// One place the store can take data resources from. Each source is a module
// with its own static state; the store reaches it only through this table
// and walks its sources in a fixed order (wfs/wfs.cpp), so a source plugs in
// without the store knowing how it works. Every slot is filled.
//
// Every operation returns 0 or a byte count on success and a negative value
// on failure; after a failure ErrorText() tells why.
struct WfsSource {
    // Prepares the source (finds the module, starts the socket layer).
    int32_t (*Init)(void);
    // Makes the source ready for opens on host. Sources that need nothing
    // succeed at once (WfsNoConnection); the FTP source opens and logs in
    // a connection kept for later opens. User and password may be null
    // (anonymous login).
    int32_t (*Connect)(const char *host, const char *user, const char *password);
    // Opens one data resource by request name: the store's base for this
    // source followed by the lower-case digest name (the base is empty for
    // the sources inside the executable).
    int32_t (*Open)(const char *name);
    // Fills the buffer completely unless the data ends first; 0 at the end.
    int32_t (*Read)(void *buffer, uint32_t count);
    // Releases the open data resource (ends the transfer).
    int32_t (*Close)(void);
    // Releases everything the source holds.
    void (*Shutdown)(void);
    // Text of the source's latest failure; never null. Valid until the
    // source's next operation.
    const char *(*ErrorText)(void);
};

// The Connect of a source that needs no connection: always 0.
int32_t WfsNoConnection(const char *host, const char *user, const char *password);

extern const WfsSource kEmptySource;     // wfs/emptysource.cpp
extern const WfsSource kResourceSource;  // wfs/ressource.cpp
extern const WfsSource kHttpSource;      // wfs/httpsource.cpp
extern const WfsSource kFtpSource;       // wfs/ftpsource.cpp

#endif
