#ifndef TOOLS_MKSETUP_UPDATER_H
#define TOOLS_MKSETUP_UPDATER_H

#include <stdint.h>

#include <string>

#include "tools/mksetup/peimage.h"

// The updater (update.exe) that build --updater adds to an installer as a
// payload: the updater stub of the installer's architecture with the
// product name, the base URLs and the publisher's public key written in.

struct UpdaterSettings {
    std::string product;    // the T line's text, in the description's code page
    std::string http, ftp;  // base URLs; empty for the built-in ones
    std::string key;        // the key resource (setup/updaterules.h)
    std::string licences;   // the description's licences' digest names, one after the other
};

// The key resource from a public key file (mksetup keygen --public) or a
// key file, whose public numbers it takes. 0, or -1 with a message printed.
int32_t LoadUpdaterKey(const std::string &path, std::string *resource);

// Writes the configured updater to path (under a temporary name first).
// 0, or -1 with a message printed and nothing at path.
int32_t WriteUpdater(Arch arch, const UpdaterSettings &settings, const std::string &path);

#endif
