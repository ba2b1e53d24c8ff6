#!/usr/bin/env python3
"""Runs the packager's keygen and sign-latest commands through
latestcmd_driver and checks what they write with Python integers and the
openssl tool: the key's numbers, signatures that OpenSSL verifies, the
published RFC 6979 signature, the same file for the same inputs, and the
refusals (one line, non-zero status, no output file).

usage: run_latestcmd.py native|wine DRIVER SOURCE_DIR"""
import hashlib
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "net"))
import netfixture  # noqa: E402

ALPHABET = "0123456789abcdefghijklmnopqrstuv"
RUN_WAIT = 900  # bound on one command; keygen searches primes for a while

# RFC 6979, A.2.1: DSA-1024 with SHA-1, message "sample".
RFC_KEY = {
    "p": int("86F5CA03DCFEB225063FF830A0C769B9DD9D6153AD91D7CE27F787C43278B447"
             "E6533B86B18BED6E8A48B784A14C252C5BE0DBF60B86D6385BD2F12FB763ED88"
             "73ABFD3F5BA2E0A8C0A59082EAC056935E529DAF7C610467899C77ADEDFC846C"
             "881870B7B19B2B58F9BE0521A17002E3BDD6B86685EE90B3D9A1B02B782B1779", 16),
    "q": int("996F967F6C8E388D9E28D01E205FBA957A5698B1", 16),
    "g": int("07B0F92546150B62514BB771E2A0C0CE387F03BDA6C56B505209FF25FD3C133D"
             "89BBCD97E904E09114D9A7DEFDEADFC9078EA544D2E401AEECC40BB9FBBF78FD"
             "87995A10A1C27CB7789B594BA7EFB5C4326A9FE59A070E136DB77175464ADCA4"
             "17BE5DCE2F40D10A46A3A3943F26AB7FD9C0398FF8C76EE0A56826A8A88F1DBD", 16),
    "x": int("411602CB19A6CCC34494D79D98EF1E7ED5AF25F7", 16),
}
RFC_KEY["y"] = pow(RFC_KEY["g"], RFC_KEY["x"], RFC_KEY["p"])
RFC_SAMPLE_R = int("2E1A0C2562B2912CAAF89186FB0F42001585DA55", 16)
RFC_SAMPLE_S = int("29EFB6B0AFF2D7A68EB70CA313022253B9A88DF5", 16)

failures = []


def check(what, ok, detail=""):
    print("%s: %s%s" % (what, "ok" if ok else "FAILED", "" if ok else " " + detail))
    if not ok:
        failures.append(what)


class Driver:
    def __init__(self, runner, exe):
        self.prefix = ["wine", exe] if runner == "wine" else [exe]
        self.env = netfixture.wine_env({}) if runner == "wine" else None

    def run(self, *args):
        """(status, stdout, stderr) of one command."""
        done = subprocess.run(self.prefix + list(args), env=self.env, capture_output=True,
                              timeout=RUN_WAIT)
        # Wine may add its own notes on stderr; the command's lines start so.
        err = [line for line in done.stderr.decode(errors="replace").splitlines()
               if line.startswith(("mksetup", "usage"))]
        return done.returncode, done.stdout.decode(errors="replace"), err


# Digest names and the numbers they spell.

def name_of(n):
    return "".join(ALPHABET[(n >> (5 * k)) & 31] for k in range(32))


def number_of(name):
    return sum(ALPHABET.index(c) << (5 * k) for k, c in enumerate(name))


# DER and PEM, as much as the key files use.

def der_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def der(tag, content):
    return bytes([tag]) + der_length(len(content)) + content


def der_int(n):
    return der(0x02, n.to_bytes(n.bit_length() // 8 + 1, "big"))


def der_elements(data):
    """The (tag, content) pairs of a run of DER elements."""
    out, pos = [], 0
    while pos < len(data):
        tag, first = data[pos], data[pos + 1]
        pos += 2
        length = first
        if first & 0x80:
            count = first & 0x7F
            length = int.from_bytes(data[pos:pos + count], "big")
            pos += count
        out.append((tag, data[pos:pos + length]))
        pos += length
    return out


def pem(label, body):
    import base64
    text = base64.b64encode(body).decode()
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return ("-----BEGIN %s-----\n%s\n-----END %s-----\n" % (label, "\n".join(lines), label)).encode()


def pem_body(text, label):
    import base64
    lines = text.decode().splitlines()
    start = lines.index("-----BEGIN %s-----" % label)
    end = lines.index("-----END %s-----" % label)
    return base64.b64decode("".join(lines[start + 1:end]))


def key_text(k):
    fields = b"".join(der_int(v) for v in (0, k["p"], k["q"], k["g"], k["y"], k["x"]))
    return pem("DSA PRIVATE KEY", der(0x30, fields))


def read_key(path):
    with open(path, "rb") as f:
        (tag, body), = der_elements(pem_body(f.read(), "DSA PRIVATE KEY"))
    values = [int.from_bytes(c, "big") for t, c in der_elements(body)]
    return dict(zip(("version", "p", "q", "g", "y", "x"), values))


def header_numbers(path):
    """The kLatestKey arrays of the public key header, as numbers."""
    numbers, name, data = {}, None, []
    with open(path) as f:
        for line in f:
            if line.startswith("static const unsigned char kLatestKey"):
                name, data = line.split("kLatestKey")[1][0].lower(), []
            elif name and line.startswith("};"):
                numbers[name] = int.from_bytes(bytes(data), "little")
                name = None
            elif name:
                data += [int(v, 16) for v in line.replace(",", " ").split()]
    return numbers


def probable_prime(n, rounds=40):
    if n < 4 or n % 2 == 0:
        return n in (2, 3)
    d, s = n - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    rng = random.SystemRandom()
    for _ in range(rounds):
        x = pow(rng.randrange(2, n - 1), d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


# The LATEST file and its checks.

def latest_fields(data):
    return [int.from_bytes(data[i:i + 20], "little") for i in (0, 20, 40)]


def dsa_holds(k, m, r, s):
    if not (0 < r < k["q"] and 0 < s < k["q"]):
        return False
    w = pow(s, -1, k["q"])
    v = pow(k["g"], m * w % k["q"], k["p"]) * pow(k["y"], r * w % k["q"], k["p"]) % k["p"]
    return v % k["q"] == r


def openssl_verifies(work, public, data):
    """openssl pkeyutl -verify over the signed 160-bit value itself: OpenSSL
    reads the input as a big-endian number, LATEST stores it the other way."""
    m, r, s = latest_fields(data)
    with open(os.path.join(work, "m.bin"), "wb") as f:
        f.write(m.to_bytes(20, "big"))
    with open(os.path.join(work, "sig.der"), "wb") as f:
        f.write(der(0x30, der_int(r) + der_int(s)))
    done = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey", public,
                           "-in", os.path.join(work, "m.bin"),
                           "-sigfile", os.path.join(work, "sig.der")],
                          capture_output=True)
    return done.returncode == 0


def openssl_public_der(args):
    return subprocess.run(["openssl", "pkey"] + args + ["-outform", "DER"],
                          capture_output=True, check=True).stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()


# The cases.

def keygen_cases(driver, work, native, source_dir):
    keyfile, public = os.path.join(work, "k.pem"), os.path.join(work, "pub.h")
    status, out, err = driver.run("keygen", keyfile, "--public", public)
    check("keygen succeeds quietly", status == 0 and out == "" and not err, "%d %r" % (status, err))
    if status != 0:
        return None
    k = read_key(keyfile)
    p, q, g, y, x = k["p"], k["q"], k["g"], k["y"], k["x"]
    check("key: p has 2048 bits and q 160", p.bit_length() == 2048 and q.bit_length() == 160)
    check("key: p and q are prime", probable_prime(p) and probable_prime(q))
    check("key: q divides p - 1", (p - 1) % q == 0)
    check("key: g has order q", 1 < g < p and pow(g, q, p) == 1)
    check("key: 0 < x < q and y = g^x mod p", 0 < x < q and y == pow(g, x, p))
    check("header: p, q, g, y least significant byte first",
          header_numbers(public) == {"p": p, "q": q, "g": g, "y": y})
    check("openssl reads the key file and the header's public key alike",
          openssl_public_der(["-in", keyfile, "-pubout"]) ==
          openssl_public_der(["-pubin", "-in", public]))
    if native:
        check("key file is private to its owner", os.stat(keyfile).st_mode & 0o077 == 0)
        program = ('#include "crypto/bignum.h"\n#include "crypto/dsa.h"\n#include "%s"\n'
                   "void Load(DsaKey *key) {\n"
                   "    BufToBig(kLatestKeyP, sizeof kLatestKeyP, key->p);\n"
                   "    BufToBig(kLatestKeyQ, sizeof kLatestKeyQ, key->q);\n"
                   "    BufToBig(kLatestKeyG, sizeof kLatestKeyG, key->g);\n"
                   "    BufToBig(kLatestKeyY, sizeof kLatestKeyY, key->y);\n}\n" % public)
        done = subprocess.run(["g++", "-std=c++17", "-Wall", "-Wextra", "-Werror",
                               "-fsyntax-only", "-I", source_dir, "-x", "c++", "-"],
                              input=program.encode(), capture_output=True)
        check("header compiles into a caller", done.returncode == 0, done.stderr.decode())

    before = read(keyfile)
    other = os.path.join(work, "other.h")
    status, out, err = driver.run("keygen", keyfile, "--public", other)
    check("keygen refuses to replace a key", status == 1 and len(err) == 1 and
          "already exists" in err[0] and read(keyfile) == before and not os.path.exists(other),
          "%d %r" % (status, err))
    header = read(public)
    status, out, err = driver.run("keygen", os.path.join(work, "new.key"), "--public", public)
    check("keygen refuses to replace a public key", status == 1 and len(err) == 1 and
          "already exists" in err[0] and read(public) == header and
          not os.path.exists(os.path.join(work, "new.key")), "%d %r" % (status, err))
    return k, keyfile, public


def sign_cases(driver, work, k, keyfile, public):
    out = os.path.join(work, "LATEST")
    names = [("abc", name_of(int.from_bytes(hashlib.sha1(b"abc").digest(), "big"))),
             ("zero", "0" * 32),
             ("all ones, above q", "v" * 32)]
    signed = {}
    for what, name in names:
        status, stdout, err = driver.run("sign-latest", keyfile, name, "-o", out)
        data = read(out) if status == 0 else b""
        m, r, s = latest_fields(data) if len(data) == 60 else (None, None, None)
        check("sign-latest %s: 60 bytes, m is the name's number" % what,
              status == 0 and not err and len(data) == 60 and m == number_of(name),
              "%d %r %d" % (status, err, len(data)))
        if m is None:
            continue
        check("sign-latest %s: the signature holds" % what, dsa_holds(k, m, r, s))
        check("sign-latest %s: OpenSSL verifies it" % what, openssl_verifies(work, public, data))
        driver.run("sign-latest", keyfile, name, "-o", out)
        check("sign-latest %s: the same file again" % what, read(out) == data)
        signed[name] = data

    if len(signed) == len(names):
        check("different names, different nonces",
              len({latest_fields(d)[1] for d in signed.values()}) == len(names))
        data = signed[names[0][1]]
        for offset in (0, 19, 20, 39, 40, 59):
            flipped = bytearray(data)
            flipped[offset] ^= 0x01
            m, r, s = latest_fields(flipped)
            check("byte %d flipped: refused by OpenSSL and the DSA check" % offset,
                  not openssl_verifies(work, public, bytes(flipped)) and not dsa_holds(k, m, r, s))


def rfc_case(driver, work):
    keyfile, out = os.path.join(work, "rfc.pem"), os.path.join(work, "RFC")
    with open(keyfile, "wb") as f:
        f.write(key_text(RFC_KEY))
    h1 = int.from_bytes(hashlib.sha1(b"sample").digest(), "big")
    status, _, err = driver.run("sign-latest", keyfile, name_of(h1), "-o", out)
    fields = latest_fields(read(out)) if status == 0 else None
    check("RFC 6979 DSA-1024 'sample': the published r and s",
          fields == [h1, RFC_SAMPLE_R, RFC_SAMPLE_S], "%d %r %r" % (status, err, fields))


def openssl_key_case(driver, work):
    """A publisher's own OpenSSL key (q of 160 bits) signs as well."""
    params, pkcs8, keyfile = (os.path.join(work, n) for n in ("prm.pem", "pk8.pem", "ossl.pem"))
    subprocess.run(["openssl", "genpkey", "-genparam", "-algorithm", "DSA",
                    "-pkeyopt", "dsa_paramgen_bits:1024", "-pkeyopt", "dsa_paramgen_q_bits:160",
                    "-out", params], check=True, capture_output=True)
    subprocess.run(["openssl", "genpkey", "-paramfile", params, "-out", pkcs8], check=True,
                   capture_output=True)
    subprocess.run(["openssl", "dsa", "-in", pkcs8, "-out", keyfile], check=True,
                   capture_output=True)
    public = os.path.join(work, "ossl-pub.pem")
    subprocess.run(["openssl", "dsa", "-in", keyfile, "-pubout", "-out", public], check=True,
                   capture_output=True)
    out = os.path.join(work, "OSSL")
    status, _, err = driver.run("sign-latest", keyfile, "1" * 32, "-o", out)
    check("a key made by openssl signs, and OpenSSL verifies",
          status == 0 and openssl_verifies(work, public, read(out)), "%d %r" % (status, err))
    return pkcs8


def refusal_cases(driver, work, k, keyfile, pkcs8):
    def variant(name, **changes):
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(key_text(dict(k, **changes)))
        return path

    garbage = os.path.join(work, "garbage.pem")
    with open(garbage, "wb") as f:
        f.write(b"not a key\n")
    good = "2" * 32
    out = os.path.join(work, "REFUSED")
    # (case, arguments after the command, status, text in the message)
    cases = [
        ("31-character name", ["sign-latest", keyfile, good[:31], "-o", out], 1, "digest name"),
        ("33-character name", ["sign-latest", keyfile, good + "0", "-o", out], 1, "digest name"),
        ("upper-case name", ["sign-latest", keyfile, "A" * 32, "-o", out], 1, "digest name"),
        ("name with w", ["sign-latest", keyfile, "w" + good[1:], "-o", out], 1, "digest name"),
        ("missing key file", ["sign-latest", os.path.join(work, "none.pem"), good, "-o", out],
         1, "none.pem"),
        ("not a key", ["sign-latest", garbage, good, "-o", out], 1, "DSA PRIVATE KEY"),
        ("PKCS#8 key", ["sign-latest", pkcs8, good, "-o", out], 1, "openssl dsa"),
        ("y not g^x", ["sign-latest", variant("y.pem", y=k["y"] + 1), good, "-o", out],
         1, "y is not g^x mod p"),
        ("q of 168 bits", ["sign-latest", variant("q.pem", q=(1 << 167) + 1), good, "-o", out],
         1, "160 bits"),
        ("p of 128 words", ["sign-latest", variant("p.pem", p=(1 << 4095) + 1), good, "-o", out],
         1, "127 words"),
        ("output over the key file", ["sign-latest", keyfile, good, "-o", keyfile], 1,
         "must not be the key file"),
        ("no -o", ["sign-latest", keyfile, good], 2, "usage"),
        ("extra argument", ["sign-latest", keyfile, good, "x", "-o", out], 2, "usage"),
        ("keygen without a file", ["keygen"], 2, "usage"),
        ("keygen with an unknown option", ["keygen", os.path.join(work, "n.pem"), "--pub"],
         2, "usage"),
    ]
    for what, args, expected, text in cases:
        status, stdout, err = driver.run(*args)
        leftovers = [n for n in os.listdir(work) if n.startswith(("REFUSED", "n.pem"))]
        check("refused: " + what,
              status == expected and len(err) == 1 and text in err[0] and not leftovers,
              "status %d, stderr %r, files %r" % (status, err, leftovers))

    with open(out, "wb") as f:
        f.write(b"old")
    driver.run("sign-latest", garbage, good, "-o", out)
    check("a refused signing leaves the old file", read(out) == b"old")
    os.remove(out)


def main():
    runner, exe, source_dir = sys.argv[1:4]
    driver = Driver(runner, exe)
    with tempfile.TemporaryDirectory() as work:
        made = keygen_cases(driver, work, runner == "native", source_dir)
        rfc_case(driver, work)
        pkcs8 = openssl_key_case(driver, work)
        if made:
            k, keyfile, public = made
            sign_cases(driver, work, k, keyfile, public)
            refusal_cases(driver, work, k, keyfile, pkcs8)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
