#!/usr/bin/env python3
"""Writes the resource script of the store's test program: each payload as
an RCDATA resource named by its upper-case digest name (tampered.txt with
one byte changed, so that its digest check fails), and names.txt, payload
name -> digest name. make_resources.py PAYLOADS OUT"""
import os
import sys

from digestname import digest_name


def main() -> int:
    payloads, out = sys.argv[1:3]
    os.makedirs(out, exist_ok=True)
    lines, names = [], []
    for entry in sorted(os.listdir(payloads)):
        with open(os.path.join(payloads, entry), "rb") as f:
            data = f.read()
        name = digest_name(data)
        if entry == "tampered.txt":
            data = data[:-1] + bytes([data[-1] ^ 0x5A])
        path = os.path.join(out, name)
        with open(path, "wb") as f:
            f.write(data)
        # Quoted, since a name may begin with a digit.
        lines.append(f'LANGUAGE 0, 0\n"{name.upper()}" RCDATA "{os.path.abspath(path)}"')
        names.append(f"{entry} {name} {len(data)}")
    with open(os.path.join(out, "wfs_test.rc"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(out, "names.txt"), "w") as f:
        f.write("\n".join(names) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
