#!/usr/bin/env python3
"""The shipped updater, read on the build machine: nothing here runs its code,
so these checks hold on machines that cannot run 32-bit Windows programs.

Environment (set by ctest):
  VR_UPDATER_EXE  the built VrUpdater1030.exe
  VR_PAYLOAD_DIR  its payload folder; verify.list there has one line per store
                  entry: kind (raw | szdd), entry name, source path, version
  VR_SZDDPACK     the host SZDD tool (build/host/szddpack)
  VR_RES_DIR      res/ of the source tree (updater.rc, resource.h)
  VR_KILLABLE_EXE the killable updater of the same build (tests only)
msexpand (Debian's mscompress) must be on PATH.
"""
import concurrent.futures
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:
    # Debian's python3-pefile (scripts/bootstrap.sh) lies in the system
    # interpreter's folder, which another python3 first on PATH (pyenv, a
    # virtual environment) does not search.
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "unit"), os.path.join(HERE, "..", "e2e")]
import journeys  # noqa: E402
import payload_test  # noqa: E402
from store_szdd_check import msexpand, read  # noqa: E402

ENV = ("VR_UPDATER_EXE", "VR_PAYLOAD_DIR", "VR_SZDDPACK", "VR_RES_DIR", "VR_KILLABLE_EXE")
LANG_JAPANESE = 0x411
STORE_TYPE = "FILES"

# The loader finds these in the system folder whatever lies beside the
# program: they are Known DLLs. COMCTL32 is not, and a library imported by the
# program starts before the program can lock the search path down, so it is
# bound at run time instead.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "msvcrt.dll"}
MINGW_RUNTIME = ("libgcc_s", "libstdc++", "libwinpthread")

RT = pefile.RESOURCE_TYPE

exe = None  # the parsed updater, shared by every test
resources = None
scratch = None


def parse(data):
    """A PE image, refused where pefile had to guess at its structure."""
    image = pefile.PE(data=data)
    if image.get_warnings():
        raise pefile.PEFormatError("; ".join(image.get_warnings()))
    return image


def resource_table(image):
    """{(type, name, language): data}; type and name are numbers, or strings
    for named entries."""
    def key(entry):
        return entry.id if entry.name is None else str(entry.name)

    table = {}
    for rtype in image.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                where = (key(rtype), key(name), lang.id)
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                table[where] = image.get_data(rva, size)
                if len(table[where]) != size:
                    raise pefile.PEFormatError(f"resource {where} is not stored whole")
    return table


def imported_dlls(image):
    """Names of the DLLs the loader binds, ordinary and delay-loaded."""
    tables = (getattr(image, "DIRECTORY_ENTRY_IMPORT", [])
              + getattr(image, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    return [table.dll.decode("ascii") for table in tables]


def imported_functions(image):
    """{(DLL in capitals, function)} of the ordinary import table; a function
    imported by ordinal is named "#N"."""
    return {(table.dll.decode("ascii").upper(),
             f.name.decode("ascii") if f.name else f"#{f.ordinal}")
            for table in getattr(image, "DIRECTORY_ENTRY_IMPORT", []) for f in table.imports}


def setUpModule():
    global exe, resources, scratch
    missing = [name for name in ENV if not os.environ.get(name)]
    if missing:
        raise RuntimeError(f"not set: {', '.join(missing)} (ctest sets them)")
    exe = parse(read(os.environ["VR_UPDATER_EXE"]))
    resources = resource_table(exe)
    scratch = tempfile.mkdtemp(prefix="shipped-exe-")


def tearDownModule():
    if scratch:
        shutil.rmtree(scratch)


def res_path(name):
    return os.path.join(os.environ["VR_RES_DIR"], name)


def resource_ids():
    """The numeric #defines of resource.h."""
    with open(res_path("resource.h"), encoding="utf-8") as f:
        return {name: int(value, 0) for name, value in
                re.findall(r"^\s*#define\s+(\w+)\s+(\d\w*)\s*$", f.read(), re.M)}


RC_TOKEN = re.compile(r'"(?:[^"\n]|"")*"|//[^\n]*|/\*.*?\*/|^\s*#[^\n]*|\w+|\S', re.S | re.M)
RC_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"'}


def rc_text(literal):
    body = literal[1:-1].replace('""', '"')

    def escape(m):
        if m.group(1) not in RC_ESCAPES:
            raise ValueError(f"escape \\{m.group(1)} in {literal} is not handled here")
        return RC_ESCAPES[m.group(1)]
    return re.sub(r"\\(.)", escape, body)


def rc_strings():
    """The STRINGTABLE entries of updater.rc: {id: text}."""
    ids = resource_ids()
    with open(res_path("updater.rc"), encoding="utf-8") as f:
        tokens = [t.strip() for t in RC_TOKEN.findall(f.read())
                  if not t.lstrip().startswith(("//", "/*", "#"))]
    strings = {}
    i = 0
    while i < len(tokens):
        if tokens[i] != "STRINGTABLE":
            i += 1
            continue
        while tokens[i] not in ("BEGIN", "{"):
            i += 1
        i += 1
        while tokens[i] not in ("END", "}"):
            key = tokens[i]
            i += 1
            if tokens[i] == ",":
                i += 1
            if not tokens[i].startswith('"'):
                raise ValueError(f"string {key}: no text, or a form not handled here")
            text = ""
            while tokens[i].startswith('"'):
                text += rc_text(tokens[i])
                i += 1
            number = int(key, 0) if key[0].isdigit() else ids[key]
            if number in strings:
                raise ValueError(f"string {key} ({number}) is defined twice")
            strings[number] = text
    if not strings:
        raise ValueError("updater.rc has no STRINGTABLE entries")
    return strings


def find(rtype, name):
    """The languages and data of one resource: {language: data}."""
    return {lang: data for (t, n, lang), data in resources.items() if (t, n) == (rtype, name)}


class Headers(unittest.TestCase):
    def test_32_bit_windows_program(self):
        self.assertEqual(exe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE, "not PE32")
        self.assertEqual(exe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
                         "not i386")
        self.assertEqual(exe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
                         "not a Windows GUI program")

    def test_imports_only_system_dlls(self):
        names = [n.lower() for n in imported_dlls(exe)]
        self.assertIn("kernel32.dll", names)
        self.assertEqual([n for n in names if n.startswith(MINGW_RUNTIME)], [],
                         "the MinGW runtime must be linked statically")
        self.assertEqual(sorted(set(names) - SYSTEM_DLLS), [],
                         "a DLL outside the system set could be planted beside the updater")


class FileLayout(unittest.TestCase):
    """The loader maps the headers and sections only: a byte after the last
    section would escape every check here. The one allowed addition is the
    Authenticode certificate table of a signed build (cmake/Signing.cmake),
    which every Windows from 98 and NT 4.0 on leaves unmapped."""

    def test_nothing_after_the_sections_but_the_certificate_table(self):
        data = exe.__data__
        end = max(s.PointerToRawData + s.SizeOfRawData for s in exe.sections)
        table = exe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        if not table.VirtualAddress:
            self.assertEqual((table.Size, len(data)), (0, end), "bytes after the last section")
            return
        # A file offset, not an address: the 8-byte aligned end of the
        # sections, and the table runs to the end of the file.
        self.assertEqual(table.VirtualAddress, end + -end % 8, "not right after the sections")
        self.assertEqual(table.VirtualAddress + table.Size, len(data), "bytes after the table")
        # One WIN_CERTIFICATE: its length, revision 2.0, PKCS#7 signed data,
        # padded to 8 bytes.
        length, revision, kind = struct.unpack_from("<IHH", data, table.VirtualAddress)
        self.assertEqual((revision, kind, length + -length % 8), (0x200, 2, table.Size))

    def test_checksum_is_the_files(self):
        # Only drivers and boot files must have one, but what is there is right.
        self.assertEqual(exe.OPTIONAL_HEADER.CheckSum, exe.generate_checksum())


# Oldest Windows of each family that the updater must start on.
OLDEST_9X = {"95", "95-OSR2", "98", "95-stub"}
OLDEST_NT = {"3.1", "3.5", "3.51", "4.0"}


def allowed_imports():
    """{(DLL, function): (9x, NT)} of tests/static/imports.txt."""
    allowed = {}
    with open(os.path.join(HERE, "imports.txt"), encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                dll, function, nine_x, nt = line.split()[:4]
                allowed[(dll.upper(), function)] = (nine_x, nt)
    return allowed


class ImportedFunctions(unittest.TestCase):
    """Windows refuses to start a program that imports a function it does not
    export; Wine exports everything whatever version it reports, so only the
    import tables can show this."""

    def test_every_function_is_exported_by_98_and_nt4(self):
        allowed = allowed_imports()
        modules = {"VrUpdater1030.exe": exe}
        for name in ("QFIECHECK.DLL", "SCHEDSTOP.DLL"):
            (data,) = find("FILES", name).values()
            modules[name] = parse(data)
        imported = set()
        for name, module in modules.items():
            functions = imported_functions(module)
            with self.subTest(name):
                self.assertEqual(sorted(functions - set(allowed)), [],
                                 "imports missing from tests/static/imports.txt")
            imported |= functions
        self.assertEqual(sorted(set(allowed) - imported), [], "listed but no longer imported")
        for (dll, function), (nine_x, nt) in allowed.items():
            with self.subTest(function):
                self.assertIn(nine_x, OLDEST_9X, f"{dll} {function}: not on Windows 98")
                self.assertIn(nt, OLDEST_NT, f"{dll} {function}: not on Windows NT 4.0")


class Manifest(unittest.TestCase):
    def setUp(self):
        names = sorted({n for (t, n, _) in resources if t == RT["RT_MANIFEST"]})
        self.assertEqual(names, [1], "one manifest, id 1 (CREATEPROCESS)")
        (data,) = find(RT["RT_MANIFEST"], 1).values()
        self.root = ET.fromstring(data)

    def elements(self, local_name):
        return [e for e in self.root.iter() if e.tag.rsplit("}", 1)[-1] == local_name]

    def test_elevation_and_common_controls(self):
        (level,) = self.elements("requestedExecutionLevel")
        self.assertEqual(level.get("level"), "requireAdministrator")
        own = [e for e in self.root if e.tag.endswith("}assemblyIdentity")]
        self.assertEqual([e.get("processorArchitecture") for e in own], ["x86"])
        deps = [(e.get("name"), e.get("version"), e.get("processorArchitecture"))
                for d in self.elements("dependentAssembly")
                for e in d if e.tag.endswith("}assemblyIdentity")]
        self.assertIn(("Microsoft.Windows.Common-Controls", "6.0.0.0", "x86"), deps)

    def test_system_dpi_aware(self):
        # In the asm.v3 namespace, which the side-by-side loader of XP and
        # 2003 passes over (a <application> of asm.v1 stops the program there);
        # 98, NT 4.0 and 2000 never read the manifest. Per-monitor awareness
        # (dpiAwareness, "true/pm") would need code that rescales the dialogs.
        v3 = "{urn:schemas-microsoft-com:asm.v3}"
        aware = self.root.findall(f"{v3}application/{v3}windowsSettings/"
                                  "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
        self.assertEqual([e.text for e in aware], ["true"])
        self.assertEqual([e.tag for e in self.elements("dpiAware")], [aware[0].tag])
        self.assertEqual(self.elements("dpiAwareness"), [])

    def test_no_supported_os(self):
        # Without it, Windows 8 and later report 6.2 to the version checks.
        self.assertEqual(self.elements("supportedOS"), [])


class UserInterface(unittest.TestCase):
    def test_dialogs(self):
        ids = resource_ids()
        for name in ("IDD_MAIN", "IDD_WAIT"):
            with self.subTest(name):
                templates = find(RT["RT_DIALOG"], ids[name])
                self.assertEqual(len(templates), 1, f"dialog {ids[name]}")
                (data,) = templates.values()
                self.assertEqual(data[:4], b"\x01\x00\xff\xff", "not a DIALOGEX template")

    def test_string_table_is_the_source(self):
        (table,) = [t for t in exe.DIRECTORY_ENTRY_RESOURCE.entries if t.id == RT["RT_STRING"]]
        strings = {}
        for block in table.directory.entries:
            with self.subTest(block=block.id):
                # One language only, so no string id is stored twice.
                self.assertEqual([lang.id for lang in block.directory.entries], [LANG_JAPANESE])
                texts = block.directory.strings
                # The block's 16 counted strings fill it exactly: none is cut.
                first = (block.id - 1) * 16
                self.assertEqual(sum(2 + len(texts.get(first + slot, "").encode("utf-16-le"))
                                     for slot in range(16)),
                                 len(resources[(RT["RT_STRING"], block.id, LANG_JAPANESE)]))
                strings.update(texts)
        self.assertEqual(strings, rc_strings())

    def test_icon_group(self):
        icon_id = resource_ids()["IDI_APP"]
        groups = find(RT["RT_GROUP_ICON"], icon_id)
        self.assertEqual(len(groups), 1, f"icon group {icon_id}")
        (group,) = groups.values()
        # GRPICONDIR: reserved, type 1, count; then 14 bytes an icon, whose
        # last six are its size in bytes and its RT_ICON id.
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, len(group)), (0, 1, 6 + 14 * count), "not an icon group")
        self.assertTrue(count)
        for size, icon in (struct.unpack_from("<IH", group, 6 + 14 * i + 8) for i in range(count)):
            with self.subTest(icon=icon):
                images = list(find(RT["RT_ICON"], icon).values())
                self.assertEqual([len(d) for d in images], [size])


def verify_list():
    """[(kind, entry, source)] from the payload folder's verify.list."""
    with open(os.path.join(os.environ["VR_PAYLOAD_DIR"], "verify.list"), encoding="utf-8") as f:
        rows = [line.split("\t") for line in f.read().splitlines() if line]
    for row in rows:
        if len(row) != 4 or row[0] not in ("raw", "szdd"):
            raise ValueError(f"verify.list: bad line {row}")
    return [tuple(row[:3]) for row in rows]


def store():
    """{entry name: [data for each language]} of the "FILES" resources."""
    entries = {}
    for (t, name, _), data in resources.items():
        if t == STORE_TYPE:
            entries.setdefault(name, []).append(data)
    return entries


class Store(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.listed = verify_list()
        cls.entries = store()

    def test_entries_are_the_listed_ones(self):
        self.assertEqual(sorted(self.entries), sorted(e for _, e, _ in self.listed))
        self.assertEqual([e for e, d in self.entries.items() if len(d) != 1], [],
                         "entries stored under more than one language")
        self.assertEqual({lang for (t, _, lang) in resources if t == STORE_TYPE},
                         {LANG_JAPANESE})

    def test_raw_entries_are_their_sources(self):
        raw = [(e, s) for kind, e, s in self.listed if kind == "raw"]
        self.assertIn("UPLIST.INI", [e for e, _ in raw])
        for entry, source in raw:
            with self.subTest(entry):
                self.assertEqual(self.entries.get(entry, [None])[0], read(source))

    def test_szdd_entries_expand_to_their_sources(self):
        self.assertIsNotNone(shutil.which("msexpand"), "msexpand (package mscompress) is not on PATH")
        packed = [(e, s) for kind, e, s in self.listed if kind == "szdd"]
        self.assertTrue(packed)
        folder = tempfile.mkdtemp(dir=scratch)

        def expand(entry):
            data = self.entries[entry][0]
            path = os.path.join(folder, entry)
            with open(path, "wb") as f:
                f.write(data)
            theirs = msexpand(path)  # bounded by the test's own time-out (ctest)
            ours = subprocess.run([os.environ["VR_SZDDPACK"], "-d", path, path + ".out"],
                                  capture_output=True, text=True, timeout=60)
            mine = read(path + ".out") if ours.returncode == 0 else b""
            for leftover in (path, path + ".out"):
                if os.path.exists(leftover):
                    os.remove(leftover)
            return (theirs, theirs.stdout), (ours, mine)

        stored = [(e, s) for e, s in packed if e in self.entries]
        self.assertEqual([e for e, _ in packed if e not in self.entries], [], "not stored")
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            results = pool.map(expand, [e for e, _ in stored])
            for (entry, source), runs in zip(stored, results):
                expected = read(source)
                for tool, (run, output) in zip(("msexpand", "szddpack -d"), runs):
                    with self.subTest(entry, tool=tool):
                        self.assertEqual(run.returncode, 0, run.stderr)
                        if output != expected:
                            self.fail(f"{len(output)} bytes, not those of {source} "
                                      f"({len(expected)} bytes)")


class KillPoints(unittest.TestCase):
    """The killable updater, built from the same sources for the kill
    campaign, ends itself at named points; none of that reaches the updater
    that ships: no point's name, no environment variable, no announcement."""

    def test_shipped_updater_holds_no_kill_point(self):
        names = set(journeys.kill_point_names())  # VR_KILL_POINT, win32/KillPoint.h
        # The scanner must see the danger windows, not only a stray name.
        for known in ("replace: stamped, not renamed", "temporary: recorded, not made"):
            self.assertIn(known, names)
        texts = [n.encode("ascii") for n in names] + [b"VR_KILL_AT", b"VrUpdater: kill point"]
        killable = read(os.environ["VR_KILLABLE_EXE"])
        shipped = read(os.environ["VR_UPDATER_EXE"])
        for text in texts:
            with self.subTest(text):
                self.assertTrue(text in killable, "not in the killable one: the check is blind")
                self.assertFalse(text in shipped, "in the shipped updater")


class EmbeddedUpdateList(payload_test.RealUpdateList):
    """The update list's table checks, run on the copy inside the updater."""

    @classmethod
    def setUpClass(cls):
        stored = store().get("UPLIST.INI")
        if not stored:
            raise AssertionError("the store holds no UPLIST.INI")
        data = stored[0]
        cls.uplist_path = os.path.join(scratch, "UPLIST.INI")
        with open(cls.uplist_path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
