// Times VerifySignature on the OpenSSL-made keys of tests/crypto.
//
// usage: bench_dsa FIXTURE...   (tests/crypto/dsa_<p bits>_<q bits>.txt)
// Prints one line per fixture: "<name> <microseconds per verification>".
// Each key verifies its first signature over and over for one second; the
// time printed is the median of those verifications. Every result must be 1,
// or the program fails with status 1.

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/dsa.h"

namespace {

int HexDigit(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// A new number from hexadecimal text.
BigNum *FromHex(const std::string &hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = hex.size(); i > 0;) {
        int lo = HexDigit(hex[--i]);
        int hi = i > 0 ? HexDigit(hex[--i]) : 0;
        bytes.push_back(static_cast<unsigned char>(hi << 4 | lo));
    }
    BigNum *n = newBig(0);
    BufToBig(bytes.data(), static_cast<uint32_t>(bytes.size()), n);
    return n;
}

struct Case {
    DsaKey key = {};
    BigNum *m = nullptr;
    DsaSignature sig = {};
};

bool Load(const char *path, Case *c) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag, a, b, d;
        words >> tag >> a;
        if (tag == "p")
            c->key.p = FromHex(a);
        if (tag == "q")
            c->key.q = FromHex(a);
        if (tag == "g")
            c->key.g = FromHex(a);
        if (tag == "y")
            c->key.y = FromHex(a);
        if (tag == "sig" && c->m == nullptr) {
            words >> b >> d;
            c->m = FromHex(a);
            c->sig.r = FromHex(b);
            c->sig.s = FromHex(d);
        }
    }
    return c->key.p && c->key.q && c->key.g && c->key.y && c->m;
}

void Release(Case *c) {
    BigNum *all[] = {c->key.p, c->key.q, c->key.g, c->key.y, c->m, c->sig.r, c->sig.s};
    for (BigNum *n : all)
        freeBig(n);
}

}  // namespace

int main(int argc, char **argv) {
    using Clock = std::chrono::steady_clock;
    int status = 0;
    for (int i = 1; i < argc; i++) {
        Case c;
        if (!Load(argv[i], &c)) {
            fprintf(stderr, "bench_dsa: cannot read a key and signature from %s\n", argv[i]);
            status = 1;
            Release(&c);
            continue;
        }
        bool valid = true;
        std::vector<double> runs;
        Clock::time_point start = Clock::now(), now = start;
        while (now - start < std::chrono::seconds(1)) {
            Clock::time_point run = now;
            valid &= VerifySignature(c.m, &c.sig, &c.key) == 1;
            now = Clock::now();
            runs.push_back(std::chrono::duration<double, std::micro>(now - run).count());
        }
        std::nth_element(runs.begin(), runs.begin() + runs.size() / 2, runs.end());
        double us = runs[runs.size() / 2];
        const char *name = strrchr(argv[i], '/');
        printf("%s %.1f\n", name != nullptr ? name + 1 : argv[i], us);
        if (!valid) {
            fprintf(stderr, "bench_dsa: %s: signature did not verify\n", argv[i]);
            status = 1;
        }
        Release(&c);
    }
    return status;
}
