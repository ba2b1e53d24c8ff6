#ifndef TOOLS_MKSETUP_TEMPLATE_H
#define TOOLS_MKSETUP_TEMPLATE_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "wfs/digest.h"

// A setup description template: the description a publisher writes, with
// {name:PATH} and {size:PATH} placeholders for the digest name and the
// length of a file (PATH relative to the payload folder, in subfolders
// too). Digest names written out are also accepted; their file is then the
// one of that name in the payload folder. Everything that the installer
// would refuse or fail on is refused here, naming the file and line.

// One file the description names.
struct PackedFile {
    std::string path;      // as the template names it (UTF-8); a digest name for ready ones
    std::string diskPath;  // where it is read
    uint64_t size;         // bytes it holds in the installer
    bool licence;          // named by an L line: text, converted to the code page
    std::string text;      // a licence's converted bytes
    bool ready;            // named by its digest name; digest holds it
    Digest digest;         // known for ready files, else once hashed
    bool hashed;
};

struct Template {
    std::string path;
    int codePage;
    std::vector<std::string> lines;  // UTF-8, without line ends, defines filled
    std::vector<bool> refused;       // lines with a problem already reported
    bool endsWithNewline;
    std::vector<PackedFile> files;  // in order of first mention
};

// NAME -> VALUE of --define, for the {define:NAME} placeholders (UTF-8).
typedef std::map<std::string, std::string> Defines;

// Reads and checks a template, first filling its {define:NAME}
// placeholders; every licence is read and converted, every other file is
// looked at (not read). 0, or -1 with a message printed for each problem
// found.
int32_t LoadTemplate(const std::string &path, const std::string &payloadFolder, int codePage,
                     const Defines &defines, Template *out);

// The finished description (code page text, LF line ends) once every file
// has its digest. 0, or -1 with a message printed.
int32_t FillDescription(const Template &tmpl, std::string *description);

// "path:line" of a template line and, when at is a byte offset in the
// line, ":column" (in characters, counted from 1): where a message points.
std::string Where(const Template &tmpl, size_t line, size_t at = std::string::npos);

// Index of the file a --carry PATH names, or -1.
int32_t FindFile(const Template &tmpl, const std::string &path);

#endif
