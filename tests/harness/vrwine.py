"""What the Python side of the tests needs of Wine: a program run in a prefix
of its own, Windows paths, a small drive, the updater's process, screenshots.

The prefix itself (the template copied into a fresh WINEPREFIX, its own
wineserver started and stopped by PID, Xvfb, the loaders of both flavours,
the skip where 32-bit code cannot run) stays with tests/harness/wine-test.sh,
which every Wine test of the build uses; run_in_prefix() calls it.
"""
import contextlib
import os
import shutil
import subprocess

HARNESS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HARNESS))
SKIPPED = 77  # ctest's SKIP_RETURN_CODE of every Wine test


def why_flavour_cannot_run(flavour):
    """Why this machine cannot run the programs of a flavour of the build
    ("" when it can): the i686 flavour needs 32-bit code (wine-env.sh)."""
    if flavour != "i686":
        return ""
    probe = subprocess.run(
        ["bash", "-c", '. "$1/wine-env.sh"; vr_runs_32bit || echo "$VR_NO_32BIT_WHY"', "-",
         HARNESS], stdout=subprocess.PIPE, text=True, check=False)
    return probe.stdout.strip()


def winepath(unix_path):
    """A Linux path as Wine's Z: drive sees it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def run_in_prefix(program, *, arch="win64", winver=None, display=True, drives=(),
                  setup=None, then=None, env=None, cwd=None, stdout=None, stderr=None):
    """Runs program (a list: the Windows program and its arguments) through
    wine-test.sh in a fresh prefix; setup and then are shell commands run in
    the prefix before and after it. Returns the Popen object."""
    cmd = [os.path.join(HARNESS, "wine-test.sh"), "--arch", arch]
    cmd += ["--winver", winver] if winver else []
    cmd += ["--display"] if display else []
    for letter, folder in drives:
        cmd += ["--drive", f"{letter}={folder}"]
    cmd += ["--setup", setup] if setup else []
    cmd += ["--then", then] if then else []
    return subprocess.Popen(cmd + ["--"] + list(program), env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=stderr)


@contextlib.contextmanager
def small_drive(folder, megabytes):
    """A tmpfs of megabytes mounted on folder for the block; None when it
    cannot be mounted here (it needs root)."""
    os.makedirs(folder, exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={megabytes}m", "tmpfs", folder],
                      stderr=subprocess.DEVNULL).returncode != 0:
        yield None
        return
    try:
        yield folder
    finally:
        subprocess.run(["umount", folder])


def process_of(program_name, marker):
    """PID of the process whose program ends in program_name (case ignored)
    and whose environment holds the line marker, or None. Read through /proc,
    so a look takes milliseconds."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                arg0 = f.read().split(b"\0", 1)[0].decode(errors="replace")
            if not arg0.lower().endswith(program_name.lower()):
                continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if marker.encode() in f.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def save_shots(shot_dir, artifacts):
    """The robot's .bmp screenshots as .png files in artifacts (a .bmp where
    ImageMagick is missing); the folder's earlier pictures go first."""
    os.makedirs(artifacts, exist_ok=True)
    for old in os.listdir(artifacts):
        if old.endswith(".png"):
            os.remove(os.path.join(artifacts, old))
    for name in sorted(os.listdir(shot_dir)) if os.path.isdir(shot_dir) else []:
        if not name.endswith(".bmp"):
            continue
        bmp = os.path.join(shot_dir, name)
        png = os.path.join(artifacts, name[:-4] + ".png")
        if subprocess.run(["convert", bmp, png], stderr=subprocess.DEVNULL).returncode != 0:
            shutil.copy(bmp, artifacts)
