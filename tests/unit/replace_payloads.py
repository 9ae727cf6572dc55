#!/usr/bin/env python3
"""Writes the raw payloads of the replacement tests into the given folder:
normal.bin compresses well, random.bin does not (SZDD makes it larger), and
empty.bin has no bytes at all. The contents are fixed so builds repeat."""
import os
import random
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
lines = "".join("line %04d of the installed help text\r\n" % i for i in range(200))
with open(os.path.join(out, "normal.bin"), "wb") as f:
    f.write(lines.encode("ascii"))
rng = random.Random(20111222)
with open(os.path.join(out, "random.bin"), "wb") as f:
    f.write(bytes(rng.randrange(256) for _ in range(6000)))
with open(os.path.join(out, "empty.bin"), "wb") as f:
    pass
