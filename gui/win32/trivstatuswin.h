#ifndef GUI_WIN32_TRIVSTATUSWIN_H
#define GUI_WIN32_TRIVSTATUSWIN_H

#include <stdint.h>
#include <windows.h>

// A small modeless status window (STATUS_DIALOG) with one line of text, a
// Cancel button and a progress bar, run on a thread of its own so that it
// keeps painting and answering Cancel while the caller's thread is busy.
// One window per process; every function is called from the opener's thread.

// Called on the status thread when the user presses Cancel or the close box.
typedef void (*StatusCancelCallback)(void);

// Opens the window and waits until it exists, then sets its caption and
// text. When it is already open only caption and text change (the callback
// given first stays). Returns 0, or -1 with StatusWinError() set and no
// thread left running.
int32_t StatusWinOpen(const char *title, const char *text, StatusCancelCallback onCancel);

// The window, or null when none is open.
HWND StatusWinHandle(void);

// Sets the status text; does nothing without a window.
void StatusWinSetText(const char *text);

// Shows done of total; totals above 65535 are scaled down for the control.
// Does nothing without a window.
void StatusWinSetProgress(int32_t done, int32_t total);

// Ends the window's thread and waits for it; does nothing without a window.
void StatusWinClose(void);

// Text of the latest failure of StatusWinOpen.
const char *StatusWinError(void);

#endif
