#!/usr/bin/env python3
"""Serves LATEST files made from an OpenSSL-signed fixture, and one that the
packager's keygen and sign-latest commands made, over nginx and vsftpd and
runs latest_test for each case: run_latest.py LATEST_TEST.EXE SIGNING_DRIVER.EXE"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "net"))
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from digestname import digest_name  # noqa: E402
from netfixture import CLOSED  # noqa: E402

FIXTURE = os.path.join(HERE, "..", "crypto", "dsa_1024_160.txt")


def fixture():
    """The key as little-endian hex, and the first signed LATEST file."""
    key, latest = {}, None
    with open(FIXTURE) as f:
        for line in f:
            fields = line.split()
            if fields and fields[0] in "pqgy" and len(fields) == 2:
                key[fields[0]] = bytes.fromhex(fields[1].rjust(len(fields[1]) + len(fields[1]) % 2, "0"))[::-1].hex()
            elif fields and fields[0] == "latest" and latest is None:
                latest = bytes.fromhex(fields[1])
    return key, latest


def header_key(path):
    """The key of the packager's public key header (arrays of bytes, least
    significant first) as little-endian hex."""
    key, name = {}, None
    with open(path) as f:
        for line in f:
            if line.startswith("static const unsigned char kLatestKey"):
                name = line.split("kLatestKey")[1][0].lower()
                key[name] = ""
            elif line.startswith("};"):
                name = None
            elif name:
                key[name] += "".join("%02x" % int(v, 16) for v in line.replace(",", " ").split())
    return key


def packager_signed(driver, work, name):
    """A new key from keygen and the LATEST file sign-latest makes with it."""
    keyfile, public, latest = (os.path.join(work, n) for n in ("key.pem", "key.h", "LATEST"))
    for args in (["keygen", keyfile, "--public", public],
                 ["sign-latest", keyfile, name, "-o", latest]):
        subprocess.run(["wine", driver] + args, env=netfixture.wine_env({}), check=True,
                       timeout=netfixture.WINE_WAIT)
    with open(latest, "rb") as f:
        return header_key(public), f.read()


def main() -> int:
    exe, driver = sys.argv[1:3]
    key, latest = fixture()
    mutated = bytearray(latest)
    mutated[30] ^= 1
    with tempfile.TemporaryDirectory() as work:
        own_key, own = packager_signed(driver, work, digest_name(b"The release the pointer names."))
    own_flipped = bytearray(own)
    own_flipped[45] ^= 0x80
    # (case, bytes on the web server or None, bytes on the FTP server or None, expectation, key)
    cases = [
        ("valid over HTTP, with bytes after the first 60", latest + b"extra", None, "ok", key),
        ("valid over FTP, no web server", None, latest, "ok", key),
        ("valid over FTP, then a data resource over the same login", None, latest, "reuse", key),
        ("59 bytes", latest[:59], None, "signature file is the wrong size", key),
        ("empty", b"", None, "signature file is the wrong size", key),
        ("one byte of r changed", bytes(mutated), None, "signature does not match public key", key),
        ("r all zero", latest[:20] + bytes(20) + latest[40:], None, "signature does not match public key", key),
        ("both servers down", None, None, "ftp", key),
        ("key and file from keygen and sign-latest", own, None, "ok", own_key),
        ("the same with one byte of s changed", bytes(own_flipped), None,
         "signature does not match public key", own_key),
    ]
    failures = 0
    for name, web, ftp, expect, key in cases:
        served = web if web is not None else ftp if ftp is not None else bytes(20)
        words = " ".join("%x" % int.from_bytes(served[4 * i:4 * i + 4], "little") for i in range(5))
        with tempfile.TemporaryDirectory() as work:
            servers, http_host, ftp_host = [], CLOSED, CLOSED
            try:
                if web is not None:
                    os.makedirs(os.path.join(work, "www", "dat"))
                    with open(os.path.join(work, "www", "dat", "LATEST"), "wb") as f:
                        f.write(web)
                    servers.append(netfixture.start_nginx(work, os.path.join(work, "www")))
                    http_host = "127.0.0.1:%d" % servers[-1].port
                # The reuse case runs pyftpdlib, whose log counts the logins.
                then = b"A data resource beside the pointer.\r\n"
                if ftp is not None:
                    files = {"LATEST": ftp, digest_name(then): then}
                    root = ftpfixture.make_anon_root(work, files)
                    start = ftpfixture.start_pyftpdlib if expect == "reuse" else ftpfixture.start_vsftpd
                    servers.append(start(work, root))
                    ftp_host = "127.0.0.1:%d" % servers[-1].port
                env = {"LATEST_HTTP": "http://%s/dat/" % http_host,
                       "LATEST_FTP": "ftp://%s/dat/" % ftp_host,
                       "LATEST_P": key["p"], "LATEST_Q": key["q"], "LATEST_G": key["g"],
                       "LATEST_Y": key["y"], "LATEST_WORDS": words,
                       "LATEST_EXPECT": "ok" if expect == "reuse" else expect,
                       "LATEST_THEN_OPEN": digest_name(then) if expect == "reuse" else ""}
                status = netfixture.run_wine(exe, [], env, wait=120)
                if status == 0 and expect == "reuse":
                    with open(os.path.join(work, "pyftpd.log")) as f:
                        logins = f.read().count("USER 'anonymous' logged in")
                    if logins != 1:
                        print("%s: %d logins, not one" % (name, logins))
                        status = 1
            finally:
                for server in servers:
                    server.stop()
        print("%s: %s" % (name, "ok" if status == 0 else "FAILED"))
        failures += status != 0
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
