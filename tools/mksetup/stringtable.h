#ifndef TOOLS_MKSETUP_STRINGTABLE_H
#define TOOLS_MKSETUP_STRINGTABLE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "base/resids.h"

// The string table entries that configure an installer: 121 (HTTP base
// URL), 122 (FTP base URL) and 123 (the description's digest name). They
// share block 8, entries 112 to 127, one resource of sixteen counted
// UTF-16 strings.
enum {
    kHttpEntry = IDS_HTTP_BASE,
    kFtpEntry = IDS_FTP_BASE,
    kDescriptionEntry = IDS_DESCRIPTION_NAME,
};
enum { kStringBlock = kHttpEntry / 16 + 1, kStringBlockFirst = (kStringBlock - 1) * 16 };
static_assert(kFtpEntry / 16 + 1 == kStringBlock && kDescriptionEntry / 16 + 1 == kStringBlock,
              "the three entries share one string table block");

// The string table block of the sixteen entries (ASCII), as a resource's
// data.
std::vector<unsigned char> EncodeStringBlock(const std::string entries[16]);

// Decodes a string table block's data (wide strings narrowed: the entries
// hold ASCII). 0, or -1 when it is malformed (entries then undefined).
int32_t DecodeStringBlock(const std::vector<unsigned char> &data, std::string entries[16]);

#endif
