#!/usr/bin/env python3
"""Constants that older Windows refuse, kept out of the updater's code.

    old_windows_constants.py [ROOT]

Wine accepts every flag whatever Windows version it reports, so no run can
show a constant that a real old system refuses; this reading of the sources
can. Each name below makes the call it is passed to fail on a Windows the
updater starts on (docs/ARCHITECTURE.md, "Flags and constants on old
Windows"). Comments and string literals are not read. Fails on any use and
names it.
"""
import os
import re
import sys

# The updater's own sources (res/ is read as well).
FOLDERS = ("app", "updatelist", "engine", "system", "win32")
# name (a prefix where it ends in "_") -> why it is refused
REFUSED = {
    "QS_RAWINPUT": "XP and later; MsgWaitForMultipleObjects fails before",
    # The headers put QS_RAWINPUT into these whatever _WIN32_WINNT says.
    "QS_INPUT": "holds QS_RAWINPUT (XP and later)",
    "QS_ALLEVENTS": "holds QS_RAWINPUT (XP and later)",
    "QS_ALLINPUT": "holds QS_RAWINPUT (XP and later)",
    "PM_QS_": "98 and 2000 and later; PeekMessage on 95 and NT 4.0",
    "FILE_SHARE_DELETE": "NT only; CreateFile fails on the 9x family",
    "LOCALE_INVARIANT": "XP and later; CompareStringA fails with ERROR_INVALID_PARAMETER before",
    "KEY_WOW64_": "XP and later; not supported by 2000",
    "LOAD_LIBRARY_SEARCH_": "8, or 7 and Vista with KB2533623; LoadLibraryEx fails before",
    "LOAD_LIBRARY_AS_IMAGE_RESOURCE": "Vista and later",
    "LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE": "Vista and later",
    "EWX_FORCEIFHUNG": "2000 and later",
    "SMTO_NOTIMEOUTIFNOTHUNG": "2000 and later",
    "SMTO_ERRORONEXIT": "Vista and later",
    "MB_SERVICE_NOTIFICATION": "its value differs between NT 4.0 and later NT",
}
# Where a name may stand: the one file that types the newer functions.
ALLOWED = {"LOAD_LIBRARY_SEARCH_": {os.path.join("win32", "DynamicCalls.cpp")}}
NAME = re.compile(r"\b[A-Z][A-Z0-9_]*\b")


def blank_out(text):
    """Comments, string and character literals become blanks; lines stay."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def refused_reason(name):
    for key, reason in REFUSED.items():
        if name == key or (key.endswith("_") and name.startswith(key)):
            return key, reason
    return None, None


def product_sources(root, folders=FOLDERS, endings=(".cpp", ".h")):
    """(path relative to root, text) of every source of the updater's folders."""
    for folder in folders:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(n for n in names if n.endswith(endings)):
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    yield os.path.relpath(path, root), f.read()


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    found = 0
    files = 0
    for relative, source in product_sources(root, FOLDERS + ("res",), (".cpp", ".h", ".c", ".rc")):
        files += 1
        for number, line in enumerate(blank_out(source).splitlines(), 1):
            for constant in NAME.findall(line):
                key, reason = refused_reason(constant)
                if key and relative not in ALLOWED.get(key, set()):
                    found += 1
                    print(f"old_windows_constants: {relative}:{number}: {constant}: {reason}")
    print(f"old_windows_constants: {files} files read, {found} refused constants used")
    return 1 if found or files == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
