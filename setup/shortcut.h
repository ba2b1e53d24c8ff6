#ifndef SETUP_SHORTCUT_H
#define SETUP_SHORTCUT_H

#include <stdint.h>

// P line: saves a shell link "<link name>" in the Start Menu's Programs
// folder pointing at the target in destinationFolder. Returns 0, or -1 after
// an error box.
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunShortcutStep(char *argument);

#endif
