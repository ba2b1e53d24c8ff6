#include "tools/mksetup/commands.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "crypto/dsasign.h"
#include "tools/mksetup/der.h"
#include "tools/mksetup/fileio.h"
#include "tools/mksetup/keyfile.h"
#include "tools/mksetup/latestfile.h"
#include "tools/mksetup/nonce.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/sysrandom.h"
#include "wfs/digest.h"
#include "wfs/latest.h"

namespace {

enum { kExitFailed = 1, kExitUsage = 2 };

// The key sizes keygen makes. p stays within the 127 words that the
// installer's arithmetic takes; q is what LATEST's 20-byte r and s hold.
enum { kPBits = 2048, kQBits = 160, kMaxPWords = 127, kMaxQBits = 8 * LATEST_FIELD_SIZE };

// A key file is a few kilobytes at most.
const size_t kKeyFileLimit = 64 * 1024;

const char kKeygenUsage[] = "usage: mksetup keygen KEYFILE [--public PUBFILE]";
const char kSignUsage[] = "usage: mksetup sign-latest KEYFILE DIGESTNAME -o LATEST";

// Prints the message as every failure of the packager; gives the exit
// status of a failed command.
int Failed(const std::string &message) {
    Fail("%s", message.c_str());
    return kExitFailed;
}

int Usage(const char *usage) {
    fprintf(stderr, "%s\n", usage);
    return kExitUsage;
}

struct OwnedKey {
    DsaKey key;
    OwnedKey() : key{newBig(0), newBig(0), newBig(0), newBig(0), newBig(0)} {}
    ~OwnedKey() {
        freeBig(key.p);
        freeBig(key.q);
        freeBig(key.g);
        freeBig(key.y);
        freeBig(key.x);
    }
    OwnedKey(const OwnedKey &) = delete;
    OwnedKey &operator=(const OwnedKey &) = delete;
};

// Reads and checks a signing key. Returns 0, or -1 with the reason in *error.
int32_t LoadKey(const char *path, DsaKey *key, std::string *error) {
    std::string text;
    int32_t status = ReadWholeFile(path, kKeyFileLimit, &text, error);
    if (status == 0)
        status = ParseDsaPrivateKey(text, key, error);
    WipeString(&text);
    if (status < 0)
        return -1;
    if (key->p->length > kMaxPWords) {
        *error = "p is longer than the installer's limit of 127 words";
        return -1;
    }
    if (bigBitLength(key->q) > kMaxQBits) {
        *error = "q is longer than the 160 bits a LATEST file holds";
        return -1;
    }
    const char *problem = DsaCheckKey(key);
    if (problem != nullptr) {
        *error = std::string("not a consistent DSA key: ") + problem;
        return -1;
    }
    return 0;
}

// m as LATEST holds it: the digest words in order, each least significant
// byte first, which is the 160-bit number the name spells.
void DigestNumber(const Digest *digest, BigNum *m) {
    unsigned char bytes[LATEST_FIELD_SIZE];
    for (int i = 0; i < 5; i++) {
        for (int b = 0; b < 4; b++)
            bytes[4 * i + b] = static_cast<unsigned char>(digest->word[i] >> (8 * b));
    }
    BufToBig(bytes, LATEST_FIELD_SIZE, m);
}

// Signs m with the deterministic nonce; a (vanishingly rare) r or s of zero
// takes the generator's next candidate.
void SignDeterministically(BigNum *m, const DsaKey *key, DsaSignature *sig) {
    NonceGenerator nonces;
    BigNum *k = newBig(0);
    NonceStart(&nonces, key->x, key->q, m);
    do {
        NonceNext(&nonces, k);
    } while (DsaSign(m, k, key, sig) < 0);
    NonceWipe(&nonces);
    freeBig(k);
}

std::string LatestBytes(const BigNum *m, const DsaSignature *sig) {
    unsigned char bytes[LATEST_FILE_SIZE];
    BigToBuf(m, LATEST_FIELD_SIZE, bytes);
    BigToBuf(sig->r, LATEST_FIELD_SIZE, bytes + LATEST_FIELD_SIZE);
    BigToBuf(sig->s, LATEST_FIELD_SIZE, bytes + 2 * LATEST_FIELD_SIZE);
    return std::string(reinterpret_cast<const char *>(bytes), LATEST_FILE_SIZE);
}

bool IsDigestName(const char *text, Digest *digest) {
    return strlen(text) == kDigestNameLength && NameToDigest(text, digest) == 0;
}

}  // namespace

int32_t WriteSignedLatest(const std::string &keyPath, const std::string &digestName,
                          const std::string &outPath) {
    Digest digest;
    if (!IsDigestName(digestName.c_str(), &digest))
        return Fail("'%s' is not a digest name (32 characters of 0-9 and a-v)", digestName.c_str());
    OwnedKey owned;
    std::string error;
    if (LoadKey(keyPath.c_str(), &owned.key, &error) < 0)
        return Fail("%s: %s", keyPath.c_str(), error.c_str());
    BigNum *m = newBig(0);
    BigNum *r = newBig(0);
    BigNum *s = newBig(0);
    DsaSignature sig = {r, s};
    DigestNumber(&digest, m);
    SignDeterministically(m, &owned.key, &sig);
    int32_t status = 0;
    // The check the installer makes, before anything is written.
    if (VerifySignature(m, &sig, &owned.key) != 1)
        status = Fail("%s: the key does not verify its own signature", keyPath.c_str());
    else if (WriteWholeFile(outPath.c_str(), LatestBytes(m, &sig), false, &error) < 0)
        status = Fail("%s: %s", outPath.c_str(), error.c_str());
    freeBig(s);
    freeBig(r);
    freeBig(m);
    return status;
}

int RunKeygen(int argc, char **argv) {
    const char *keyPath = nullptr;
    const char *publicPath = nullptr;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--public") == 0 && i + 1 < argc && publicPath == nullptr)
            publicPath = argv[++i];
        else if (argv[i][0] != '-' && keyPath == nullptr)
            keyPath = argv[i];
        else
            return Usage(kKeygenUsage);
    }
    if (keyPath == nullptr)
        return Usage(kKeygenUsage);
    if (publicPath != nullptr && strcmp(publicPath, keyPath) == 0)
        return Failed("the public key file must not be the key file");
    // Replacing a key would orphan every installer that checks against it.
    // So would replacing the public key that callers compile in.
    if (FileExists(keyPath))
        return Failed(std::string(keyPath) + ": already exists; remove it to make a new key");
    if (publicPath != nullptr && FileExists(publicPath))
        return Failed(std::string(publicPath) +
                      ": already exists; remove it to write a new public key there");

    OwnedKey owned;
    RandomSource random = {SystemRandomFill, nullptr};
    if (DsaGenerateKey(kPBits, kQBits, &random, &owned.key) < 0)
        return Failed("the system's random source failed");
    std::string error;
    std::string text = DsaPrivateKeyText(&owned.key);
    int32_t status = WriteWholeFile(keyPath, text, true, &error);
    WipeString(&text);
    if (status < 0)
        return Failed(std::string(keyPath) + ": " + error);
    if (publicPath != nullptr &&
        WriteWholeFile(publicPath, DsaPublicKeyHeader(&owned.key), false, &error) < 0) {
        RemoveFile(keyPath);
        return Failed(std::string(publicPath) + ": " + error);
    }
    return 0;
}

int RunSignLatest(int argc, char **argv) {
    const char *positional[2] = {nullptr, nullptr};
    int count = 0;
    const char *outPath = nullptr;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "-o") == 0 && i + 1 < argc && outPath == nullptr)
            outPath = argv[++i];
        else if (argv[i][0] != '-' && count < 2)
            positional[count++] = argv[i];
        else
            return Usage(kSignUsage);
    }
    if (count != 2 || outPath == nullptr)
        return Usage(kSignUsage);
    const char *keyPath = positional[0];
    const char *name = positional[1];
    if (strcmp(outPath, keyPath) == 0)
        return Failed("the LATEST file must not be the key file");
    return WriteSignedLatest(keyPath, name, outPath) < 0 ? kExitFailed : 0;
}
