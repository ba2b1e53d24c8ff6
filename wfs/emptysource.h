#ifndef WFS_EMPTYSOURCE_H
#define WFS_EMPTYSOURCE_H

#include "wfs/source.h"

// The data resource of no bytes. An executable cannot carry an empty
// resource (a size of 0 counts as not carried), so without this source an
// empty payload would always be downloaded. Open succeeds only for the
// digest name of no bytes; Read then gives 0. Its table is kEmptySource
// (wfs/source.h); it never fails but at Open, and sets no text there.

#endif
