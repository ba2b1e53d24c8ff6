#!/usr/bin/env python3
"""Packaging speed and memory: mksetup building a full installer and its
mirror from 1 GiB of payloads (four files of 256 MiB), against `cp` plus
`sha1sum` of the same bytes, in the same run; medians of three runs after a
warm-up, and the packager's peak memory beside the payload size.

    bench/package_bench.py MKSETUP [MEBIBYTES]"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = 3
FILES = 4


PEAKS = []


def timed(command) -> float:
    """Seconds the command took; its peak memory goes to PEAKS."""
    start = time.perf_counter()
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError("%s failed" % command[0])
    PEAKS.append((os.path.basename(command[0]), usage.ru_maxrss / 1024))
    return seconds


def main() -> int:
    mksetup = os.path.abspath(sys.argv[1])
    mebibytes = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    work = tempfile.mkdtemp(prefix="package-bench-")
    try:
        product = os.path.join(work, "product")
        os.makedirs(os.path.join(product, "data"))
        names = []
        chunk = os.urandom(1 << 20)
        for i in range(FILES):
            name = "data/part%d.bin" % i
            with open(os.path.join(product, name), "wb") as f:
                for _ in range(mebibytes // FILES):
                    f.write(chunk[i:] + chunk[:i])
            names.append(name)
        with open(os.path.join(product, "setup.in"), "w") as f:
            f.write("TBench\nV1\nFBench\n")
            for name in names:
                f.write("I{name:%s}:{size:%s}:%s\n" % (name, name, os.path.basename(name)))
        paths = [os.path.join(product, name) for name in names]
        out, copies = os.path.join(work, "out"), os.path.join(work, "copies")
        os.makedirs(copies)

        def ours():
            shutil.rmtree(out, ignore_errors=True)
            return timed([mksetup, "build", os.path.join(product, "setup.in"),
                          "-o", os.path.join(work, "setup.exe"), "--mirror", out])

        def anchor():
            return timed(["cp", *paths, copies]) + timed(["sha1sum", *paths])

        ours(), anchor()  # warm-up: the payloads in the page cache
        mine, theirs = [], []
        for _ in range(RUNS):
            mine.append(ours())
            theirs.append(anchor())
        peak = max(mib for name, mib in PEAKS if name == "mksetup")
        m, t = statistics.median(mine), statistics.median(theirs)
        print("payloads: %d MiB in %d files" % (mebibytes, FILES))
        print("mksetup build (installer + mirror): %.2f s  (median of %d)" % (m, RUNS))
        print("cp + sha1sum of the same bytes:     %.2f s  (median of %d)" % (t, RUNS))
        print("ratio: %.2f" % (m / t))
        print("mksetup peak memory: %.1f MiB for %d MiB of payloads" % (peak, mebibytes))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
