#include "tests/crypto/bigtest.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
}

// Magnitude bytes, least significant first, of unsigned hex text.
std::vector<unsigned char> HexBytes(const std::string &digits) {
    std::vector<unsigned char> bytes;
    for (size_t i = digits.size(); i > 0;) {
        int lo = HexDigit(digits[--i]);
        int hi = i > 0 ? HexDigit(digits[--i]) : 0;
        bytes.push_back(static_cast<unsigned char>(hi << 4 | lo));
    }
    if (bytes.empty())
        bytes.push_back(0);
    return bytes;
}

std::string Magnitude(const std::string &hex) {
    std::string digits = hex[0] == '-' ? hex.substr(1) : hex;
    size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

std::string MagnitudeHex(const BigNum *n) {
    std::string s;
    char buf[9];
    for (int32_t i = n->length - 1; i >= 0; i--) {
        snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(n->words[i]));
        s += buf;
    }
    return Magnitude(s);
}

::testing::AssertionResult CheckShape(const BigNum *n) {
    if (n->length < 1 || n->length > n->capacity)
        return ::testing::AssertionFailure()
               << "length " << n->length << " capacity " << n->capacity;
    if (n->length > 1 && n->words[n->length - 1] == 0)
        return ::testing::AssertionFailure() << "not normalised: length " << n->length;
    if (n->sign != 1 && n->sign != -1)
        return ::testing::AssertionFailure() << "sign " << n->sign;
    return ::testing::AssertionSuccess();
}

struct VectorFile {
    std::string path;
    std::string seed = "?";
    std::map<std::string, std::vector<VectorCase>> cases;
};

const VectorFile &LoadVectors() {
    static VectorFile *file = nullptr;
    if (file != nullptr)
        return *file;
    file = new VectorFile;
    const char *env = getenv("CRYPTO_VECTORS");
    file->path = env != nullptr ? env : CRYPTO_VECTORS;
    std::ifstream in(file->path.c_str());
    if (!in) {
        ADD_FAILURE() << "cannot read " << file->path;
        return *file;
    }
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        line++;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::istringstream words(text);
        std::string op, word;
        words >> op;
        if (op == "#") {
            words >> word >> file->seed;
            continue;
        }
        VectorCase c;
        c.line = line;
        bool results = false;
        while (words >> word) {
            if (word == ":") {
                results = true;
            } else {
                (results ? c.results : c.args).push_back(word);
            }
        }
        file->cases[op].push_back(c);
    }
    printf("big-number vectors: %s, python seed %s\n", file->path.c_str(), file->seed.c_str());
    return *file;
}

}  // namespace

Big MakeBig(const std::string &hex) {
    bool negative = !hex.empty() && hex[0] == '-';
    std::vector<unsigned char> bytes = HexBytes(negative ? hex.substr(1) : hex);
    Big n(newBig(0));
    BufToBig(bytes.data(), static_cast<uint32_t>(bytes.size()), n.get());
    n->sign = negative ? -1 : 1;
    return n;
}

std::string BigHex(const BigNum *n) {
    return (n->sign < 0 ? "-" : "") + MagnitudeHex(n);
}

::testing::AssertionResult BigMagnitudeIs(const BigNum *n, const std::string &hex) {
    ::testing::AssertionResult shape = CheckShape(n);
    if (!shape)
        return shape;
    if (MagnitudeHex(n) != Magnitude(hex))
        return ::testing::AssertionFailure()
               << "magnitude " << MagnitudeHex(n) << "\n expected " << Magnitude(hex);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult BigIs(const BigNum *n, const std::string &hex) {
    ::testing::AssertionResult magnitude = BigMagnitudeIs(n, hex);
    if (!magnitude)
        return magnitude;
    int32_t sign = hex[0] == '-' ? -1 : 1;
    if (n->sign != sign)
        return ::testing::AssertionFailure()
               << "sign " << n->sign << ", expected " << sign << " for " << BigHex(n);
    return ::testing::AssertionSuccess();
}

uint32_t HexWord(const std::string &hex) {
    return static_cast<uint32_t>(strtoul(hex.c_str(), nullptr, 16));
}

uint32_t TestSeed() {
    static bool known = false;
    static uint32_t seed;
    if (!known) {
        const char *env = getenv("CRYPTO_SEED");
        seed = env != nullptr ? static_cast<uint32_t>(strtoul(env, nullptr, 10))
                              : static_cast<uint32_t>(time(nullptr));
        known = true;
        printf("crypto test seed %u (replay with CRYPTO_SEED=%u)\n", static_cast<unsigned>(seed),
               static_cast<unsigned>(seed));
    }
    return seed;
}

std::vector<uint32_t> ShapedWords(std::mt19937 &rng, int32_t n) {
    static const uint32_t kTops[] = {0x7FFFFFFF, 0x7FFFFFFE, 0x80000000, 0x80000001, 0x40000000,
                                     0xFFFFFFFF, 1,          2,          0x0000FFFF};
    static const uint32_t kWords[] = {0, 1, 0xFFFFFFFF, 0x80000000};
    std::vector<uint32_t> w(n);
    switch (rng() % 6) {
        case 0:
            for (uint32_t &x : w)
                x = 0xFFFFFFFF;
            break;
        case 1:
            for (uint32_t &x : w)
                x = kWords[rng() % 4];
            break;
        case 2:
            for (int k = 0; k < 3; k++)
                w[rng() % n] = rng();
            break;
        default:
            for (uint32_t &x : w)
                x = rng();
            break;
    }
    if (rng() % 2 != 0)
        w[n - 1] = kTops[rng() % (sizeof kTops / sizeof kTops[0])];
    if (w[n - 1] == 0)
        w[n - 1] = 1;
    return w;
}

int32_t ShapedLength(std::mt19937 &rng, int32_t max) {
    int32_t lo = 1, hi = max;
    switch (rng() % 4) {
        case 0:
            hi = max < 8 ? max : 8;
            break;
        case 1:
            lo = max < 60 ? 1 : 60;
            hi = max < 70 ? max : 70;
            break;
        case 2:
            lo = max < 120 ? 1 : 120;
            break;
        default:
            break;
    }
    return lo + static_cast<int32_t>(rng() % static_cast<uint32_t>(hi - lo + 1));
}

Big BigFromWords(const std::vector<uint32_t> &words, int32_t sign) {
    std::vector<unsigned char> bytes;
    for (uint32_t w : words) {
        for (int k = 0; k < 4; k++)
            bytes.push_back(static_cast<unsigned char>(w >> (8 * k)));
    }
    Big n(newBig(0));
    BufToBig(bytes.data(), static_cast<uint32_t>(bytes.size()), n.get());
    n->sign = sign;
    return n;
}

const std::vector<VectorCase> &Vectors(const std::string &op) {
    static const std::vector<VectorCase> none;
    const VectorFile &file = LoadVectors();
    auto it = file.cases.find(op);
    if (it == file.cases.end()) {
        ADD_FAILURE() << "no '" << op << "' cases in " << file.path;
        return none;
    }
    return it->second;
}

std::string VectorWhere(const VectorCase &c) {
    const VectorFile &file = LoadVectors();
    std::ostringstream s;
    s << "vectors " << file.path << " line " << c.line << " (python seed " << file.seed << ")";
    return s.str();
}

::testing::Matcher<const std::string &> FatalReport(const std::string &text) {
    return ::testing::Matcher<const std::string &>("CRITICAL EXCEPTION: " + text + " exiting.\n");
}
