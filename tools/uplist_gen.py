#!/usr/bin/env python3
"""Release engineering of an update: turns the human-editable manifest of an
update (TOML) into the updater's store.

    uplist_gen.py plan   --manifest M --scale default|full|double --outdir D
        Checks the manifest and writes D/plan.cmake (the entries the build
        must make), D/rc/GGFF.rc (version resource of every generated
        program or library) and D/store-entries.rc (the payload entries).
    uplist_gen.py stage  --manifest M --scale S --entry GGFF --out FILE [--input FILE]
        Writes the expanded payload file of one entry: a generated file, or
        the input (a linked program, a built target, a file of the tree),
        padded to its size where the manifest gives one.
    uplist_gen.py uplist --manifest M --out UPLIST.INI [--outdir D]
        Writes the update list (ASCII, CR LF). With the staged files of D,
        each file also gets its expanded length and SHA-256 ("Size%d",
        "Hash%d"), which the updater checks before a file is replaced.

Scales: "default" keeps the store small for the tests; "full" is the real
update's size; "double" makes every sized file twice its full size (the
benchmark's check that the updater's memory does not follow the payload).

Everything is deterministic: fixed seeds, fixed times, no clock, no paths of
the build machine inside the generated files.
"""
import argparse
import datetime
import hashlib
import os
import struct
import sys
import tomllib

SOURCE_KINDS = ("pe", "text", "random", "bitmap", "target", "file")
PE_TYPES = ("exe", "dll", "ax", "sys")
FILETIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)
# Entry names are "%02d%02d.BIN"; with an index of 100 or more they stop
# being unique, so the build refuses such lists.
MAX_INDEX = 100


class ManifestError(Exception):
    pass


def filetime(iso):
    """ISO 8601 time ("2011-12-22T01:41:00Z"; no zone means UTC) ->
    (low, high) halves of a FILETIME."""
    try:
        t = datetime.datetime.fromisoformat(iso.replace("Z", "+00:00"))
    except ValueError as e:
        raise ManifestError(f"bad time {iso!r}: {e}")
    if t.tzinfo is None:
        t = t.replace(tzinfo=datetime.timezone.utc)
    delta = t - FILETIME_EPOCH
    ticks = (delta.days * 86400 + delta.seconds) * 10_000_000 + delta.microseconds * 10
    if ticks < 0 or ticks >= 1 << 64:
        raise ManifestError(f"time {iso!r} is outside the FILETIME range")
    return ticks & 0xFFFFFFFF, ticks >> 32


def entry_name(g, f):
    return "%02d%02d.BIN" % (g, f)


def _text(table, key, where, default=None):
    value = table.get(key, default)
    if value is None:
        raise ManifestError(f"{where}: '{key}' is missing")
    if not isinstance(value, str):
        raise ManifestError(f"{where}: '{key}' must be a text")
    return value


def _int(table, key, where, default=None):
    value = table.get(key, default)
    if value is None:
        raise ManifestError(f"{where}: '{key}' is missing")
    if not isinstance(value, int) or isinstance(value, bool):
        raise ManifestError(f"{where}: '{key}' must be a whole number")
    return value


def _ascii(text, where):
    try:
        text.encode("ascii")
    except UnicodeEncodeError:
        raise ManifestError(f"{where}: {text!r} is not ASCII (the update list is ASCII)")
    if "\r" in text or "\n" in text:
        raise ManifestError(f"{where}: line break in {text!r}")
    return text


class File:
    def __init__(self, g, f, table, general, base_dir):
        where = f"group {g} file {f}"
        self.group, self.index = g, f
        self.entry = entry_name(g, f)
        self.name = _ascii(_text(table, "name", where), where)
        if not self.name or "\\" in self.name or "/" in self.name:
            raise ManifestError(f"{where}: name {self.name!r} must be a bare file name")
        build_dir = general.get("build_dir", "")
        default_path = f"{build_dir}\\{self.name}" if build_dir else self.name
        self.path = _ascii(_text(table, "path", where, default_path), where)
        self.time = filetime(_text(table, "time", where, general.get("time", "2011-12-22T01:41:00Z")))
        self.regsvr = _int(table, "regsvr", where, 0)
        self.table = table
        source = _text(table, "source", where)
        kind, _, arg = source.partition(":")
        if kind not in SOURCE_KINDS:
            raise ManifestError(f"{where}: unknown source {source!r} (one of {', '.join(SOURCE_KINDS)})")
        if (kind in ("target", "file")) != bool(arg):
            raise ManifestError(f"{where}: source {source!r}: 'target:' and 'file:' need a name, others none")
        self.kind = kind
        self.target = arg if kind == "target" else ""
        self.input = os.path.normpath(os.path.join(base_dir, arg)) if kind == "file" else ""
        self.pe_type = _text(table, "type", where, "dll") if kind == "pe" else ""
        if kind == "pe" and self.pe_type not in PE_TYPES:
            raise ManifestError(f"{where}: type {self.pe_type!r} (one of {', '.join(PE_TYPES)})")
        if kind == "random" and "size" not in table:
            raise ManifestError(f"{where}: a random file needs a size")
        if kind == "text" and "text" not in table:
            raise ManifestError(f"{where}: a text file needs its text")
        self.version = _ascii(_text(table, "version", where, general.get("version", "")), where)
        self.file_version = _ascii(_text(table, "file_version", where, self.version), where)

    def size(self, scale):
        """Expanded size asked for at this scale, or None for 'as it comes'."""
        where = f"group {self.group} file {self.index}"
        factor = 2 if scale == "double" else 1
        if scale in ("full", "double") and "full_size" in self.table:
            return factor * _int(self.table, "full_size", where)
        if "size" in self.table:
            return factor * _int(self.table, "size", where)
        return None

    def staged_name(self):
        return f"{self.entry[:4]}_{self.name}"


class Manifest:
    def __init__(self, path):
        with open(path, "rb") as f:
            try:
                data = tomllib.load(f)
            except tomllib.TOMLDecodeError as e:
                raise ManifestError(f"{path}: {e}")
        base_dir = os.path.dirname(os.path.abspath(path))
        general = data.get("general", {})
        self.general = general
        self.key_file = _ascii(_text(general, "KeyFile", "general", ""), "general")
        self.key_path = _ascii(_text(general, "KeyPath", "general", ""), "general")
        self.versions = []
        for i, row in enumerate(general.get("versions", [])):
            if (not isinstance(row, list) or len(row) != 2 or not isinstance(row[0], str)
                    or not isinstance(row[1], int) or not 0 <= row[1] < 1 << 32):
                raise ManifestError(f"general: versions row {i} must be [\"a,b,c,d\", length]")
            self.versions.append((_ascii(row[0], f"versions row {i}"), row[1]))
        groups = data.get("group", [])
        if not groups:
            raise ManifestError("the manifest has no [[group]]")
        if len(groups) >= MAX_INDEX:
            raise ManifestError(f"{len(groups)} groups: entry names are unique only below {MAX_INDEX}")
        self.groups = []
        for g, table in enumerate(groups):
            where = f"group {g}"
            files = table.get("file", [])
            if len(files) >= MAX_INDEX:
                raise ManifestError(f"{where}: {len(files)} files: entry names are unique only below {MAX_INDEX}")
            group = {
                "Name": _ascii(_text(table, "Name", where), where),
                "OS": _ascii(_text(table, "OS", where, ""), where),
                "Install Path": _ascii(_text(table, "Install Path", where, ""), where),
                "KeyNo": _int(table, "KeyNo", where, 999),
                "KeyVersion": _ascii(_text(table, "KeyVersion", where, ""), where),
                "Exist": _int(table, "Exist", where, 0),
                "files": [File(g, f, t, general, base_dir) for f, t in enumerate(files)],
            }
            if "Files" in table and table["Files"] != len(files):
                raise ManifestError(f"{where}: Files = {table['Files']} but {len(files)} files are listed")
            self.groups.append(group)
        self.files = [f for group in self.groups for f in group["files"]]
        seen = {}
        for f in self.files:
            if f.entry in seen:
                raise ManifestError(f"entry {f.entry} of group {f.group} file {f.index} "
                                    f"repeats that of {seen[f.entry]}")
            seen[f.entry] = f"group {f.group} file {f.index}"

    def file(self, entry):
        for f in self.files:
            if f.entry.upper() == entry.upper() or f.entry[:4] == entry:
                return f
        raise ManifestError(f"no entry {entry}")


# ---------------------------------------------------------------- update list

def uplist_text(m, staged_dir=None):
    lines = ["[General]", f"Group={len(m.groups)}", f"KeyPath={m.key_path}",
             f"KeyFile={m.key_file}", f"Versions={len(m.versions)}"]
    for d, (version, length) in enumerate(m.versions):
        lines += [f"Version{d}={version}", f"Length{d}={length}"]
    for g, group in enumerate(m.groups):
        lines += ["", f"[Group{g}]"]
        for key in ("Name", "OS", "Install Path"):
            lines.append(f"{key}={group[key]}")
        lines.append(f"Files={len(group['files'])}")
        lines += [f"KeyNo={group['KeyNo']}", f"KeyVersion={group['KeyVersion']}",
                  f"Exist={group['Exist']}"]
        for f in group["files"]:
            lines += [f"Path{f.index}={f.path}", f"PathTimeL{f.index}={f.time[0]}",
                      f"PathTimeH{f.index}={f.time[1]}"]
            if f.regsvr:
                lines.append(f"RegSvr{f.index}={f.regsvr}")
            if staged_dir:
                with open(os.path.join(staged_dir, "src", f.staged_name()), "rb") as fh:
                    data = fh.read()
                lines += [f"Size{f.index}={len(data)}",
                          f"Hash{f.index}={hashlib.sha256(data).hexdigest()}"]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


# ------------------------------------------------------------ generated files

def stream(seed, size):
    """Deterministic incompressible bytes."""
    return hashlib.shake_256(seed.encode("utf-8")).digest(size) if size else b""


def padding(seed, size, scale):
    """Overlay after a program image. The default build keeps it highly
    compressible so the store stays small; the full-scale build mixes in
    incompressible blocks so the packed size is of the real order."""
    if scale == "default":
        block = stream(seed, 64)
        return (block * (size // 64 + 1))[:size]
    out = bytearray()
    noise = stream(seed, size)
    for pos in range(0, size, 4096):
        chunk = noise[pos:pos + 4096]
        out += chunk if (pos // 4096) % 2 else bytes(len(chunk))
    return bytes(out)


def bitmap(width, height, seed):
    """A 24-bit bottom-up BMP with a gradient and a seeded tint."""
    tint = stream(seed, 3)
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height):
        line = bytearray()
        for x in range(width):
            line += bytes(((x * 255 // max(width - 1, 1)) ^ tint[0],
                           (y * 255 // max(height - 1, 1)) ^ tint[1], tint[2]))
        pixels += line + bytes(row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def text_bytes(f):
    text = f.table["text"]
    encoding = f.table.get("encoding", "ascii")
    lines = text.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    try:
        return ("\r\n".join(lines) + "\r\n").encode(encoding)
    except (UnicodeEncodeError, LookupError) as e:
        raise ManifestError(f"{f.name}: text does not encode as {encoding}: {e}")


def stage_bytes(f, scale, input_path):
    size = f.size(scale)
    seed = f"{f.entry}:{f.name}:{f.table.get('seed', 0)}"
    if f.kind == "random":
        return stream(seed, size)
    if f.kind == "text":
        data = text_bytes(f)
    elif f.kind == "bitmap":
        data = bitmap(f.table.get("width", 64), f.table.get("height", 32), seed)
    else:
        if not input_path:
            raise ManifestError(f"{f.name}: source {f.kind} needs --input")
        with open(input_path, "rb") as fh:
            data = fh.read()
    if size is None:
        return data
    if len(data) > size:
        raise ManifestError(f"{f.name}: {len(data)} bytes already, more than its size {size}")
    return data + padding(seed, size - len(data), scale)


def version_numbers(text):
    parts = text.replace(".", ",").split(",")
    try:
        numbers = [int(p) for p in parts]
    except ValueError:
        return "0,0,0,0"
    if len(numbers) != 4 or any(not 0 <= n < 65536 for n in numbers):
        return "0,0,0,0"
    return ",".join(map(str, numbers))


def rc_escape(text):
    return text.replace('"', '""')


def version_rc(f):
    """Version resource of a generated program or library. The string table
    is filed under Japanese / code page 932, the first (and only) entry of
    the translation table, which is the one version readers look at."""
    filetype = {"exe": "VFT_APP", "dll": "VFT_DLL", "ax": "VFT_DLL", "sys": "VFT_DRV"}[f.pe_type]
    description = f.table.get("description", f"Vorrel Recorder {f.name}")
    return f"""#include <winver.h>
LANGUAGE 0x11, 0x01
1 VERSIONINFO
FILEVERSION {version_numbers(f.file_version)}
PRODUCTVERSION {version_numbers(f.version)}
FILEFLAGSMASK 0x3f
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE {filetype}
FILESUBTYPE 0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "041103a4"
    BEGIN
      VALUE "CompanyName", "Marrowick"
      VALUE "FileDescription", "{rc_escape(description)}"
      VALUE "FileVersion", "{rc_escape(f.file_version)}"
      VALUE "InternalName", "{rc_escape(os.path.splitext(f.name)[0])}"
      VALUE "OriginalFilename", "{rc_escape(f.name)}"
      VALUE "ProductName", "Vorrel Recorder"
      VALUE "ProductVersion", "{rc_escape(f.version)}"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x411, 932
  END
END
"""


# ------------------------------------------------------------------ commands

def write_if_changed(path, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    try:
        with open(path, "rb") as fh:
            if fh.read() == data:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(data)


def write_file(path, data):
    # Always rewritten: a build step's output must be newer than its inputs.
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(data)


def cmake_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("$", "\\$").replace(";", "\\;") + '"'


def plan(m, scale, outdir):
    outdir = os.path.abspath(outdir)
    lines = ["# Generated from the update's manifest; do not edit."]
    entries = []
    rc = []
    verify = []
    for f in m.files:
        key = f.entry[:4]
        entries.append(key)
        staged = os.path.join(outdir, "src", f.staged_name())
        packed = os.path.join(outdir, "bin", f.entry)
        lines += [
            f"set(VR_E{key}_NAME {cmake_quote(f.name)})",
            f"set(VR_E{key}_KIND {f.kind})",
            f"set(VR_E{key}_PE_TYPE {cmake_quote(f.pe_type)})",
            f"set(VR_E{key}_TARGET {cmake_quote(f.target)})",
            f"set(VR_E{key}_INPUT {cmake_quote(f.input)})",
            f"set(VR_E{key}_STAGED {cmake_quote(staged)})",
            f"set(VR_E{key}_PACKED {cmake_quote(packed)})",
        ]
        if f.kind == "pe":
            write_if_changed(os.path.join(outdir, "rc", f"{key}.rc"), version_rc(f))
        # The resource compiler joins adjacent string literals, so a statement
        # stands between one entry's file name and the next entry's name.
        rc += ["LANGUAGE 0x11, 0x01", f'"{f.entry}" FILES "{packed}"']
        version = f.version if f.kind == "pe" else ""
        verify.append(f"szdd\t{f.entry}\t{staged}\t{version}")
    lines.append(f"set(VR_PAYLOAD_ENTRIES {' '.join(entries)})")
    write_if_changed(os.path.join(outdir, "plan.cmake"), "\n".join(lines) + "\n")
    write_if_changed(os.path.join(outdir, "store-entries.rc"), "\n".join(rc) + "\n")
    write_if_changed(os.path.join(outdir, "verify-entries.list"), "\n".join(verify) + "\n")


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("command", choices=("plan", "stage", "uplist"))
    p.add_argument("--manifest", required=True)
    p.add_argument("--scale", choices=("default", "full", "double"), default="default")
    p.add_argument("--outdir")
    p.add_argument("--entry")
    p.add_argument("--input")
    p.add_argument("--out")
    a = p.parse_args(argv)
    try:
        m = Manifest(a.manifest)
        if a.command == "plan":
            plan(m, a.scale, a.outdir)
        elif a.command == "stage":
            write_file(a.out, stage_bytes(m.file(a.entry), a.scale, a.input))
        else:
            write_file(a.out, uplist_text(m, a.outdir))
    except (ManifestError, OSError) as e:
        print(f"uplist_gen: {a.manifest}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
