#!/usr/bin/env python3
"""Prepares the resources of an installer: the setup description and the
payload files it installs, named by their digest names.

The description is written with placeholders that this tool fills in from
the payload folder:
    {name:FILE}   the digest name of FILE
    {size:FILE}   the length of FILE in bytes
so that a publisher edits files, never digests.

Output (in --out): the finished description, named by its digest name, and
a resource script (--rc) for windres that carries the description, the
chosen payloads as RCDATA named by their upper-case digest names, and the
string table (entry 123 names the description). With --mirror the tool also
lays out every payload and the description under its lower-case digest
name, which is what the HTTP and FTP servers serve.
"""
import argparse
import hashlib
import os
import re
import struct
import sys

ALPHABET = "0123456789abcdefghijklmnopqrstuv"


def digest_name(data: bytes) -> str:
    """The 160-bit number H0 + H1*2^32 + ... + H4*2^128 of the SHA-1
    chaining words, written as 32 groups of 5 bits, least significant first."""
    words = struct.unpack(">5I", hashlib.sha1(data).digest())
    number = sum(word << (32 * i) for i, word in enumerate(words))
    return "".join(ALPHABET[(number >> (5 * k)) & 31] for k in range(32))


def rc_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


def fill_description(template: bytes, payloads: str) -> bytes:
    def replace(match):
        kind, name = match.group(1).decode(), match.group(2).decode()
        path = os.path.join(payloads, name)
        with open(path, "rb") as f:
            data = f.read()
        return (digest_name(data) if kind == "name" else str(len(data))).encode()

    return re.sub(rb"\{(name|size):([^}]+)\}", replace, template)


def tampered(data: bytes) -> bytes:
    """Other bytes of the same length (or one byte for empty data)."""
    if not data:
        return b"\0"
    return data[:-1] + bytes([data[-1] ^ 0x5A])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--description", required=True, help="description with placeholders")
    parser.add_argument("--payloads", required=True, help="folder of payload files")
    parser.add_argument("--out", required=True, help="folder for the finished files")
    parser.add_argument("--rc", required=True, help="resource script to write")
    parser.add_argument("--mirror", help="folder to lay out for HTTP/FTP servers")
    parser.add_argument("--link-options", help="linker options file to write (see below)")
    parser.add_argument("--carry", default="*",
                        help="payloads to carry: '*' (all), '' (none) or names joined by ','")
    parser.add_argument("--string", action="append", default=[], metavar="ID=TEXT",
                        help="extra string table entry, e.g. 121=http://host/dat/")
    parser.add_argument("--name-entry", help="text of entry 123 (default: the description's name)")
    parser.add_argument("--name-entry-form", choices=["upper", "short", "long"],
                        help="write entry 123 as the description's name upper-cased, "
                             "without its last character, or with one more")
    parser.add_argument("--no-name-entry", action="store_true", help="leave entry 123 out")
    parser.add_argument("--tamper", action="append", default=[], metavar="FILE",
                        help="carry FILE ('description' for the description) with changed bytes")
    args = parser.parse_args()

    with open(args.description, "rb") as f:
        description = fill_description(f.read(), args.payloads)
    os.makedirs(args.out, exist_ok=True)
    description_name = digest_name(description)

    files = {}  # name of the payload -> (digest name, bytes)
    for entry in sorted(os.listdir(args.payloads)):
        path = os.path.join(args.payloads, entry)
        if os.path.isfile(path) and not entry.startswith("."):
            with open(path, "rb") as f:
                data = f.read()
            files[entry] = (digest_name(data), data)

    carried = [("description", description_name, description)]
    wanted = set(files) if args.carry == "*" else set(filter(None, args.carry.split(",")))
    unknown = wanted - set(files)
    if unknown:
        sys.exit(f"mkinstaller: no such payload: {', '.join(sorted(unknown))}")
    carried += [(entry, files[entry][0], files[entry][1]) for entry in sorted(wanted)]

    # Neutral language throughout, so that tools/seturls finds the strings.
    lines = ['#include "setup/dialogs.rc"', '#include "gui/win32/trivstatuswin.rc"', "",
             "LANGUAGE 0, 0"]
    strings = [item.split("=", 1) for item in args.string]
    if not args.no_name_entry:
        entry = args.name_entry if args.name_entry is not None else description_name
        entry = {"upper": entry.upper(), "short": entry[:-1], "long": entry + "0"}.get(
            args.name_entry_form, entry)
        strings.append(["123", entry])
    if strings:
        lines.append("STRINGTABLE")
        lines.append("BEGIN")
        lines += [f"    {number}, {rc_string(text)}" for number, text in strings]
        lines.append("END")
        lines.append("")
    for entry, name, data in carried:
        if entry in args.tamper:
            data = tampered(data)
        path = os.path.join(args.out, name)
        with open(path, "wb") as f:
            f.write(data)
        # The name is quoted because it may begin with a digit; the LANGUAGE
        # statement keeps windres from joining it to the string before it.
        lines.append("LANGUAGE 0, 0")
        lines.append(f"{rc_string(name.upper())} RCDATA {rc_string(os.path.abspath(path))}")
    with open(args.rc, "w") as f:
        f.write("\n".join(lines) + "\n")

    # An installer that carries large payloads is linked with page-aligned
    # sections, so that the loader maps them from the file as they are read
    # instead of copying the whole image into memory at start (Wine does
    # that for file sections that are not page-aligned). The alignment costs
    # about 20 KB, too much for a web installer that carries little.
    if args.link_options:
        carried_bytes = sum(len(data) for entry, name, data in carried)
        options = ["-Wl,--file-alignment,4096", "-Wl,--section-alignment,4096"] \
            if carried_bytes > (1 << 20) else []
        with open(args.link_options, "w") as f:
            f.write(" ".join(options) + "\n")

    # The names the tests and the publisher look up.
    with open(os.path.join(args.out, "names.txt"), "w") as f:
        f.write(f"description {description_name} {len(description)}\n")
        for entry, (name, data) in files.items():
            f.write(f"{entry} {name} {len(data)}\n")

    if args.mirror:
        os.makedirs(args.mirror, exist_ok=True)
        for name, data in [(description_name, description)] + list(files.values()):
            with open(os.path.join(args.mirror, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
