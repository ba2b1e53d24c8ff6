#ifndef TOOLS_MKSETUP_LISTING_H
#define TOOLS_MKSETUP_LISTING_H

#include "tools/mksetup/installer.h"

// Prints the installer's architecture, its URLs and a line per file its
// description names: kind, digest name, size, where it comes from, file
// name (read in codePage).
void PrintListing(const Installer &installer, int codePage);

#endif
