#ifndef TOOLS_MKSETUP_CODEPAGE_H
#define TOOLS_MKSETUP_CODEPAGE_H

#include <stdint.h>

#include <string>

// The installer hands every text of its description to the system's 8-bit
// calls, so the packager writes texts in the end user's ANSI code page.
// Publishers write UTF-8 (or already 8-bit text); this module converts.

// True when the packager knows the code page: 874 (Thai) and 1250 to 1258,
// the single-byte Windows ANSI code pages. The other functions take only
// known code pages.
bool IsKnownCodePage(int codePage);

// True for the double-byte ANSI code pages (932, 936, 949, 950), which the
// packager refuses: a second byte can be a backslash, and the installer
// looks for backslashes byte by byte.
bool IsDoubleByteCodePage(int codePage);

// The known code pages for messages: "874, 1250, ...".
std::string KnownCodePages();

// Decodes text as UTF-8 when it is valid UTF-8 (a leading byte order mark
// dropped), else as 8-bit text in codePage, into UTF-8. Returns 0, or -1
// when a byte has no meaning in the code page; *badOffset is then its
// offset. out is written only on success.
int32_t DecodeText(const std::string &text, int codePage, std::string *out, size_t *badOffset);

// Whether text that is not UTF-8 as a whole still holds UTF-8 characters
// of two or more bytes: a file saved in two encodings, whose UTF-8 letters
// DecodeText reads as pairs of 8-bit ones ("Ã¶" for "ö").
bool IsMixedEncoding(const std::string &text);

// Encodes UTF-8 text into codePage. Returns 0, or -1 when a character
// cannot be represented; *badOffset is then its offset in text. out is
// written only on success.
int32_t EncodeText(const std::string &text, int codePage, std::string *out, size_t *badOffset);

// UTF-8 of 8-bit text in codePage; bytes without meaning become U+FFFD.
std::string TextToUtf8(const std::string &text, int codePage);

// The column of byte offset at in a line of UTF-8 text: characters before
// it, plus one.
size_t ColumnOf(const std::string &line, size_t at);

// The character at byte offset at of UTF-8 text for messages: "'Ω' (U+03A9)".
std::string DescribeCharacter(const std::string &text, size_t at);

// UTF-8 text with its capital letters made small, for comparing names as
// Windows does: Latin (Latin-1 and Extended-A), Greek and Cyrillic letters.
std::string FoldCase(const std::string &text);

// Length of UTF-8 text in UTF-16 code units, the unit of Windows' limits
// on names.
size_t Utf16Length(const std::string &text);

// UTF-16 code units of ASCII text (the string table holds wide strings).
std::u16string AsciiToUtf16(const std::string &text);

#endif
