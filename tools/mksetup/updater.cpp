#include "tools/mksetup/updater.h"

#include <vector>

#include "base/resids.h"
#include "crypto/bignum.h"
#include "crypto/dsa.h"
#include "setup/updaterules.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/der.h"
#include "tools/mksetup/fileio.h"
#include "tools/mksetup/installer.h"
#include "tools/mksetup/keyfile.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/pewriter.h"
#include "tools/mksetup/stringtable.h"
#include "tools/mksetup/stub.h"

namespace {

// A public key file is a few kilobytes.
const size_t kKeyFileLimit = 64 * 1024;

Input UpdaterStubInput(Arch arch) {
    Input input;
    input.path = std::string("the ") + ArchName(arch) + " updater stub";
    input.memory = arch == kArchX64 ? mksetupUpdaterX64 : mksetupUpdaterX86;
    input.size = (uint64_t)(arch == kArchX64 ? mksetupUpdaterX64End - mksetupUpdaterX64
                                             : mksetupUpdaterX86End - mksetupUpdaterX86);
    return input;
}

void AppendNumber(const BigNum *n, std::string *out) {
    uint32_t length = (uint32_t)(bigBitLength(n) + 7) / 8;
    std::vector<unsigned char> bytes(length);
    BigToBuf(n, length, bytes.data());
    *out += (char)(length & 0xFF);
    *out += (char)(length >> 8);
    out->append(bytes.begin(), bytes.end());
}

Resource DataResource(const char *name, uint32_t size) {
    Resource r = {};
    r.type = {DATA_RESOURCE_TYPE, {}};
    r.name = {0, AsciiToUtf16(name)};
    r.size = size;
    return r;
}

}  // namespace

int32_t LoadUpdaterKey(const std::string &path, std::string *resource) {
    std::string text, error;
    if (ReadWholeFile(path.c_str(), kKeyFileLimit, &text, &error) != 0)
        return Fail("--updater %s: %s", path.c_str(), error.c_str());
    DsaKey key = {newBig(0), newBig(0), newBig(0), newBig(0), nullptr};
    int32_t status = ParseDsaPublicKey(text, &key, &error);
    WipeString(&text);
    BigNum *numbers[kWfsKeyNumbers] = {key.p, key.q, key.g, key.y};
    std::string bytes;
    for (BigNum *n : numbers) {
        if (status == 0 && (bigBitLength(n) == 0 || bigBitLength(n) > 8 * 0xFFFF)) {
            error = "a key number is zero or too long";
            status = -1;
        }
        if (status == 0)
            AppendNumber(n, &bytes);
        freeBig(n);
    }
    if (status < 0)
        return Fail("--updater %s: %s", path.c_str(), error.c_str());
    *resource = bytes;
    return 0;
}

int32_t WriteUpdater(Arch arch, const UpdaterSettings &settings, const std::string &path) {
    Input stub = UpdaterStubInput(arch);
    PeImage image;
    std::vector<Resource> resources;
    std::string why;
    if (ReadPeImage(stub, &image, &why) < 0 || ReadResources(stub, image, &resources, &why) < 0)
        return Fail("the updater stub is damaged (%s)", why.c_str());
    std::string entries[16];
    entries[kHttpEntry - kStringBlockFirst] = settings.http;
    entries[kFtpEntry - kStringBlockFirst] = settings.ftp;
    std::vector<unsigned char> block = EncodeStringBlock(entries);
    std::vector<Resource> layout = resources;
    Resource strings = {};
    strings.type = {kRtString, {}};
    strings.name = {kStringBlock, {}};
    strings.size = (uint32_t)block.size();
    layout.push_back(strings);
    layout.push_back(DataResource(UPDATE_PRODUCT_NAME, (uint32_t)settings.product.size()));
    layout.push_back(DataResource(UPDATE_KEY_NAME, (uint32_t)settings.key.size()));
    // A resource of no bytes cannot be carried: no licences, no resource.
    bool licences = !settings.licences.empty();
    if (licences)
        layout.push_back(DataResource(UPDATE_LICENCES_NAME, (uint32_t)settings.licences.size()));

    ImageWriter writer;
    if (writer.Begin(stub, image, layout, false, path) < 0)
        return -1;
    for (const Resource &r : resources)
        if (CopyResource(stub, r, &writer) < 0)
            return -1;
    if (writer.Write(block.data(), (uint32_t)block.size()) < 0 || writer.EndResource() < 0 ||
        writer.Write(settings.product.data(), (uint32_t)settings.product.size()) < 0 ||
        writer.EndResource() < 0 ||
        writer.Write(settings.key.data(), (uint32_t)settings.key.size()) < 0 ||
        writer.EndResource() < 0 ||
        (licences &&
         (writer.Write(settings.licences.data(), (uint32_t)settings.licences.size()) < 0 ||
          writer.EndResource() < 0)))
        return -1;
    return writer.Finish();
}
