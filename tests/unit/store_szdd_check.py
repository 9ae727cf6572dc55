#!/usr/bin/env python3
"""SZDD packer round trips.

  store_szdd_check.py prepare <szddpack> <dir>   writes the inputs and packs them
  store_szdd_check.py msexpand <dir>             expands every pack with msexpand

Inputs are generated from fixed seeds, so every run packs the same bytes. The
Windows side (store_tests, SzddRoundTrip) expands the same packs through
LZ32.DLL under Wine.
"""
import concurrent.futures
import os
import random
import subprocess
import sys

MAGIC = bytes([0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33])


def text_like(rng, size):
    words = [b"alpha", b"beta ", b"  ", b"gamma\r\n", b"\x82\xa0\x82\xa2", b"delta", b"    ", b"\t"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def inputs():
    rng = random.Random(20240607)
    block = rng.randbytes(4095)
    yield "empty", b""
    yield "one", b"A"
    yield "fifteen", b"0123456789abcde"
    yield "sixteen", b"0123456789abcdef"
    # Spaces match the ring's initial fill before any byte was written.
    yield "spaces3", b"   "
    yield "spaces", b" " * 600 + b"x" + b" " * 40
    yield "zeros", bytes(1 << 20)
    yield "period7", b"abcdefg" * 45000
    yield "random", rng.randbytes(256 * 1024)
    yield "text", text_like(rng, 1 << 20)
    # Repeats at the largest distance a match may reach, and one byte beyond.
    yield "ring4095", block + block + b"tail"
    yield "ring4096", block + b"!" + block + b"tail"
    # Several megabytes mixing every kind of content.
    big = bytearray()
    while len(big) < 4 * 1024 * 1024:
        kind = rng.randrange(3)
        n = rng.randrange(1, 200_000)
        big += rng.randbytes(n) if kind == 0 else text_like(rng, n) if kind == 1 else bytes(n)
    yield "large", bytes(big)


def prepare(packer, folder):
    os.makedirs(folder, exist_ok=True)
    for name, data in inputs():
        src = os.path.join(folder, name)
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run([packer, src, src + ".sz"], check=True)
    return 0


def header(length, magic=MAGIC, method=b"A"):
    """The 14 bytes before an SZDD stream: magic, method, a zero where a
    missing name character could go, the expanded length."""
    return magic + method + b"\0" + length.to_bytes(4, "little")


def msexpand(path, timeout=None):
    """The run of Debian's msexpand on the pack at path (stdout: what it
    expanded). It reads and writes a byte per system call: callers run
    several side by side."""
    with open(path, "rb") as stream:
        return subprocess.run(["msexpand"], stdin=stream, capture_output=True, timeout=timeout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_msexpand(folder):
    failures = []
    names = [n for n, _ in inputs()]
    packs = {n: read(os.path.join(folder, n + ".sz")) for n in names}
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        expanded = dict(zip(names, pool.map(
            lambda n: msexpand(os.path.join(folder, n + ".sz")).stdout, names)))
    for name in names:
        original, packed, out = read(os.path.join(folder, name)), packs[name], expanded[name]
        if packed[:14] != header(len(original)):
            failures.append("%s: bad header %s" % (name, packed[:14].hex()))
        if out != original:
            failures.append("%s: msexpand gives %d bytes, expected %d%s" % (
                name, len(out), len(original), "" if len(out) != len(original) else " (content differs)"))
        print("%-9s %8d -> %8d bytes" % (name, len(original), len(packed)))
    # Compression must actually happen where the data repeats.
    sizes = {n: os.path.getsize(os.path.join(folder, n + ".sz")) for n in names}
    if sizes["zeros"] > (1 << 20) // 6:
        failures.append("zeros: %d bytes packed, expected far less" % sizes["zeros"])
    # Three spaces pack into one match into the initial fill (header, flag
    # byte, two match bytes): that is the case both expanders must agree on.
    if sizes["spaces3"] != 14 + 1 + 2:
        failures.append("spaces3: no match into the ring's initial spaces (%d bytes)" % sizes["spaces3"])
    for f in failures:
        print("FAIL", f)
    print("%d inputs, %d failures" % (len(names), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "prepare":
        sys.exit(prepare(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 3 and sys.argv[1] == "msexpand":
        sys.exit(check_msexpand(sys.argv[2]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
