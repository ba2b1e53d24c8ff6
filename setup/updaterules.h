#ifndef SETUP_UPDATERULES_H
#define SETUP_UPDATERULES_H

#include <stdint.h>

#include "wfs/wfs.h"

// What the updater and the packager that configures it agree on. Plain
// C++: no Windows header.

// The temporary name of a file being updated: its own name with this
// suffix, beside it, so that moving it over the old file never crosses
// volumes. A run that ends before the swap removes them; one killed during
// the swap leaves verified ones for the next run to use.
constexpr char kUpdateSuffix[] = ".~update";
// The running updater is moved aside under its own name with this suffix
// when a release replaces it, and the next run deletes it.
constexpr char kOldUpdaterSuffix[] = ".~old";

// The file name the packager installs the updater under.
constexpr char kUpdaterFileName[] = "update.exe";

// The updater's public key resource (the data resource type, named
// UPDATE_KEY_NAME in base/resids.h): the DSA numbers p, q, g and y in that
// order, each as a 16-bit byte count, least significant byte first, then
// its bytes, least significant first.
// Splits a key resource into its four numbers (pointing into data).
// Returns 0, or -1 when the counts do not add up to size exactly or a
// number is empty; numbers is then partly written and not to be used.
int32_t SplitUpdateKey(const unsigned char *data, uint32_t size,
                       WfsKeyNumber numbers[kWfsKeyNumbers]);

// Compares two versions that are both dotted numbers ("1", "1.2",
// "10.0.3": decimal digits, single dots between them, at most 9 digits a
// part); a missing part counts as 0, so "1.2" equals "1.2.0". Returns 0 and
// sets *order to -1, 0 or 1 as a is below, equal to or above b; -1 when
// either is not a dotted number (*order untouched).
int32_t CompareDottedVersions(const char *a, const char *b, int *order);

#endif
