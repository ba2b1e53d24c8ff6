#ifndef TOOLS_MKSETUP_INSTALLER_H
#define TOOLS_MKSETUP_INSTALLER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "base/resids.h"
#include "tools/mksetup/peimage.h"
#include "tools/mksetup/pewriter.h"

// Installers made from the packager's stubs: reading one, the checks that
// tell one, and copying its resources.

// The embedded stub of an architecture as an input.
Input StubInput(Arch arch);

// An installer read from a file.
struct Installer {
    Input input;
    PeImage image;
    std::vector<Resource> resources;
    std::string entries[16];  // block 8 of the string table, as 8-bit text
    std::string description;  // the carried description
    ~Installer();
};

// Opens path and checks that it is an installer made from the stub: our
// dialogs, a string table entry 123 naming a carried description. 0, or
// -1 with a message printed.
int32_t OpenInstaller(const std::string &path, Installer *installer);

// The installer's resource of that numbered type and name, or null.
const Resource *FindResource(const Installer &installer, uint16_t type, const ResourceKey &name);

// The upper-case resource name of a digest name.
ResourceKey DigestResourceName(const std::string &digestName);

// Streams a resource's data from input into the writer. 0 or -1.
int32_t CopyResource(const Input &input, const Resource &resource, ImageWriter *writer);

#endif
