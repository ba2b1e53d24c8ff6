#ifndef WFS_HTTPSOURCE_H
#define WFS_HTTPSOURCE_H

#include "wfs/source.h"

// Data resources over HTTP/1.0: each Open makes a new client and connection
// (net/http), sends one GET for the whole URL and reads the status; Read
// gives the response body. Its table is kHttpSource (wfs/source.h); it
// needs no connection.
//
// A status outside 200..299 fails Open with 0x8004A400 plus the status
// (0x8004A594 for 404) and the status line as error text; the client stays
// held until the next Open, Close or Shutdown. A failed client call passes
// on the client's code, its error description as text. Missing URL or no
// open request gives E_POINTER, a URL that does not convert E_OUTOFMEMORY;
// these, and an Init that cannot start the socket layer (-1), leave the
// text "unknown error". Open and Read clear the previous text first; Close
// always succeeds and keeps it.

// Failure code of an Open answered with the HTTP status.
#define HTTPSOURCE_E_STATUS(status) ((int32_t)(0x8004A400u + (uint32_t)(status)))

#endif
