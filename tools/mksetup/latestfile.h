#ifndef TOOLS_MKSETUP_LATESTFILE_H
#define TOOLS_MKSETUP_LATESTFILE_H

#include <stdint.h>

#include <string>

// Writes the 60-byte LATEST file that points at digestName, signed with the
// key in keyPath (the nonce derived from key and name: the same inputs give
// the same file), under a temporary name renamed to outPath at the end.
// 0, or -1 with a message printed and outPath as it was.
int32_t WriteSignedLatest(const std::string &keyPath, const std::string &digestName,
                          const std::string &outPath);

#endif
