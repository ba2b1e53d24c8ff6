#include "base/errtext_table.h"

// On its own in this file, so that a program that never names kErrorRows (the
// installer) links none of it and expands the rows only when it first needs
// a text.
const ErrorRow (&kErrorRows)[kErrorRowCount] = ErrorRows();
