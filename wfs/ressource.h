#ifndef WFS_RESSOURCE_H
#define WFS_RESSOURCE_H

#include "wfs/source.h"

// The executable's own data resources: RCDATA resources named by the
// upper-case digest name. Open takes the lower-case digest name (the lookup
// ignores letter case) and fails silently when the executable does not
// carry the resource or carries it empty; the bytes are served in place
// from the loaded image. Its table is kResourceSource (wfs/source.h).

#endif
