#ifndef TOOLS_MKSETUP_FILEIO_H
#define TOOLS_MKSETUP_FILEIO_H

// Whole-file reads and writes for the packager's small files, on paths in
// UTF-8 (through platform.h). Writes go to a temporary name beside the
// target and are renamed over it at the end, so a failed run leaves no
// partial output behind.

#include <stddef.h>
#include <stdint.h>

#include <string>

enum { kReadTooLong = -2 };

// Reads the file into *data; "-" reads the standard input. Returns 0; -1 with the reason in *error
// when it cannot be read; kReadTooLong, with a reason too, when it is longer than limit bytes.
int32_t ReadWholeFile(const char *path, size_t limit, std::string *data, std::string *error);

// Writes data to path, replacing a file already there; `secret` makes the
// file readable by its owner only (on systems with such modes). Returns 0,
// or -1 with the reason in *error, leaving path as it was and no temporary
// file behind.
int32_t WriteWholeFile(const char *path, const std::string &data, bool secret, std::string *error);

bool FileExists(const char *path);

#endif
