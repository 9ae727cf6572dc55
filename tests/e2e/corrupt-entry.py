#!/usr/bin/env python3
"""A variant updater whose store entry ENTRY has one byte flipped inside its
compressed data (past the SZDD header, so that it still expands):

    corrupt-entry.py UPDATER OUT ENTRY
"""
import sys

try:
    import pefile
except ImportError:
    # Debian's python3-pefile (scripts/bootstrap.sh) lies in the system
    # interpreter's folder, which another python3 first on PATH (pyenv, a
    # virtual environment) does not search.
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile


def main(src, out, entry):
    with open(src, "rb") as fh:
        data = bytearray(fh.read())
    image = pefile.PE(data=bytes(data))
    found = [lang.data.struct for rtype in image.DIRECTORY_ENTRY_RESOURCE.entries
             if rtype.name is not None and str(rtype.name) == "FILES"
             for name in rtype.directory.entries
             if name.name is not None and str(name.name).upper() == entry.upper()
             for lang in name.directory.entries]
    if len(found) != 1 or found[0].Size < 40:
        sys.exit(f"corrupt-entry: no single entry {entry} with data in {src}")
    at = image.get_offset_from_rva(found[0].OffsetToData)
    if at is None or at + found[0].Size > len(data):
        sys.exit(f"corrupt-entry: the data of {entry} is not stored whole in {src}")
    data[at + 30] ^= 0x01
    with open(out, "wb") as fh:
        fh.write(data)
    print(f"corrupt-entry: flipped one bit of {entry} at file offset {at + 30}")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
