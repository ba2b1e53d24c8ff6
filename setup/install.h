#ifndef SETUP_INSTALL_H
#define SETUP_INSTALL_H

#include <stdint.h>

#include "setup/description.h"

// I line: writes one payload file into the current directory from the data
// resource named by the line's digest, showing progress in the status window
// (opened on the first I line). A file already in place with the right length
// and digest is left alone. Returns 0 when installed, skipped, or failed
// without the R flag; -1 when the installation must end (R flag or Cancel).
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunInstallStep(char *argument);

// The parts of the I step that the updater uses as well.

// Shows "Installing <fileName>" in the status window, opening it first
// (with the Cancel confirmation of the I step) when none is open yet.
void ShowInstallStatus(const char *fileName);

// Whether the file of the line's name (in the current directory) has the
// line's length and digest.
bool IsFileInPlace(const InstallLine *line);

// Whether path names a file of the line's length and digest.
bool HasContents(const char *path, const InstallLine *line);

// Downloads the line's data into a new file at path (replacing one there),
// showing progress, and flushes it to the disk. Returns 0 when every byte
// was written and the digest matched; -1 after an error box (none after a
// Cancel), with nothing left at path.
int32_t DownloadToFile(const InstallLine *line, const char *path);

// Whether the existing file could be opened for writing now (no other
// program holds it); on failure the system's last error tells why.
bool CanReplaceFile(const char *name);

#endif
