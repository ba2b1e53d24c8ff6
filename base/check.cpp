#include "base/check.h"

#include <stdio.h>
#include <stdlib.h>

void CheckFailed(const char *expression, const char *file, int line) {
    fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
    fflush(stderr);
    abort();
}
