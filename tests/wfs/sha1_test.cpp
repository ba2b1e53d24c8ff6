// SHA-1 against the system's sha1sum on random data of many lengths, each
// fed whole, byte by byte, and split at many offsets.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

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

TEST(Sha1, MatchesSha1sumWhateverTheSplit) {
    std::string dir;
    std::vector<Vector> vectors = LoadVectors(&dir);
    ASSERT_GT(vectors.size(), 10u) << "SHA1_VECTORS must name the generated vectors";
    for (const Vector &v : vectors) {
        std::vector<unsigned char> data = ReadFile(dir + "/" + v.file);
        ASSERT_EQ(data.size(), v.length) << v.file;
        EXPECT_EQ(DigestOfPieces(data, {}), v.hex) << v.file << " in one update";

        if (v.length <= 4096) {
            std::vector<size_t> everyByte;
            for (size_t i = 1; i < v.length; i++)
                everyByte.push_back(i);
            EXPECT_EQ(DigestOfPieces(data, everyByte), v.hex) << v.file << " byte by byte";
            for (size_t cut = 0; cut <= v.length && cut <= 200; cut++)
                EXPECT_EQ(DigestOfPieces(data, {cut}), v.hex) << v.file << " split at " << cut;
        }
        // Irregular pieces across block boundaries, and an empty update.
        std::vector<size_t> uneven;
        for (size_t at = 7, step = 1; at < v.length; step = step * 3 % 4099 + 1, at += step)
            uneven.push_back(at);
        uneven.insert(uneven.begin(), 0);
        EXPECT_EQ(DigestOfPieces(data, uneven), v.hex) << v.file << " in uneven pieces";
    }
}

TEST(Sha1, MillionAs) {
    std::vector<unsigned char> data(1000000, 'a');
    EXPECT_EQ(DigestOfPieces(data, {}), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(DigestOfPieces(data, {1, 64, 65, 999999}),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

}  // namespace
