#ifndef SETUP_BASEURLS_H
#define SETUP_BASEURLS_H

// The base URLs of an installer without its own string table entries 121
// and 122: they look only at the end user's own machine. The packager
// warns about downloads from them.
constexpr char kDefaultHttpBase[] = "http://localhost/dat/";
constexpr char kDefaultFtpBase[] = "ftp://localhost/private/dat/";

#endif
