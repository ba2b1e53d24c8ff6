#ifndef SETUP_RULES_H
#define SETUP_RULES_H

#include <stdint.h>

// What the installer accepts, written once for the installer and for the
// packager, which refuses a template that the installer would refuse.
// Plain C++: no Windows header.

enum {
    // A path with its terminating zero, the Windows limit for the calls the
    // installer makes.
    kPathSize = 260,
    // The setup description and a licence text, each read into a buffer of
    // this many bytes and a terminating zero.
    kMaxDescriptionBytes = 4095,
    kMaxLicenceBytes = 4095,
    // The registry key path of the product's record, with its zero.
    kRegistryKeySize = 128,
};

// The product's record: this key path, then the product name (T line).
constexpr char kProductKeyPrefix[] = "Software\\Quillon\\Update\\Programs\\";
// The record's values, in the order the installer writes them: the V
// line's text, the destination folder, and the digest name of the
// description carried out (which the updater compares with LATEST).
constexpr char kRecordVersion[] = "Version";
constexpr char kRecordFolder[] = "Dir";
constexpr char kRecordDescription[] = "Description";
// The programs folder when the current user has no "ProgramFilesDir".
constexpr char kDefaultProgramFiles[] = "C:\\Program Files";

enum {
    // The product name in the key path, with the key's zero: 94.
    kMaxProductName = kRegistryKeySize - sizeof kProductKeyPrefix,
    // The F line's folder name after the default programs folder and a
    // backslash, with the path's zero: 242.
    kMaxFolderName = kPathSize - sizeof kDefaultProgramFiles - 1,
    // An I line's file name, a path of its own in the current folder: 259.
    kMaxFileName = kPathSize - 1,
};

// A payload's size is a signed 32-bit count: below 2 GiB.
constexpr uint64_t kMaxPayloadBytes = 0x7FFFFFFFu;

// The first letters of the lines the installer acts on; it skips others.
constexpr char kDirectiveLetters[] = "TVFLIPM";

// A file that replaces an existing one is written under this name in its
// own folder (the subfolder, for a name with one), and moved over the old
// file only once its digest matched; a run killed mid-copy leaves it behind
// for the next run to remove. No payload may be installed under this name.
constexpr char kReplacementName[] = "~setup.part";

// The order of T and V lines, as the installer carries out a description:
// a V line needs a T line before it, and a description with a T line needs
// a V line too (the record holds both), which is checked before any step
// runs. Tracks the lines seen so far.
struct ProductLines {
    bool seenProduct;  // a T line
    bool seenVersion;  // a V line
};

enum OrderFault {
    kOrderOk,
    kVersionBeforeProduct,   // a V line with no T line before it
    kProductWithoutVersion,  // T lines and no V line
    kNoProduct,              // no T line at all: no product to record
};

// Takes the next line's directive letter; kVersionBeforeProduct for a V
// line before any T line, else kOrderOk.
OrderFault TakeDirective(ProductLines *lines, char letter);

// After the last line: kNoProduct or kProductWithoutVersion, else kOrderOk.
OrderFault FinishDirectives(const ProductLines &lines);

// Whether a line of the text starts with letter; the installer's check for
// kProductWithoutVersion before it runs any step.
bool HasLineStartingWith(const char *text, uint32_t length, char letter);

#endif
