#!/usr/bin/env python3
"""Prints the state of the simulated product in a Wine prefix, one key=value a line.

  product-state.py PREFIX OUT.json [32|64]

Reads the files from the Linux side (key file version and length, a digest of
every file under the product's folders and the 64-bit driver) and the registry
and service through Wine's own tools, so it runs inside the prefix's session
(WINEPREFIX must be set, the prefix's wineserver running; VR_WINE_TOOLS names
the loader of those tools, "wine" when unset). The last argument is the
product's bitness (default 32): a 64-bit product lives in the 64-bit registry
view and "Program Files".
"""
import hashlib
import json
import os
import re
import subprocess
import sys

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5A1C0E2B-7D34-4F8E-9B61-2C7E4A90D3F5}"
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"


def product_version(path):
    try:
        data = open(path, "rb").read()
    except OSError:
        return "-"
    key = "ProductVersion".encode("utf-16-le")
    at = data.rfind(key)
    if at < 0:
        return "-"
    rest = data[at + len(key):at + len(key) + 80]
    text = rest.decode("utf-16-le", errors="ignore").lstrip("\0")
    match = re.match(r"[0-9][0-9., ]*", text)
    return match.group(0).strip() if match else "-"


WINE_TOOLS = os.environ.get("VR_WINE_TOOLS") or "wine"
BITS = "32"


def reg_value(key, name):
    out = subprocess.run([WINE_TOOLS, "reg", "query", key, "/v", name, "/reg:" + BITS],
                         capture_output=True, text=True, errors="replace").stdout
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == name:
            return parts[2].strip()
    return "-"


def service_present():
    out = subprocess.run([WINE_TOOLS, "sc", "query", "qfsvcg"], capture_output=True, text=True,
                         errors="replace").stdout
    return "present" if "SERVICE_NAME" in out else "absent"


def main():
    global BITS
    prefix, out_path = sys.argv[1], sys.argv[2]
    BITS = sys.argv[3] if len(sys.argv) > 3 else "32"
    c = os.path.join(prefix, "drive_c")
    x86 = "Program Files"
    if BITS == "32" and os.path.isdir(os.path.join(c, "Program Files (x86)")):
        x86 = "Program Files (x86)"
    program = os.path.join(c, x86, "Marrowick", "Vorrel Recorder")
    roots = [os.path.join(c, x86, "Marrowick"), os.path.join(c, x86, "Common Files", "Marrowick")]
    digests = {}
    for root in roots:
        for folder, _, names in os.walk(root):
            for name in names:
                path = os.path.join(folder, name)
                digests[os.path.relpath(path, c)] = hashlib.sha256(open(path, "rb").read()).hexdigest()
    for driver in ("windows/system32/drivers/cdrvrdrv.sys", "windows/syswow64/drivers/cdrvrdrv.sys"):
        path = os.path.join(c, driver)
        if os.path.isfile(path):
            digests[driver] = hashlib.sha256(open(path, "rb").read()).hexdigest()
    key = os.path.join(program, "VRSAFFRA9.exe")
    state = {
        "key file version": product_version(key),
        "key file length": str(os.path.getsize(key)) if os.path.isfile(key) else "-",
        "DisplayName": reg_value(UNINSTALL, "DisplayName"),
        "DisplayVersion": reg_value(UNINSTALL, "DisplayVersion"),
        "Run value marrowickupdater": "present" if reg_value(RUN, "marrowickupdater") != "-" else "absent",
        "service qfsvcg": service_present(),
        "files": digests,
    }
    json.dump(state, open(out_path, "w"), indent=1)


if __name__ == "__main__":
    main()
