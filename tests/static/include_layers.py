#!/usr/bin/env python3
"""Which folders the sources of each folder include (#include "folder/...").

    include_layers.py [ROOT]

The layers of docs/ARCHITECTURE.md, top to bottom; a folder may include its
own headers and those of the folders listed for it. Fails on any other
include and names it.
"""
import os
import re
import sys

from old_windows_constants import product_sources

MAY_INCLUDE = {
    "app": {"app", "updatelist", "engine", "system", "win32", "res"},
    # The list and its loader know only the general Windows helpers; what
    # they need of the machine the engine hands them.
    "updatelist": {"updatelist", "win32", "res"},
    "engine": {"engine", "updatelist", "system", "win32", "res"},
    "system": {"system", "win32", "res"},
    "win32": {"win32"},
    # The simulated product knows nothing of the updater but the general
    # Windows helpers.
    "testbed": {"testbed", "win32"},
}
# The robot drives the updater's windows: it names their controls and
# strings by the updater's resource ids.
ALSO_MAY_INCLUDE = {os.path.join("testbed", "robot"): {"res"}}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]*"', re.M)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    wrong = 0
    files = 0
    for folder, allowed in MAY_INCLUDE.items():
        for relative, text in product_sources(root, (folder,), (".cpp", ".h", ".c", ".rc")):
            files += 1
            also = ALSO_MAY_INCLUDE.get(os.path.dirname(relative), set())
            for included in INCLUDE.findall(text):
                if included not in allowed | also:
                    wrong += 1
                    print(f"include_layers: {relative} includes {included}/")
    print(f"include_layers: {files} files read, {wrong} includes against the layers")
    return 1 if wrong or files == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
