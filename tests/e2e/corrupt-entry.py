#!/usr/bin/env python3
"""A variant updater whose store entry ENTRY has one byte flipped inside its
compressed data (past the SZDD header, so that it still expands):

    corrupt-entry.py UPDATER OUT ENTRY
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "static"))
import pe  # noqa: E402


def main(src, out, entry):
    with open(src, "rb") as fh:
        data = bytearray(fh.read())
    image = pe.PE(bytes(data))
    found = [v for (rtype, name, _), v in image.resources().items()
             if rtype == "FILES" and isinstance(name, str) and name.upper() == entry.upper()]
    if len(found) != 1 or len(found[0]) < 40:
        sys.exit(f"corrupt-entry: no single entry {entry} with data in {src}")
    at = data.find(found[0])
    if at < 0 or data.find(found[0], at + 1) >= 0:
        sys.exit(f"corrupt-entry: the data of {entry} is not unique in {src}")
    data[at + 30] ^= 0x01
    with open(out, "wb") as fh:
        fh.write(data)
    print(f"corrupt-entry: flipped one bit of {entry} at file offset {at + 30}")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
