#ifndef TOOLS_MKSETUP_BASEURL_H
#define TOOLS_MKSETUP_BASEURL_H

#include <stdint.h>

#include <string>

// Checks a base URL given with option: http://host[:port]/path/ (or ftp://
// for scheme "ftp") ending in '/', of kWfsMaxBaseUrl bytes at most, as the
// installer's store takes it. 0, or -1 with a message printed.
int32_t CheckBaseUrl(const char *option, const std::string &url, const char *scheme);

#endif
