#ifndef TOOLS_MKSETUP_STUB_H
#define TOOLS_MKSETUP_STUB_H

// The installer stub linked into the packager (stub.S): the product's
// installer with its dialogs but without description, payloads or string
// table.
extern "C" const unsigned char mksetupStub[];
extern "C" const unsigned char mksetupStubEnd[];

#endif
