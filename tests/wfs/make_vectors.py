#!/usr/bin/env python3
"""Writes random data files of many lengths and, beside each, the SHA-1
that the system's own sha1sum gives for it, as the reference digests."""
import os
import random
import subprocess
import sys

LENGTHS = [0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4095,
           4096, 4097, 65536, 100003, 1 << 20, 3 * (1 << 20) + 17]


def main() -> int:
    out = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 20261210
    os.makedirs(out, exist_ok=True)
    rng = random.Random(seed)
    lines = []
    for length in LENGTHS:
        path = os.path.join(out, f"data{length}.bin")
        with open(path, "wb") as f:
            f.write(rng.randbytes(length))
        hexdigest = subprocess.run(["sha1sum", path], check=True, capture_output=True,
                                   text=True).stdout.split()[0]
        lines.append(f"data{length}.bin {length} {hexdigest}")
    with open(os.path.join(out, "vectors.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
