#ifndef SETUP_ERRBOX_H
#define SETUP_ERRBOX_H

#include <windows.h>

// Text of the calling thread's last Win32 error code, as ErrorText
// (base/errtext.h) gives it: constant, shared, never null. Take it directly
// after the failing platform call, before any other call can change the
// thread's last error.
const char *LastErrorText(void);

// Shows a modal error box (OK button, stop icon) and waits until the user
// closes it. The box text is message, then ": ", then detail; with either
// one null it is the other alone, and with both null, or when the joined
// text cannot be allocated, no box is shown. owner may be null; caption is
// the setup title.
void ErrorBox(HWND owner, const char *caption, const char *message, const char *detail);

#endif
