#!/usr/bin/env python3
"""Packaging speed and memory: mksetup building a full installer and its
mirror from 1 GiB of payloads (four files of 256 MiB), over the outputs of
the run before, against `cp` (over its copies of the run before) plus
`sha1sum` of the same bytes, in the same run; medians of RUNS runs (default
3) after a warm-up, and the packager's peak memory beside its peak for 4 MiB
of payloads (it streams, so the two should match).

    bench/package_bench.py MKSETUP [MEBIBYTES]

The last two lines are for scripts/bench:
    package ours=<s> anchor=<s> ratio=<ours/anchor> unit=s
    package-memory ours=<MiB> anchor=<MiB> ratio=<ours/anchor> unit=MiB"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = int(os.environ.get("RUNS", "3"))
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


def make_product(product, mebibytes):
    """FILES payloads of MEBIBYTES in all under PRODUCT/data, and the
    template that installs them; returns the payloads' paths."""
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
    return [os.path.join(product, name) for name in names]


def package(mksetup, work, product) -> float:
    """Seconds for a full installer and its mirror of PRODUCT, written over
    the previous run's (as a publisher's build script rebuilds), as the
    anchor's cp writes over its previous copies."""
    out = os.path.join(work, "out")
    return timed([mksetup, "build", os.path.join(product, "setup.in"),
                  "-o", os.path.join(work, "setup.exe"), "--mirror", out])


def mksetup_peak() -> float:
    """The highest peak of the packager's runs so far, in MiB; starts over."""
    peak = max(mib for name, mib in PEAKS if name == "mksetup")
    PEAKS.clear()
    return peak


def main() -> int:
    mksetup = os.path.abspath(sys.argv[1])
    mebibytes = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    work = tempfile.mkdtemp(prefix="package-bench-")
    try:
        small = os.path.join(work, "small")
        make_product(small, 4)
        package(mksetup, work, small)
        small_peak = mksetup_peak()

        product = os.path.join(work, "product")
        paths = make_product(product, mebibytes)
        copies = os.path.join(work, "copies")
        os.makedirs(copies)

        def anchor():
            return timed(["cp", *paths, copies]) + timed(["sha1sum", *paths])

        package(mksetup, work, product), anchor()  # warm-up: the payloads in the page cache
        mine, theirs = [], []
        for _ in range(RUNS):
            mine.append(package(mksetup, work, product))
            theirs.append(anchor())
        peak = mksetup_peak()
        m, t = statistics.median(mine), statistics.median(theirs)
        print("payloads: %d MiB in %d files" % (mebibytes, FILES))
        print("mksetup build (installer + mirror): %.2f s  (median of %d)" % (m, RUNS))
        print("cp + sha1sum of the same bytes:     %.2f s  (median of %d)" % (t, RUNS))
        print("ratio: %.2f" % (m / t))
        print("mksetup peak memory: %.1f MiB for %d MiB of payloads, %.1f MiB for 4 MiB"
              % (peak, mebibytes, small_peak))
        print("package ours=%.2f anchor=%.2f ratio=%.2f unit=s" % (m, t, m / t))
        print("package-memory ours=%.1f anchor=%.1f ratio=%.2f unit=MiB"
              % (peak, small_peak, peak / small_peak))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
