#ifndef TOOLS_MKSETUP_PLATFORM_H
#define TOOLS_MKSETUP_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// The few file operations the packager needs, on paths in UTF-8 whatever
// the system: POSIX calls on Linux, the wide-character calls on Windows
// (so that names with any letters work under every ANSI code page).

// fopen with a UTF-8 path; null on failure (errno set).
FILE *OpenFile(const std::string &path, const char *mode);

// 64-bit positioning for files of up to 2 GiB and beyond; 0 on success.
int SeekFile(FILE *file, uint64_t offset);

// kOtherFile: a device, a pipe or a socket, which cannot be packaged.
// kUnknownFile: the system would not say (a folder on the way that may not
// be entered, a loop of links); errno tells why, for LastSystemError.
enum FileKind { kNoFile, kRegularFile, kFolder, kOtherFile, kUnknownFile };

// What path names; *size is set for a regular file.
FileKind StatPath(const std::string &path, uint64_t *size);

// Whether both paths name one existing file (through links, other
// spellings or letter case included).
bool SameFile(const std::string &a, const std::string &b);

// Creates the folder and its missing parents; 0 on success. The folders it
// made are appended to *made, outermost first.
int MakeFolders(const std::string &path, std::vector<std::string> *made);

// Removes a folder if it is empty.
void RemoveEmptyFolder(const std::string &path);

// Replaces to by from; 0 on success.
int RenameOver(const std::string &from, const std::string &to);

void RemoveFile(const std::string &path);

// After CatchInterrupts, Ctrl-C, SIGTERM or SIGHUP (on Windows Ctrl-C,
// Ctrl-Break or closing the console) asks the packager to stop: the
// handler only notes it, and the loops that write installers and mirrors
// look at Interrupted() between chunks and fail, so that the usual failure
// path removes every temporary file. A second request ends the process at
// once. The commands that write large files call it.
void CatchInterrupts();
bool Interrupted();

// Ends the process by the interrupt that Interrupted() reports, as the
// default handler would have, so that a calling shell stops too (on
// Windows with the exit status of a Ctrl-C). Called once every temporary
// file is gone; returns only when there was no interrupt.
void EndIfInterrupted();

// Text of the last failing C library call, for messages.
std::string LastSystemError();

#ifdef __MINGW_PRINTF_FORMAT
#define MKSETUP_PRINTF_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#else
#define MKSETUP_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif

// Prints "mksetup: " and the formatted text and a line end on the error
// stream; returns -1 so that callers can write "return Fail(...)".
int Fail(const char *format, ...) MKSETUP_PRINTF_FORMAT;

// Prints "mksetup: warning: " and the text; the run goes on. After
// SetWarnings(quiet, strict): with quiet nothing is printed; with strict
// the text is printed as an error and counted, for the command to fail.
void Warn(const char *format, ...) MKSETUP_PRINTF_FORMAT;
void SetWarnings(bool quiet, bool strict);

// The warnings printed as errors so far.
int StrictWarnings();

#endif
