#include "tools/mksetup/keyfile.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "tools/mksetup/der.h"

namespace {

const char kPrivateLabel[] = "DSA PRIVATE KEY";
const char kPublicLabel[] = "PUBLIC KEY";
// id-dsa, 1.2.840.10040.4.1
const char kDsaOid[] = "\x2a\x86\x48\xce\x38\x04\x01";

std::string SubjectPublicKeyInfo(const DsaKey *key) {
    std::string params =
        DerElement(kDerSequence, DerInteger(key->p) + DerInteger(key->q) + DerInteger(key->g));
    std::string algorithm =
        DerElement(kDerSequence, DerElement(kDerOid, std::string(kDsaOid, 7)) + params);
    // The BIT STRING's first byte counts its unused bits: none.
    std::string bits = DerElement(kDerBitString, std::string(1, '\0') + DerInteger(key->y));
    return DerElement(kDerSequence, algorithm + bits);
}

// "static const unsigned char NAME[N] = {...};" with |n|'s bytes, least
// significant first.
std::string ByteArray(const char *name, const BigNum *n) {
    uint32_t bytes = static_cast<uint32_t>((bigBitLength(n) + 7) / 8);
    if (bytes == 0)
        bytes = 1;
    std::vector<unsigned char> le(bytes);
    BigToBuf(n, bytes, le.data());
    char line[96];
    snprintf(line, sizeof line, "static const unsigned char %s[%u] = {", name, bytes);
    std::string out = line;
    for (uint32_t i = 0; i < bytes; i++) {
        snprintf(line, sizeof line, "%s0x%02x%s", i % 12 == 0 ? "\n    " : " ", le[i],
                 i + 1 < bytes ? "," : "");
        out += line;
    }
    return out + "\n};\n";
}

}  // namespace

std::string DsaPrivateKeyText(const DsaKey *key) {
    BigNum *version = newBig(0);
    std::string der =
        DerElement(kDerSequence, DerInteger(version) + DerInteger(key->p) + DerInteger(key->q) +
                                     DerInteger(key->g) + DerInteger(key->y) + DerInteger(key->x));
    freeBig(version);
    std::string text = PemArmour(kPrivateLabel, der);
    WipeString(&der);
    return text;
}

int32_t ParseDsaPrivateKey(const std::string &text, DsaKey *key, std::string *error) {
    std::string der;
    if (PemUnarmour(text, kPrivateLabel, &der) < 0) {
        *error =
            "not an unencrypted PEM \"DSA PRIVATE KEY\" (openssl dsa -in KEY -out KEYFILE "
            "writes one)";
        return -1;
    }
    DerReader all = {reinterpret_cast<const unsigned char *>(der.data()), der.size()};
    DerReader fields;
    BigNum *version = newBig(0);
    BigNum *numbers[5] = {key->p, key->q, key->g, key->y, key->x};
    int32_t status = DerReadElement(&all, kDerSequence, &fields) == 0 && all.left == 0 &&
                             DerReadInteger(&fields, version) == 0 && bigBitLength(version) == 0
                         ? 0
                         : -1;
    for (int i = 0; i < 5 && status == 0; i++)
        status = DerReadInteger(&fields, numbers[i]);
    if (status == 0 && fields.left != 0)
        status = -1;
    if (status < 0)
        *error = "malformed DSA private key";
    freeBig(version);
    WipeString(&der);
    return status;
}

std::string DsaPublicKeyHeader(const DsaKey *key) {
    return "/* DSA public key for checking LATEST files, written by mksetup keygen.\n"
           "\n" +
           PemArmour(kPublicLabel, SubjectPublicKeyInfo(key)) +
           "\n"
           "   The numbers below are p, q, g and y, each least significant byte first:\n"
           "\n"
           "       DsaKey key = {newBig(0), newBig(0), newBig(0), newBig(0), nullptr};\n"
           "       BufToBig(kLatestKeyP, sizeof kLatestKeyP, key.p);\n"
           "       BufToBig(kLatestKeyQ, sizeof kLatestKeyQ, key.q);\n"
           "       BufToBig(kLatestKeyG, sizeof kLatestKeyG, key.g);\n"
           "       BufToBig(kLatestKeyY, sizeof kLatestKeyY, key.y);\n"
           "\n"
           "   then WfsFetchLatest(&key, words) checks the LATEST file against them. */\n"
           "#ifndef LATEST_PUBLIC_KEY_H\n"
           "#define LATEST_PUBLIC_KEY_H\n"
           "\n" +
           ByteArray("kLatestKeyP", key->p) + ByteArray("kLatestKeyQ", key->q) +
           ByteArray("kLatestKeyG", key->g) + ByteArray("kLatestKeyY", key->y) +
           "\n"
           "#endif\n";
}

int32_t ParseDsaPublicKey(const std::string &text, DsaKey *key, std::string *error) {
    std::string der;
    if (PemUnarmour(text, kPublicLabel, &der) < 0) {
        // A key file holds the public numbers too.
        BigNum *x = newBig(0);
        DsaKey full = {key->p, key->q, key->g, key->y, x};
        int32_t status = ParseDsaPrivateKey(text, &full, error);
        freeBig(x);
        if (status < 0)
            *error = "neither a public key file (mksetup keygen --public) nor a key file";
        return status;
    }
    // SEQUENCE { SEQUENCE { OID id-dsa, SEQUENCE { p, q, g } }, BIT STRING { 0, INTEGER y } }
    DerReader all = {reinterpret_cast<const unsigned char *>(der.data()), der.size()};
    DerReader info, algorithm, oid, params, bits;
    bool ok = DerReadElement(&all, kDerSequence, &info) == 0 && all.left == 0 &&
              DerReadElement(&info, kDerSequence, &algorithm) == 0 &&
              DerReadElement(&algorithm, kDerOid, &oid) == 0 && oid.left == 7 &&
              memcmp(oid.next, kDsaOid, 7) == 0 &&
              DerReadElement(&algorithm, kDerSequence, &params) == 0 && algorithm.left == 0 &&
              DerReadInteger(&params, key->p) == 0 && DerReadInteger(&params, key->q) == 0 &&
              DerReadInteger(&params, key->g) == 0 && params.left == 0 &&
              DerReadElement(&info, kDerBitString, &bits) == 0 && info.left == 0 &&
              bits.left != 0 && bits.next[0] == 0;
    if (ok) {
        bits.next++;
        bits.left--;
        ok = DerReadInteger(&bits, key->y) == 0 && bits.left == 0;
    }
    if (!ok)
        *error = "malformed DSA public key";
    return ok ? 0 : -1;
}
