#!/usr/bin/env python3
"""Lays out the sample product's payload files, byte for byte the same on
every build: the two licence texts with CR LF line ends, the built
Kestrin.exe padded to its published size, and generated data files."""
import os
import random
import sys

# Published sizes of the sample product's files.
SIZES = {
    "licence.txt": 774,
    "License.txt": 685,
    "Kestrin.exe": 231424,
    "Kestrin.map": 1113482,
    "Kestrin.hlp": 97904,
    "Kestrin.cnt": 543,
    "Meadow.kpk": 121685,
}


def text_file(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def generated(name: str, size: int) -> bytes:
    # Seeded by the name, so each file is its own and never changes.
    rng = random.Random(name)
    if name.endswith(".cnt") or name.endswith(".map"):
        words = [b"Kestrin", b"Meadow", b"wing", b"hover", b"0x%04x", b"topic", b"section"]
        out = bytearray()
        while len(out) < size:
            out += rng.choice(words) + (b"\r\n" if rng.random() < 0.15 else b" ")
        return bytes(out[:size])
    return rng.randbytes(size)


def main() -> int:
    source, exe, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    files = {
        "licence.txt": text_file(os.path.join(source, "licence.txt")),
        "License.txt": text_file(os.path.join(source, "License.txt")),
    }
    with open(exe, "rb") as f:
        program = f.read()
    if len(program) > SIZES["Kestrin.exe"]:
        sys.exit(f"make_payloads: Kestrin.exe is {len(program)} bytes, more than its size")
    # The padding is an overlay after the image, which the loader ignores.
    files["Kestrin.exe"] = program + bytes(SIZES["Kestrin.exe"] - len(program))
    for name in ("Kestrin.map", "Kestrin.hlp", "Kestrin.cnt", "Meadow.kpk"):
        files[name] = generated(name, SIZES[name])
    for name, data in files.items():
        if len(data) != SIZES[name]:
            sys.exit(f"make_payloads: {name} is {len(data)} bytes, not {SIZES[name]}")
        path = os.path.join(out, name)
        try:
            with open(path, "rb") as f:
                if f.read() == data:
                    continue  # unchanged: keep its time so nothing rebuilds
        except FileNotFoundError:
            pass
        with open(path, "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
