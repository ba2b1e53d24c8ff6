#!/usr/bin/env python3
"""Size of the installer without payloads: the sample's description and
licence and nothing else carried (bench_bare_setup), made by the packager
from the stripped stub as every installer is, beside the 65,536-byte goal
(stretch goal 49,152), and the ten objects that take the most room in the
stub, from its link map (code and data that the file holds; zero-filled
data takes none).

One line per row, fields separated by blanks, each a key=value pair after
the row's name:
  installer-size ours=<bytes> anchor=65536 ratio=<ours/anchor> stretch=49152 unit=bytes
  installer-object rank=<1..10> bytes=<n> object=<archive(member) or file>
  bench/installer_size.py      (BUILD_DIR picks the build)
"""
import collections
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GOAL = 65536
STRETCH = 49152
TARGET = "bench_bare_setup"

# An input section line of a GNU ld map: the section name, then (on the same
# line or the next when the name is long) its address, size and input file.
SECTION = re.compile(r"^ (\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*))?$")
PLACEMENT = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def object_sizes(map_path):
    """Bytes each input file adds to the file's sections (no .bss, no debug)."""
    sizes = collections.Counter()
    pending = None
    with open(map_path) as f:
        for line in f:
            section = SECTION.match(line)
            if section and section.group(2) is None:
                pending = section.group(1)
                continue
            if section:
                name, address, size, source = section.groups()
            elif pending and PLACEMENT.match(line):
                name = pending
                address, size, source = PLACEMENT.match(line).groups()
            else:
                pending = None
                continue
            pending = None
            # Address 0: discarded by --gc-sections.
            if int(address, 16) == 0 or name.startswith((".bss", ".debug")) or name == "COMMON":
                continue
            sizes[os.path.basename(source)] += int(size, 16)
    return sizes


def main():
    build = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
    subprocess.run([os.path.join(ROOT, "scripts", "configure"), "windows", build],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", TARGET],
                   check=True, stdout=subprocess.DEVNULL)
    exe = os.path.join(build, "bench", TARGET + ".exe")
    size = os.path.getsize(exe)
    print(f"installer-size ours={size} anchor={GOAL} ratio={size / GOAL:.3f} stretch={STRETCH} "
          f"unit=bytes")
    sizes = object_sizes(os.path.join(build, "setup", "installer_stub.map"))
    for rank, (source, bytes_) in enumerate(sizes.most_common(10), 1):
        print(f"installer-object rank={rank} bytes={bytes_} object={source}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
