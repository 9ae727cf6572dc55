#!/usr/bin/env python3
"""The host SZDD tool: `szddpack -d` expands what `szddpack` packs, agrees with
hand-made streams, and refuses broken input without leaving an output file; the
packer's parse comes within a hair of the fewest bits possible.

Environment (set by ctest):
  VR_SZDDPACK  the host tool (build/host/szddpack)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit"))
from store_szdd_check import header, read  # noqa: E402

SZDDPACK = os.environ.get("VR_SZDDPACK") or sys.exit("VR_SZDDPACK is not set (ctest sets it)")


# A stream built by hand: literals "ab", a match at ring slot 0xFF0 (where the
# "a" went: writing starts at 4096 - 16) of six bytes that overlaps its own
# output, then three bytes from slot 0, still holding the initial spaces.
HAND_MADE = bytes([0b0011, ord("a"), ord("b"), 0xF0, 0xF3, 0x00, 0x00])
HAND_MADE_TEXT = b"abababab   "


def item_bits(stream):
    """Bits of the items of an LZSS stream: 9 per literal, 17 per match."""
    bits = i = 0
    while i < len(stream):
        flags = stream[i]
        i += 1
        for bit in range(8):
            if i >= len(stream):
                break
            literal = flags >> bit & 1
            i += 1 if literal else 2
            bits += 9 if literal else 17
    return bits


def optimum_bits(data):
    """The fewest item bits any parse of data needs, matches found by brute force
    in the 4095 bytes before each position (initial spaces included)."""
    window = 4095
    s = b" " * window + data
    n = len(data)
    longest = [0] * (n + 1)
    for p in range(n):
        at = window + p
        length = 0  # a match may overlap the bytes it produces
        while (length < min(18, n - p)
               and s.find(s[at:at + length + 1], at - window, at + length) >= 0):
            length += 1
        longest[p] = length if length >= 3 else 0
    cost = [0] * (n + 1)
    for i in range(n - 1, -1, -1):
        cost[i] = min([9 + cost[i + 1]] + [17 + cost[i + k] for k in range(3, longest[i] + 1)])
    return cost[0]


class Expand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name, data=None):
        path = os.path.join(self.dir, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def run_tool(self, *args):
        return subprocess.run([SZDDPACK, *args], capture_output=True, text=True, timeout=60)

    def pack(self, data):
        """data packed by the tool, checked to have succeeded."""
        run = self.run_tool(self.path("plain", data), self.path("packed"))
        self.assertEqual(run.returncode, 0, run.stderr)
        return read(self.path("packed"))

    def expand(self, packed):
        out = self.path("out")
        run = self.run_tool("-d", self.path("in.szdd", packed), out)
        return run, out

    def assert_expands_to(self, packed, data):
        run, out = self.expand(packed)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(read(out), data)

    def test_round_trips(self):
        rng = random.Random(1030)
        cases = {
            "empty": b"",
            "one byte": b"x",
            "fifteen bytes": b"0123456789abcde",
            "ring plus 17, random": rng.randbytes(4096 + 17),
            "ring plus 17, repetitive": (b"Vorrel " * 700)[:4096 + 17],
            "spaces, matching the initial ring": b" " * 4113,
            # The packer compares past the end of the input, where it reads
            # zeros: the last match must stop at the end all the same.
            "ending in a run that zeros would continue": bytes(40) + b"x" + bytes(7),
            # The parse works on blocks of 64 KiB: matches are cut at the end
            # of the first one, and the last one is 5 bytes.
            "one parse block and 5 bytes, repetitive": (b"Vorrel " * 9400)[:65536 + 5],
            # More than the packer reads at once, so both sides stream; parse
            # blocks end inside random data, a run of zeros and a repeat.
            "300 KB, mixed": (rng.randbytes(100_000) + bytes(100_000) + b"abc" * 34_000),
        }
        for why, data in cases.items():
            with self.subTest(why):
                packed = self.pack(data)
                self.assertEqual(packed[:14], header(len(data)))
                self.assert_expands_to(packed, data)

    def test_parse_is_near_optimal(self):
        # Text of a small vocabulary, where the choice of items matters: the
        # greedy parse with one step of lazy evaluation spent 0.75 % more
        # bits than the optimum below; the packer's finder may miss a few
        # three-byte matches (it tries the latest one by hash), not more.
        rng = random.Random(1)
        words = [bytes(rng.choice(b"abcdefghij ") for _ in range(rng.randint(2, 9)))
                 for _ in range(300)]
        data = b" ".join(rng.choice(words) for _ in range(4000))[:20000]
        bits = item_bits(self.pack(data)[14:])
        best = optimum_bits(data)
        self.assertLessEqual(bits, best * 1.002, f"{bits} bits, the optimum is {best}")

    def test_hand_made_stream(self):
        self.assert_expands_to(header(len(HAND_MADE_TEXT)) + HAND_MADE, HAND_MADE_TEXT)

    def test_refusals(self):
        good = header(len(HAND_MADE_TEXT)) + HAND_MADE
        cases = {
            "wrong magic": (header(11, magic=b"KWAJ\x88\xf0\x27\xd1") + HAND_MADE, "magic"),
            "not SZDD at all": (b"MZ" + bytes(100), "magic"),
            "method other than A": (header(11, method=b"B") + HAND_MADE, "method"),
            "header cut short": (good[:10], "header is truncated"),
            "data ends inside a match": (good[:-1], "inside a match"),
            "data shorter than the header says": (header(12) + HAND_MADE, "short of"),
            "data cut at an item boundary": (good[:-2], "short of"),
            "data longer than the header says": (header(10) + HAND_MADE, "beyond"),
        }
        for why, (packed, message) in cases.items():
            with self.subTest(why):
                run, out = self.expand(packed)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn(message, run.stderr)
                self.assertFalse(os.path.exists(out), "a refused expansion left its output")

    def test_usage(self):
        for args in [(), ("-d", "only-one"), ("a", "b", "c")]:
            with self.subTest(args=args):
                run = self.run_tool(*args)
                self.assertEqual(run.returncode, 2)
                self.assertIn("szddpack -d <input> <output>", run.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
