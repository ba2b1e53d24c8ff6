#ifndef SETUP_DRIVER_H
#define SETUP_DRIVER_H

#include <stdint.h>
#include <windows.h>

#include "setup/rules.h"

// State of the installation run, shared by the driver and its steps. It is
// written on the main thread, except abortRequested (see below).

// Source of the string table entries and dialog templates.
extern HINSTANCE setupInstance;

// Caption of every message box and of the status window: "Quillon Internet
// Setup" until a T line names the product.
extern const char *setupTitle;

// Owner of the steps' error boxes and of the M box: the status window once
// the first I line has opened it, else none.
extern HWND messageOwner;

// The folder the user chose (F line); the current directory after it.
extern char destinationFolder[kPathSize];

// Set to 1 by the status window's thread once the user confirmed Cancel;
// never reset. A single aligned word written once, read after each chunk.
extern volatile LONG abortRequested;

// Error box owned by messageOwner with setupTitle as caption; message and
// detail may each be null.
void SetupError(const char *message, const char *detail);

#endif
