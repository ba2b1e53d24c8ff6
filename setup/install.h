#ifndef SETUP_INSTALL_H
#define SETUP_INSTALL_H

#include <stdint.h>

// I line: writes one payload file into the current directory from the data
// resource named by the line's digest, showing progress in the status window
// (opened on the first I line). A file already in place with the right length
// and digest is left alone. Returns 0 when installed, skipped, or failed
// without the R flag; -1 when the installation must end (R flag or Cancel).
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunInstallStep(char *argument);

#endif
