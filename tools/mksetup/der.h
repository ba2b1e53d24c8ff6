#ifndef TOOLS_MKSETUP_DER_H
#define TOOLS_MKSETUP_DER_H

// The few pieces of DER and PEM (RFC 7468) that key files need: SEQUENCE,
// INTEGER, OBJECT IDENTIFIER and BIT STRING written, SEQUENCE and INTEGER
// read back strictly, and the base64 armour around them.

#include <stddef.h>

#include <string>

#include "crypto/bignum.h"

enum { kDerInteger = 0x02, kDerBitString = 0x03, kDerOid = 0x06, kDerSequence = 0x30 };

// tag, length and content.
std::string DerElement(unsigned char tag, const std::string &content);
// The INTEGER of |n|.
std::string DerInteger(const BigNum *n);

// A window on DER bytes being read; every read advances it.
struct DerReader {
    const unsigned char *next;
    size_t left;
};

// Reads one element with this tag and points *content at its content.
// Returns 0, or -1 on another tag, a length that is not DER's shortest
// (or over 65535) or content that runs past the window.
int32_t DerReadElement(DerReader *reader, unsigned char tag, DerReader *content);
// Reads a non-negative INTEGER in its shortest form into n. Returns 0, or -1
// (n untouched).
int32_t DerReadInteger(DerReader *reader, BigNum *n);

// "-----BEGIN label-----", the base64 of der in lines of 64, "-----END
// label-----", each line ending in '\n'.
std::string PemArmour(const char *label, const std::string &der);
// Finds the first block with this label in text and decodes it into *der.
// Returns 0, or -1 when there is none, it carries headers (an encrypted
// key) or its base64 is malformed (*der then holds no meaning).
int32_t PemUnarmour(const std::string &text, const char *label, std::string *der);

// Overwrites the string's bytes before it is dropped (key material).
void WipeString(std::string *s);

#endif
