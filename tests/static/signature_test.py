#!/usr/bin/env python3
"""The updater's Authenticode signature, checked on the build machine with
osslsigncode: valid, SHA-256, made by a trusted certificate; and a copy with
one signed byte changed is refused, so the check is not blind.

Environment (set by ctest):
  VR_UPDATER_EXE         the built VrUpdater1030.exe
  VR_SIGN_PKCS12         the certificate the build signed with (empty: the
                         build was not given one, and the test is skipped)
  VR_SIGN_PASSWORD_FILE  its password
  VR_SIGN_CAFILE         certificates to trust (optional; default: those of
                         the PKCS#12 file, right for a self-signed one)
"""
import os
import re
import subprocess
import sys
import tempfile

try:
    import pefile
except ImportError:  # Debian's python3-pefile, see shipped_exe_test.py
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

SKIPPED = 77
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def verify(exe, cafile):
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", cafile, "-in", exe],
                         capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout + run.stderr


def trusted_certificates(folder):
    if os.environ.get("VR_SIGN_CAFILE"):
        return os.environ["VR_SIGN_CAFILE"]
    pem = os.path.join(folder, "trusted.pem")
    subprocess.run(["openssl", "pkcs12", "-in", os.environ["VR_SIGN_PKCS12"], "-nokeys",
                    "-passin", "file:" + os.environ["VR_SIGN_PASSWORD_FILE"], "-out", pem],
                   check=True, capture_output=True, timeout=60)
    return pem


def tampered_copy(exe, folder):
    """The updater with one byte in the middle of its signed part changed."""
    with open(exe, "rb") as f:
        data = bytearray(f.read())
    table = pefile.PE(data=bytes(data), fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    if not table.VirtualAddress:
        raise AssertionError(f"{exe} has no certificate table")
    data[table.VirtualAddress // 2] ^= 0xFF
    path = os.path.join(folder, "tampered.exe")
    with open(path, "wb") as f:
        f.write(data)
    return path


def main():
    exe = os.environ["VR_UPDATER_EXE"]
    if not os.environ.get("VR_SIGN_PKCS12"):
        print("skipped: the build was given no certificate (VR_SIGN_PKCS12 is empty), "
              f"{os.path.basename(exe)} is not signed")
        return SKIPPED
    with tempfile.TemporaryDirectory(prefix="signature-") as folder:
        cafile = trusted_certificates(folder)
        status, report = verify(exe, cafile)
        print(report)
        failures = []
        if status != 0 or "Signature verification: ok" not in report:
            failures.append("the signature does not verify")
        if not re.search(r"^Message digest algorithm\s*:\s*SHA256\b", report, re.M | re.I):
            failures.append("the image digest is not SHA-256")
        status, report = verify(tampered_copy(exe, folder), cafile)
        if status == 0:
            failures.append("a copy with a changed byte verifies too: the check is blind")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
