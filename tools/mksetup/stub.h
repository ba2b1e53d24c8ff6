#ifndef TOOLS_MKSETUP_STUB_H
#define TOOLS_MKSETUP_STUB_H

// The installer stubs linked into the packager (stub.S), one for x86 and
// one for x64: the product's installer with its dialogs but without
// description, payloads or string table.
extern "C" const unsigned char mksetupStubX86[];
extern "C" const unsigned char mksetupStubX86End[];
extern "C" const unsigned char mksetupStubX64[];
extern "C" const unsigned char mksetupStubX64End[];

// The updater stubs (setup/update.cpp) beside them: update.exe without
// product name, base URLs or key.
extern "C" const unsigned char mksetupUpdaterX86[];
extern "C" const unsigned char mksetupUpdaterX86End[];
extern "C" const unsigned char mksetupUpdaterX64[];
extern "C" const unsigned char mksetupUpdaterX64End[];

#endif
