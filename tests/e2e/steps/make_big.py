#!/usr/bin/env python3
"""Writes a large payload, big enough that copying it takes a while, so a
test can press Cancel during the copy."""
import os
import sys

path, megabytes = sys.argv[1], int(sys.argv[2])
os.makedirs(os.path.dirname(path), exist_ok=True)
block = bytes(range(256)) * 4096  # 1 MiB
with open(path, "wb") as f:
    for i in range(megabytes):
        f.write(block[i % 256:] + block[:i % 256])
