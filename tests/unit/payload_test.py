#!/usr/bin/env python3
"""Host-side checks of the update's payload: the generated update list and
store entries of the real update, the manifest tool on small manifests, and
the build-time checker's ability to notice a wrong store.

Environment (set by ctest):
  VR_PAYLOAD_DIR     payload folder of the real updater (UPLIST.INI, bin/, src/)
  VR_PAYLOAD_VERIFY  payload_verify.exe;  VR_PAYLOAD_MODULE  a module with that store
  VR_EMULATOR        tests/harness/wine-emulator.sh; VR_WINE_TEMPLATES its templates
"""
import configparser
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import uplist_gen  # noqa: E402

PAYLOAD = os.environ.get("VR_PAYLOAD_DIR", "")

# The embedded list as the updater's documentation tabulates it.
VERSIONS = [
    ("10,0,0,0", 6711184), ("10,0,1,0", 6711312), ("10,0,2,0", 6711312),
    ("10,0,3,0", 6711312), ("10,0,4,0", 6711312), ("10,0,5,0", 6711312),
    ("10,0,6,0", 6711264), ("10,0,7,0", 6711264), ("10,0,8,0", 6711264),
    ("10,0,9,0", 6711264), ("10,1,0,0", 6711264), ("10,1,5,0", 6735848),
    ("10,1,6,0", 6735840), ("10,1,7,0", 6735840), ("10,1,8,0", 6735840),
    ("10,1,9,0", 6735840), ("10,2,0,0", 6735840), ("10,2,1,0", 6735840),
    ("10,2,2,0", 6748128), ("10,2,3,0", 6748128), ("10,2,4,0", 6748128),
    ("10,2,5,0", 6748128), ("10,2,6,0", 6748128), ("10,2,7,0", 6750544),
    ("10,2,8,0", 6750544), ("10,2,9,0", 6750544), ("10,3,0,0", 6748072),
]
GROUPS = [  # Name, OS, Install Path, Files, Exist
    ("General", "", "", 32, 0),
    ("SharedLib", "", "MarrowickCommon", 1, 0),
    ("Nimbrel_X64", "X64", "", 1, 0),
    ("Nimbrel_X86", "X86", "", 1, 0),
    ("driver x64", "X64", "driver", 1, 0),
    ("driver 2000/XP", "X86", "driver", 1, 0),
    ("FolderType_MarrowickDoc", "", "Doc", 10, 1),
    ("SharedLib2", "", "SharedLib", 4, 1),
    ("Preset", "", "MarrowickCommon_Saffra9", 1, 1),
    ("General", "", "", 1, 1),
]
# Names the updater's rules single out; the product carries them in Group0.
SPECIAL_NAMES = ["Glyphen.dll", "runmap.txt", "Tuvexa.exe", "VrStartUp.bmp", "VrVDRun.exe",
                 "Drelm.dll", "VrComServer.dll", "Vexlo.dll", "Telvane.dll", "Mobicast.ini",
                 "QfControl.dll", "VrOstrel.exe"]
SZDD_MAGIC = bytes([0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33])


def read_uplist(path=None):
    """The update list at path (the payload folder's by default), raw and parsed."""
    with open(path or os.path.join(PAYLOAD, "UPLIST.INI"), "rb") as f:
        raw = f.read()
    ini = configparser.ConfigParser(interpolation=None, delimiters=("=",))
    ini.optionxform = str
    ini.read_string(raw.decode("ascii"))
    return raw, ini


def file_name(path):
    return path.rsplit("\\", 1)[-1]


@unittest.skipUnless(PAYLOAD, "VR_PAYLOAD_DIR not set")
class RealUpdateList(unittest.TestCase):
    # The list under test; tests/static points a subclass at the copy embedded
    # in the built updater.
    uplist_path = None

    def setUp(self):
        self.raw, self.ini = read_uplist(self.uplist_path)

    def test_text_form_is_ascii_with_crlf(self):
        self.raw.decode("ascii")
        self.assertTrue(self.raw.endswith(b"\r\n"))
        self.assertEqual(self.raw.count(b"\n"), self.raw.count(b"\r\n"))

    def test_general_and_versions(self):
        g = self.ini["General"]
        self.assertEqual((g["Group"], g["KeyPath"], g["KeyFile"], g["Versions"]),
                         ("10", "", "VRSAFFRA9.exe", "27"))
        rows = [(g[f"Version{d}"], int(g[f"Length{d}"])) for d in range(27)]
        self.assertEqual(rows, VERSIONS)

    def test_groups_match_the_table(self):
        self.assertEqual(self.ini.sections(), ["General"] + [f"Group{g}" for g in range(10)])
        for g, (name, os_, install, files, exist) in enumerate(GROUPS):
            s = self.ini[f"Group{g}"]
            with self.subTest(group=g):
                self.assertEqual((s["Name"], s["OS"], s["Install Path"], int(s["Files"]),
                                  int(s["Exist"]), s["KeyNo"], s["KeyVersion"]),
                                 (name, os_, install, files, exist, "999", ""))
                for d in range(files):
                    path = s[f"Path{d}"]
                    self.assertRegex(path, r"^[A-Z]:\\.+\\[^\\]+$")
                    low, high = int(s[f"PathTimeL{d}"]), int(s[f"PathTimeH{d}"])
                    self.assertTrue(0 <= low < 1 << 32 and 0 < high < 1 << 32)
                self.assertNotIn(f"Path{files}", s)
                self.assertFalse([k for k in s if k.startswith("RegSvr")])

    def test_every_file_carries_the_length_and_digest_of_its_payload(self):
        for g, (_, _, _, files, _) in enumerate(GROUPS):
            s = self.ini[f"Group{g}"]
            for d in range(files):
                staged = os.path.join(PAYLOAD, "src", f"{g:02d}{d:02d}_{file_name(s[f'Path{d}'])}")
                with open(staged, "rb") as fh, self.subTest(group=g, file=d):
                    data = fh.read()
                    self.assertEqual(int(s[f"Size{d}"]), len(data))
                    self.assertEqual(s[f"Hash{d}"], hashlib.sha256(data).hexdigest())

    def test_files_the_rules_single_out(self):
        group0 = [file_name(self.ini["Group0"][f"Path{d}"]) for d in range(GROUPS[0][3])]
        self.assertEqual(group0[0], "VRSAFFRA9.exe")
        for name in SPECIAL_NAMES:
            self.assertIn(name, group0)
        self.assertEqual(len(set(n.lower() for n in group0)), len(group0),
                         "a name repeats in Group0")
        self.assertEqual(file_name(self.ini["Group1"]["Path0"]), "Servinst.exe")
        self.assertEqual(file_name(self.ini["Group4"]["Path0"]),
                         file_name(self.ini["Group5"]["Path0"]))
        self.assertEqual(file_name(self.ini["Group2"]["Path0"]),
                         file_name(self.ini["Group3"]["Path0"]))
        helps = [file_name(self.ini["Group6"][f"Path{d}"]) for d in range(10)]
        self.assertEqual(sum(n.endswith(".chm") for n in helps), 9)
        self.assertTrue(all(file_name(self.ini["Group7"][f"Path{d}"]).endswith(".ax")
                            for d in range(4)))
        # The key file's time: 22 December 2011, 01:41:00 UTC.
        self.assertEqual((self.ini["Group0"]["PathTimeL0"], self.ini["Group0"]["PathTimeH0"]),
                         ("3252985344", "30195786"))


@unittest.skipUnless(PAYLOAD, "VR_PAYLOAD_DIR not set")
class RealPayloadEntries(unittest.TestCase):
    def setUp(self):
        _, self.ini = read_uplist()
        self.bin = os.path.join(PAYLOAD, "bin")
        self.src = os.path.join(PAYLOAD, "src")

    def test_one_szdd_entry_per_listed_file(self):
        expected = {f"{g:02d}{d:02d}.BIN": file_name(self.ini[f"Group{g}"][f"Path{d}"])
                    for g in range(10) for d in range(int(self.ini[f"Group{g}"]["Files"]))}
        self.assertEqual(len(expected), sum(row[3] for row in GROUPS))
        self.assertEqual(sorted(os.listdir(self.bin)), sorted(expected))
        for entry, name in expected.items():
            with self.subTest(entry=entry):
                source = os.path.join(self.src, f"{entry[:4]}_{name}")
                with open(os.path.join(self.bin, entry), "rb") as f:
                    header = f.read(14)
                self.assertEqual(header[:8], SZDD_MAGIC)
                self.assertEqual(header[8:10], b"A\0")
                self.assertEqual(int.from_bytes(header[10:14], "little"), os.path.getsize(source))

    def test_key_file_is_a_program_of_the_listed_length(self):
        key = os.path.join(self.src, "0000_VRSAFFRA9.exe")
        self.assertEqual(os.path.getsize(key), 6748072)
        with open(key, "rb") as f:
            self.assertEqual(f.read(2), b"MZ")

    def test_help_files_grow_when_packed(self):
        for d in range(1, 10):
            entry = f"06{d:02d}.BIN"
            name = file_name(self.ini["Group6"][f"Path{d}"])
            packed = os.path.getsize(os.path.join(self.bin, entry))
            expanded = os.path.getsize(os.path.join(self.src, f"06{d:02d}_{name}"))
            self.assertGreater(packed, expanded, entry)
        # ...and the key file shrinks: only the help files take the long road.
        self.assertLess(os.path.getsize(os.path.join(self.bin, "0000.BIN")), 6748072)


MINIMAL = """
[general]
KeyFile = "Key.exe"
versions = [["1,0,0,0", 100]]
[[group]]
Name = "G"
{extra_group}
[[group.file]]
name = "a.dll"
source = "pe"
[[group.file]]
name = "b.bin"
source = "random"
size = 5000
full_size = 9000
{extra_file}
"""


class ManifestTool(unittest.TestCase):
    def manifest(self, text):
        path = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "m.toml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def load(self, extra_group="", extra_file=""):
        return uplist_gen.Manifest(self.manifest(
            MINIMAL.format(extra_group=extra_group, extra_file=extra_file)))

    def test_filetime(self):
        # UTC, with or without the zone, and the same moment in another zone.
        for text in ("2011-12-22T01:41:00Z", "2011-12-22T01:41:00", "2011-12-22T10:41:00+09:00"):
            self.assertEqual(uplist_gen.filetime(text), (3252985344, 30195786), text)
        self.assertEqual(uplist_gen.filetime("1601-01-01T00:00:00Z"), (0, 0))
        with self.assertRaises(uplist_gen.ManifestError):
            uplist_gen.filetime("1600-12-31T23:59:59Z")

    def test_refused_manifests(self):
        cases = {
            "Files disagrees": ("Files = 3", ""),
            "unknown source": ("", '[[group.file]]\nname = "c"\nsource = "zip"'),
            "target without name": ("", '[[group.file]]\nname = "c"\nsource = "target:"'),
            "name with a folder": ("", '[[group.file]]\nname = "x\\\\c.dll"\nsource = "pe"'),
            "non-ASCII path": ("", '[[group.file]]\nname = "c"\nsource = "pe"\npath = "D:\\\\\u30c6.dll"'),
            "random without size": ("", '[[group.file]]\nname = "c"\nsource = "random"'),
            "bad pe type": ("", '[[group.file]]\nname = "c"\nsource = "pe"\ntype = "com"'),
        }
        for why, (group, file) in cases.items():
            with self.subTest(why), self.assertRaises(uplist_gen.ManifestError):
                self.load(group, file)

    def test_indices_of_100_are_refused(self):
        files = "".join(f'[[group.file]]\nname = "f{i}"\nsource = "pe"\n' for i in range(100))
        with self.assertRaises(uplist_gen.ManifestError):
            uplist_gen.Manifest(self.manifest(f'[[group]]\nName = "G"\n{files}'))
        uplist_gen.Manifest(self.manifest(f'[[group]]\nName = "G"\n{files.rsplit("[[", 1)[0]}'))
        groups = "".join(f'[[group]]\nName = "G{i}"\n' for i in range(100))
        with self.assertRaises(uplist_gen.ManifestError):
            uplist_gen.Manifest(self.manifest(groups))

    def test_update_list_text(self):
        m = self.load('OS = "X64"\n"Install Path" = "driver"\nExist = 1',
                      'regsvr = 1\npath = "NoFolder.bin"\ntime = "2011-12-22T01:41:00Z"')
        text = uplist_gen.uplist_text(m).decode("ascii")
        lines = text.split("\r\n")
        self.assertEqual(lines[:7], ["[General]", "Group=1", "KeyPath=", "KeyFile=Key.exe",
                                     "Versions=1", "Version0=1,0,0,0", "Length0=100"])
        for line in ["OS=X64", "Install Path=driver", "Files=2", "KeyNo=999", "Exist=1",
                     "Path0=a.dll", "Path1=NoFolder.bin", "PathTimeL1=3252985344",
                     "PathTimeH1=30195786", "RegSvr1=1"]:
            self.assertIn(line, lines)
        self.assertNotIn("RegSvr0=", text)

    def test_build_dir_prefixes_the_list_path(self):
        m = uplist_gen.Manifest(self.manifest(
            "[general]\nbuild_dir = 'D:\\B'\n[[group]]\nName = \"G\"\n"
            "[[group.file]]\nname = \"a.dll\"\nsource = \"pe\"\n"))
        self.assertEqual(m.files[0].path, "D:\\B\\a.dll")

    def test_generated_files(self):
        m = self.load("", '[[group.file]]\nname = "t.txt"\nsource = "text"\nencoding = "cp932"\n'
                          'text = """\nA\n\u65e5\u672c\n"""')
        random_file = m.file("0001")
        first = uplist_gen.stage_bytes(random_file, "default", None)
        self.assertEqual(len(first), 5000)
        self.assertEqual(first, uplist_gen.stage_bytes(random_file, "default", None))
        self.assertEqual(len(uplist_gen.stage_bytes(random_file, "full", None)), 9000)
        random_file.table["seed"] = 1
        self.assertNotEqual(first, uplist_gen.stage_bytes(random_file, "default", None))
        self.assertEqual(uplist_gen.stage_bytes(m.file("0002"), "default", None),
                         "A\r\n\u65e5\u672c\r\n".encode("cp932"))

    def test_padding_to_size(self):
        image = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "image")
        with open(image, "wb") as f:
            f.write(b"MZ" + bytes(98))
        m = self.load("", "")
        pe = m.file("0000")
        pe.table["size"] = 4096
        for scale in ("default", "full"):
            data = uplist_gen.stage_bytes(pe, scale, image)
            self.assertEqual(len(data), 4096)
            self.assertEqual(data[:100], b"MZ" + bytes(98))
        pe.table["size"] = 99
        with self.assertRaises(uplist_gen.ManifestError):
            uplist_gen.stage_bytes(pe, "default", image)

    def test_version_resource_text(self):
        m = self.load("", "")
        pe = m.file("0000")
        pe.version = "10,3,0,0"
        pe.file_version = "10.3.0.7"
        rc = uplist_gen.version_rc(pe)
        self.assertIn("PRODUCTVERSION 10,3,0,0", rc)
        self.assertIn("FILEVERSION 10,3,0,7", rc)
        self.assertIn('VALUE "ProductVersion", "10,3,0,0"', rc)
        self.assertIn('VALUE "Translation", 0x411, 932', rc)
        pe.version = "10.4"
        self.assertIn("PRODUCTVERSION 0,0,0,0", uplist_gen.version_rc(pe))


VERIFY = os.environ.get("VR_PAYLOAD_VERIFY", "")


@unittest.skipUnless(PAYLOAD and VERIFY, "VR_PAYLOAD_VERIFY not set")
class CheckerNoticesAWrongStore(unittest.TestCase):
    def test_swapped_source_and_unlisted_entry(self):
        with open(os.path.join(PAYLOAD, "verify.list"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        by_name = {line.split("\t")[1]: i for i, line in enumerate(lines)}
        swapped = lines[by_name["0003.BIN"]].split("\t")
        swapped[2] = lines[by_name["0004.BIN"]].split("\t")[2]
        lines[by_name["0003.BIN"]] = "\t".join(swapped)
        del lines[by_name["0900.BIN"]]
        bad = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "bad.list")
        with open(bad, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        run = subprocess.run([os.environ["VR_EMULATOR"], VERIFY, os.environ["VR_PAYLOAD_MODULE"],
                              bad], capture_output=True, text=True, timeout=240)
        if run.returncode == 77:  # the machine cannot run the checker
            self.skipTest(run.stdout.strip())
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("0003.BIN: expands to", run.stderr)
        self.assertIn("0900.BIN is stored but not listed", run.stderr)
        self.assertIn(" 2 failures", run.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
