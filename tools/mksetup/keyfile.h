#ifndef TOOLS_MKSETUP_KEYFILE_H
#define TOOLS_MKSETUP_KEYFILE_H

// The signing key's files.
//
// Key file: the DSA private key in OpenSSL's traditional form, so that the
// openssl tool reads it too ("openssl dsa -in KEYFILE -text"): PEM with the
// label "DSA PRIVATE KEY" around the DER
//     SEQUENCE { INTEGER 0, INTEGER p, INTEGER q, INTEGER g, INTEGER y, INTEGER x }
// unencrypted; keep it private.
//
// Public key file: a C header that declares p, q, g and y as byte arrays,
// least significant byte first (the order BufToBig reads), with the same key
// as a PEM "PUBLIC KEY" (SubjectPublicKeyInfo, id-dsa) in its opening
// comment, which the openssl tool finds there ("openssl pkeyutl -verify
// -pubin -inkey PUBFILE ...").

#include <stdint.h>

#include <string>

#include "crypto/dsa.h"

// The key file's text for a key with x set.
std::string DsaPrivateKeyText(const DsaKey *key);

// Reads a key file's text into the key's five numbers (the caller's).
// Returns 0, or -1 with a short reason in *error (the numbers then hold no
// meaning). Checks the form only, not that the numbers fit together.
int32_t ParseDsaPrivateKey(const std::string &text, DsaKey *key, std::string *error);

// The public key file's text.
std::string DsaPublicKeyHeader(const DsaKey *key);

// Reads p, q, g and y (the caller's numbers) from the first PEM "PUBLIC
// KEY" block of a text (a public key file), else from a key file's text.
// Returns 0, or -1 with a short reason in *error. Checks the form only.
int32_t ParseDsaPublicKey(const std::string &text, DsaKey *key, std::string *error);

#endif
