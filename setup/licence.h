#ifndef SETUP_LICENCE_H
#define SETUP_LICENCE_H

#include <stdint.h>

// L line: reads the licence named by the line's digest and shows it in a
// Yes/No box. Returns 0 when the user accepted; -1 after an error box, or
// without one when the user declined.
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunLicenceStep(char *argument);

struct Digest;

// The same box for the licence of that digest (the updater's, for a licence
// that changed). Returns 0 when the user accepted; -1 after an error box, or
// without one when the user declined.
int32_t ShowLicence(const Digest *digest);

#endif
