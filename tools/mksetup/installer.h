#ifndef TOOLS_MKSETUP_INSTALLER_H
#define TOOLS_MKSETUP_INSTALLER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "base/resids.h"
#include "tools/mksetup/peimage.h"
#include "tools/mksetup/pewriter.h"
#include "wfs/wfs.h"

// What installers made from the packager's stub have in common: the
// string table entries that configure them and the checks that tell one.

// String table entries 121 (HTTP base URL), 122 (FTP base URL) and 123
// (the description's digest name) share block 8, entries 112 to 127.
enum {
    kHttpEntry = IDS_HTTP_BASE,
    kFtpEntry = IDS_FTP_BASE,
    kDescriptionEntry = IDS_DESCRIPTION_NAME,
};
enum { kStringBlock = kHttpEntry / 16 + 1, kStringBlockFirst = (kStringBlock - 1) * 16 };
static_assert(kFtpEntry / 16 + 1 == kStringBlock && kDescriptionEntry / 16 + 1 == kStringBlock,
              "the three entries share one string table block");

// Checks a base URL given with option: http://host[:port]/path/ (or ftp://)
// ending in '/', of kWfsMaxBaseUrl bytes at most. 0, or -1 with a message printed.
int32_t CheckBaseUrl(const char *option, const std::string &url, const char *scheme);

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

// The string table block of the sixteen entries, as a resource's data.
std::vector<unsigned char> EncodeStringBlock(const std::string entries[16]);

// Decodes a string table block's data (wide strings narrowed: the entries
// hold ASCII). 0, or -1 when it is malformed.
int32_t DecodeStringBlock(const std::vector<unsigned char> &data, std::string entries[16]);

// The upper-case resource name of a digest name.
ResourceKey DigestResourceName(const std::string &digestName);

// Streams a resource's data from input into the writer. 0 or -1.
int32_t CopyResource(const Input &input, const Resource &resource, ImageWriter *writer);

// Prints the installer's architecture, its URLs and a line per file its description names:
// kind, digest name, size, where it comes from, file name (read in codePage).
void PrintListing(const Installer &installer, int codePage);

// The commands; argv starts after the command's name. Exit status.
int RunBuild(int argc, char **argv);
int RunSetUrls(int argc, char **argv);
int RunList(int argc, char **argv);

#endif
