#ifndef SETUP_FOLDER_H
#define SETUP_FOLDER_H

#include <stdint.h>

// F line: proposes the Program Files folder with the line's folder name appended,
// lets the user accept, edit or browse for it (DIR_DIALOG), creates it with
// every missing parent and makes it the current directory. Fills
// destinationFolder. Returns 0, or -1 after an error box or when the user
// cancelled (no box).
// The argument is the line's text after the letter; it is cut up in place.
int32_t RunFolderStep(char *argument);

#endif
