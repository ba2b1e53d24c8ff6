#ifndef SETUP_DESCRIPTION_H
#define SETUP_DESCRIPTION_H

#include <stdint.h>

#include "wfs/digest.h"

// The setup description: 8-bit text of at most 4095 bytes, one directive a
// line; a line's first byte is the directive letter and the rest its
// argument. Fields of L, I and P lines are separated by ':' and are cut in
// place by writing zero bytes over the separators.

// Walks the lines of a text in place. Every CR and the LF ending a line
// become zero bytes, so a line's text ends at its first CR (or an embedded
// zero byte).
struct LineCursor {
    char *text;
    uint32_t length;  // bytes of text; text[length] is a zero byte
    uint32_t offset;  // start of the next line
};

// Returns the next line, zero-terminated in place, or null after the last.
char *NextLine(LineCursor *cursor);

// L line: 32-character digest name, ':', anything (not read).
// Returns 0 and the digest, or -1 for a malformed line.
int32_t ParseLicenceLine(char *argument, Digest *digest);

struct InstallLine {
    Digest digest;
    uint32_t size;  // below 2^31
    const char *fileName;
    bool required;  // a flag field starting with 'R'
};

// I line: digest name ':' size ':' file name, then ':' flag fields.
// Returns 0 and fills *line, or -1 for a malformed line (which includes a
// size of 2^31 or more, negated sizes among them).
int32_t ParseInstallLine(char *argument, InstallLine *line);

// P line: link name ':' target, split at the first ':' (the target may hold
// more). Returns 0 and both parts, or -1 when there is no ':'.
int32_t ParseShortcutLine(char *argument, const char **linkName, const char **target);

#endif
