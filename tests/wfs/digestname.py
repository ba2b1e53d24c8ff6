"""Digest names for the Python side of the tests and benchmarks."""
import hashlib
import struct

ALPHABET = "0123456789abcdefghijklmnopqrstuv"


def digest_name(data: bytes) -> str:
    """The 160-bit number H0 + H1*2^32 + ... + H4*2^128 of the SHA-1
    chaining words, written as 32 groups of 5 bits, least significant first."""
    words = struct.unpack(">5I", hashlib.sha1(data).digest())
    number = sum(word << (32 * i) for i, word in enumerate(words))
    return "".join(ALPHABET[(number >> (5 * k)) & 31] for k in range(32))
