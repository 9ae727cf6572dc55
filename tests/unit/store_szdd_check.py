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
import struct
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


def check_header(name, packed, length):
    errors = []
    if packed[:8] != MAGIC:
        errors.append("magic")
    if packed[8:9] != b"A":
        errors.append("method")
    if packed[9] != 0:
        errors.append("missing-character byte")
    if struct.unpack("<I", packed[10:14])[0] != length:
        errors.append("expanded length")
    return ["%s: bad %s" % (name, e) for e in errors]


def msexpand(folder, name):
    # msexpand reads and writes a byte per system call: run them side by side.
    src = os.path.join(folder, name + ".sz")
    dst = os.path.join(folder, name + ".msexpand")
    with open(src, "rb") as fin, open(dst, "wb") as fout:
        subprocess.run(["msexpand"], stdin=fin, stdout=fout, stderr=subprocess.DEVNULL)
    with open(dst, "rb") as f:
        out = f.read()
    os.remove(dst)
    return out


def check_msexpand(folder):
    failures = []
    names = [n for n, _ in inputs()]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        expanded = dict(zip(names, pool.map(lambda n: msexpand(folder, n), names)))
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            original = f.read()
        with open(os.path.join(folder, name + ".sz"), "rb") as f:
            packed = f.read()
        failures += check_header(name, packed, len(original))
        out = expanded[name]
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
