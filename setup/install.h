#ifndef SETUP_INSTALL_H
#define SETUP_INSTALL_H

#include <stdint.h>

// A file that replaces an existing one is written under this name in its
// own folder (the subfolder, for a name with one), and moved over the old file only once its digest matched;
// a run killed mid-copy leaves it behind for the next run to remove. No
// payload may be installed under this name.
constexpr char kReplacementName[] = "~setup.part";

// I line: writes one payload file into the current directory from the data
// resource named by the line's digest, showing progress in the status window
// (opened on the first I line). A file already in place with the right length
// and digest is left alone. Returns 0 when installed, skipped, or failed
// without the R flag; -1 when the installation must end (R flag or Cancel).
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunInstallStep(char *argument);

#endif
