#ifndef BASE_ERRTEXT_H
#define BASE_ERRTEXT_H

#include <stdint.h>

// Sentence for a Win32 system error code, a Winsock error code, an LZ
// expansion library code (-8 to -1) or 0. Never null: codes without a row,
// every COM failure code among them, give "Unknown error.". The text is
// constant and shared; callers neither change nor free it. Placeholders in
// a text (such as "%1" in that of code 34) are part of it, never filled in.
// Needs no Windows header. Any thread may call it: the first call expands
// the packed table once, and every text stays valid for the whole run.
const char *ErrorText(int32_t code);

#endif
