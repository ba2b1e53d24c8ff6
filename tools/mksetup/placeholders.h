#ifndef TOOLS_MKSETUP_PLACEHOLDERS_H
#define TOOLS_MKSETUP_PLACEHOLDERS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tools/mksetup/template.h"

// The placeholders of a template line: {name:PATH} and {size:PATH}, filled
// from the files once they are known, and {define:NAME}, filled from
// --define first. Lines are UTF-8 here.

constexpr char kPlaceholderName[] = "{name:";
constexpr char kPlaceholderSize[] = "{size:";

// Whether text holds prefix at byte offset at.
bool StartsWith(const std::string &text, size_t at, const char *prefix);

// Whether a digest name and a ':' start at byte offset at.
bool IsDigestNameAt(const std::string &text, size_t at);

// The path of the placeholder that opens at text[open] (its '{'), with
// backslashes turned into slashes; *end is set to its closing '}' (npos
// when missing).
std::string PlaceholderPath(const std::string &text, size_t open, size_t *end);

// Whether path, named in line text, means the licence text of an L line
// (converted to the code page) rather than the file's own bytes: the same
// file may be a licence and a payload, and a payload is carried unchanged.
bool NamesLicence(const std::string &text, const std::string &path);

// Whether text[open], a '{' that opens no placeholder, starts a word and a
// ':' as a placeholder does: in an L or I line that is a misspelt one,
// since neither a size, a digest name nor a file name may hold a ':'.
bool IsMisspeltPlaceholder(const std::string &text, size_t open);

// The file that an L or I line names by a placeholder or a digest name, as
// FindFile knows it; empty when the line names none.
std::string LineFile(const std::string &text);

// The line with its placeholders filled: digest names (or zeros before the
// files are hashed) and sizes. Every file the line names is in tmpl.
std::string ExpandLine(const Template &tmpl, const std::string &text, bool withDigests);

// The byte offset of the first character of a template line that the code
// page cannot represent, placeholders aside (they become ASCII); npos if
// none.
size_t UnencodableAt(const std::string &text, int codePage);

// Fills the {define:NAME} placeholders of line of tmpl, *text, with their
// values. 0, or -1 with a message for a name that was not defined (*text
// unchanged then).
int32_t FillDefines(const Template &tmpl, size_t line, const Defines &defines, std::string *text);

#endif
