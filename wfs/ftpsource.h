#ifndef WFS_FTPSOURCE_H
#define WFS_FTPSOURCE_H

#include "wfs/source.h"

// Data resources over FTP (net/ftp). Its table is kFtpSource (wfs/source.h).
//
// Connect opens the control connection to "host" or "host:port", logs in
// (anonymously, with the password of MakeFtpPassword, when user is null)
// and sets binary type; the connection is kept until Shutdown or the next
// Connect. Open retrieves the server path as given, from offset 0; Read
// fills the buffer unless the file ends first; Close ends the transfer and
// requires the server's transfer-complete reply (with no transfer under way
// it succeeds). After a failed Read, Close does not wait for that reply: it
// ends the session at once and succeeds, and the next Open logs in again
// as Connect did before retrieving.
//
// A failed client call passes on the client's code and keeps the client's
// error description as text. Missing host or path, or no connection, gives
// E_POINTER; a text that does not convert, E_OUTOFMEMORY; these, and an
// Init that cannot start the socket layer (-1), leave "unknown error".
// Every operation but ErrorText drops the previous text first.

#endif
