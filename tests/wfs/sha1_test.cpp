// SHA-1 against the system's sha1sum on random data of many lengths, each
// fed whole, byte by byte, and split at every offset, with each engine: the
// portable code and, on a CPU that has them, the SHA instructions.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(__linux__) && UINTPTR_MAX > 0xFFFFFFFFu
#include <sys/mman.h>
#define SHA1_TEST_HUGE_UPDATE 1
#endif

#include "wfs/sha1.h"

namespace {

std::string Hex(const Sha1Context &ctx) {
    char text[41];
    for (int i = 0; i < 5; i++)
        snprintf(text + 8 * i, 9, "%08x", ctx.state[i]);
    return text;
}

std::string DigestOfPieces(const std::vector<unsigned char> &data,
                           const std::vector<size_t> &cuts) {
    Sha1Context ctx;
    Sha1Init(&ctx);
    size_t start = 0;
    for (size_t cut : cuts) {
        Sha1Update(&ctx, data.data() + start, (uint32_t)(cut - start));
        start = cut;
    }
    Sha1Update(&ctx, data.data() + start, (uint32_t)(data.size() - start));
    Sha1Final(&ctx);
    return Hex(ctx);
}

struct Vector {
    std::string file;
    size_t length;
    std::string hex;
};

std::vector<Vector> LoadVectors(std::string *dir) {
    const char *env = getenv("SHA1_VECTORS");
    std::vector<Vector> vectors;
    if (env == nullptr)
        return vectors;
    *dir = env;
    FILE *f = fopen((*dir + "/vectors.txt").c_str(), "r");
    if (f == nullptr)
        return vectors;
    char file[256], hex[64];
    unsigned long length;
    while (fscanf(f, "%255s %lu %63s", file, &length, hex) == 3)
        vectors.push_back({file, length, hex});
    fclose(f);
    return vectors;
}

std::vector<unsigned char> ReadFile(const std::string &path) {
    std::vector<unsigned char> data;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return data;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    fclose(f);
    return data;
}

// Runs each test once with the engine the CPU offers and once with the
// portable code forced.
class Sha1Engines : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Sha1ForcePortable(GetParam());
        RecordProperty("engine", Sha1CurrentEngine() == kSha1ShaInstructions ? "sha" : "portable");
    }
    void TearDown() override { Sha1ForcePortable(false); }
};

INSTANTIATE_TEST_SUITE_P(Sha1, Sha1Engines, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "Portable" : "Best");
                         });

TEST_P(Sha1Engines, MatchesSha1sumWhateverTheSplit) {
    std::string dir;
    std::vector<Vector> vectors = LoadVectors(&dir);
    ASSERT_GT(vectors.size(), 10u) << "SHA1_VECTORS must name the generated vectors";
    for (const Vector &v : vectors) {
        std::vector<unsigned char> data = ReadFile(dir + "/" + v.file);
        ASSERT_EQ(data.size(), v.length) << v.file;
        EXPECT_EQ(DigestOfPieces(data, {}), v.hex) << v.file << " in one update";

        if (v.length <= 4097) {
            std::vector<size_t> everyByte;
            for (size_t i = 1; i < v.length; i++)
                everyByte.push_back(i);
            EXPECT_EQ(DigestOfPieces(data, everyByte), v.hex) << v.file << " byte by byte";
            for (size_t cut = 0; cut <= v.length; cut++)
                ASSERT_EQ(DigestOfPieces(data, {cut}), v.hex) << v.file << " split at " << cut;
        }
        // Irregular pieces across block boundaries, and an empty update.
        std::vector<size_t> uneven;
        for (size_t at = 7, step = 1; at < v.length; step = step * 3 % 4099 + 1, at += step)
            uneven.push_back(at);
        uneven.insert(uneven.begin(), 0);
        EXPECT_EQ(DigestOfPieces(data, uneven), v.hex) << v.file << " in uneven pieces";
    }
}

TEST_P(Sha1Engines, MillionAs) {
    std::vector<unsigned char> data(1000000, 'a');
    EXPECT_EQ(DigestOfPieces(data, {}), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(DigestOfPieces(data, {1, 64, 65, 999999}),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// The two engines on the same pseudo-random pieces, from addresses of every
// alignment.
TEST(Sha1, EnginesAgree) {
    std::vector<unsigned char> data(300000);
    uint32_t seed = 20261210;
    for (unsigned char &byte : data) {
        seed = seed * 1103515245 + 12345;
        byte = (unsigned char)(seed >> 24);
    }
    for (size_t start = 0; start < 16; start++) {
        std::vector<unsigned char> piece(data.begin() + (long)start,
                                         data.end() - (long)(start * 97));
        std::vector<size_t> cuts;
        for (size_t at = start * 13; at < piece.size(); at += 4096 + start * 61)
            cuts.push_back(at);
        std::string best = DigestOfPieces(piece, cuts);
        Sha1ForcePortable(true);
        std::string portable = DigestOfPieces(piece, cuts);
        Sha1ForcePortable(false);
        ASSERT_EQ(best, portable) << "offset " << start;
    }
}

// An empty update may pass a null pointer, also with bytes buffered.
TEST(Sha1, EmptyUpdateWithNullData) {
    Sha1Context ctx;
    Sha1Init(&ctx);
    Sha1Update(&ctx, "ab", 2);
    Sha1Update(&ctx, nullptr, 0);
    Sha1Update(&ctx, "c", 1);
    Sha1Final(&ctx);
    EXPECT_EQ(Hex(ctx), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// Past 2^29 bytes the bit count needs more than 32 bits. The reference is
// sha1sum of the same 2^29 + 4097 bytes: a 64 KiB pattern (byte j is j * 7 + 1)
// repeated and cut.
TEST(Sha1, LengthBeyond512MiB) {
    std::vector<unsigned char> chunk(65536);
    for (size_t j = 0; j < chunk.size(); j++)
        chunk[j] = (unsigned char)(j * 7 + 1);
    Sha1Context ctx;
    Sha1Init(&ctx);
    for (int i = 0; i < (1 << 29) / 65536; i++)
        Sha1Update(&ctx, chunk.data(), (uint32_t)chunk.size());
    Sha1Update(&ctx, chunk.data(), 4097);
    Sha1Final(&ctx);
    EXPECT_EQ(Hex(ctx), "a8043dd45b15ad83634ce0b53323ec224300dc9f");
}

#ifdef SHA1_TEST_HUGE_UPDATE
// The largest count behind one buffered byte: buffered plus count does not
// fit 32 bits. 4 GiB of zero pages that share one physical page. The
// reference is sha1sum of "x" and 2^32 - 1 zero bytes.
TEST(Sha1, LargestCountBehindBufferedBytes) {
    const size_t size = 0xFFFFFFFFu;
    void *zeros =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    Sha1Context ctx;
    Sha1Init(&ctx);
    Sha1Update(&ctx, "x", 1);
    Sha1Update(&ctx, zeros, 0xFFFFFFFFu);
    Sha1Final(&ctx);
    munmap(zeros, size);
    EXPECT_EQ(Hex(ctx), "84328aab26056637587ab896adeab00247eb6998");
}
#endif

}  // namespace
