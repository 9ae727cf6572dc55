#!/usr/bin/env python3
"""The end-to-end journeys: each a whole run of the real updater in a fresh
prefix, the robot answering its boxes, then the state of disk, registry and
service checked by e2e_check and the steps the updater traced.

    journeys.py list FLAVOUR        NAME|TIMEOUT|LABELS of each journey the
                                    flavour (x64, i686) registers
    journeys.py run NAME [--result FILE] [--trace FILE] [--test-name NAME]
                                    runs one journey (of the table, or a
                                    JSON file of one); exit 0 passed, 1
                                    failed, 77 skipped (no 32-bit code here,
                                    no root for a small drive)
    journeys.py phase setup|then WORK   inside the prefix (wine-test.sh)

Steps are named as win32/TraceSteps.h declares them, message ids as
res/resource.h does, the checker's fields as tests/e2e/CheckRecord.h does:
"list" reads all three, so a name that is not declared fails the
registration of the tests (journeys.cmake), not a journey at run time.

A step is matched by its text (the format with the journey's arguments put
in, up to the first conversion left open) anywhere in a traced line, in
both runs; with a count it must be traced exactly that often. The robot and
e2e_check write JSON records (one object a line), read here.

Environment (set by the build): VR_BIN, VR_UPLIST, VR_PAYLOAD_SRC,
VR_WINE_TEMPLATES, VR_ARTIFACTS (screenshots go to VR_ARTIFACTS/NAME).
"""
import contextlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
import vrwine  # noqa: E402

# ---------------------------------------------------------------------------
# Declared contracts


def declared_texts(header):
    """{NAME: text} of every `constexpr char NAME[] = "text";` of a header."""
    with open(os.path.join(ROOT, header), encoding="utf-8") as f:
        text = f.read()
    return {name: json.loads(f'"{value}"') for name, value in
            re.findall(r'constexpr char (k\w+)\[\] =\s*"((?:[^"\\]|\\.)*)";', text)}


class Declared:
    """Attribute access to declared names; an unknown one raises at once."""

    def __init__(self, values, what):
        self._values, self._what = values, what

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        if name not in self._values:
            raise SystemExit(f"journeys: {name} is not declared in {self._what}")
        return self._values[name]


CONVERSION = re.compile(r"%[-+ #0-9.]*(?:l{0,2}|h)[diouxXfsc]")


class Step:
    """A traced step: a declared format, the arguments put in so far."""

    def __init__(self, fmt, args=(), count=None):
        self.fmt, self.args, self.count = fmt, tuple(args), count

    def __call__(self, *args):
        return Step(self.fmt, self.args + args, self.count)

    def times(self, count):
        return Step(self.fmt, self.args, count)

    @property
    def text(self):
        args, out, at = list(self.args), "", 0
        for m in CONVERSION.finditer(self.fmt):
            out += self.fmt[at:m.start()]
            if not args:
                return out
            out += m.group(0) % args.pop(0)
            at = m.end()
        return out + self.fmt[at:]


def could_begin(text, fmt):
    """Whether some line traced with fmt begins with text."""
    pattern, pieces = "", CONVERSION.split(fmt)
    for i, piece in enumerate(pieces):
        for k in range(len(piece) + 1):
            if re.fullmatch(pattern + re.escape(piece[:k]), text, re.S):
                return True
        pattern += re.escape(piece)
        if i + 1 < len(pieces):  # the conversion after this piece
            kind = CONVERSION.findall(fmt)[i][-1]
            pattern += {"s": ".*", "c": "."}.get(kind, r"-?[\d.]*")
    return False


def kill_point_names():
    """The names of the killable build's points written in the product."""
    names = []
    for folder in ("app", "engine", "system", "updatelist", "win32"):
        for base, _, files in os.walk(os.path.join(ROOT, folder)):
            for name in files:
                with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                    for call in re.findall(r"VR_KILL_POINT\(([^;]*)\);", f.read()):
                        names += re.findall(r'"([^"]*)"', call)
    return names


STEPS = declared_texts("win32/TraceSteps.h")
S = Declared({name: Step(fmt) for name, fmt in STEPS.items()}, "win32/TraceSteps.h")
F = Declared(declared_texts("tests/e2e/CheckRecord.h"), "tests/e2e/CheckRecord.h")
with open(os.path.join(ROOT, "res", "resource.h"), encoding="utf-8") as _f:
    IDS = dict(re.findall(r"^#define (ID\w+) (\d+)$", _f.read(), re.M))


def area(prefix):
    """Every step whose text begins with prefix ("update:")."""
    if not any(could_begin(prefix, fmt) for fmt in STEPS.values()):
        raise SystemExit(f"journeys: no declared step begins with \"{prefix}\"")
    return Step(prefix)


def message_id(name):
    if name not in IDS:
        raise SystemExit(f"journeys: {name} is not declared in res/resource.h")
    return int(IDS[name])


def robot(mode, *expect, answer=None, idle=None, timeout=120, check=True, extra=()):
    """The robot's part: Start pressed or a resume run, the boxes it must see
    (string ids by name, in order), the answers, Close once idle for idle ms."""
    args = ["--" + mode]
    if check:
        args += ["--expect", ",".join(str(message_id(n)) for n in expect) or ","]
    for name, button in (answer or {}).items():
        args += ["--answer", f"{message_id(name)}={button}"]
    args += ["--close-when-idle", str(idle)] if idle else []
    return args + ["--timeout", str(timeout)] + list(extra)


# ---------------------------------------------------------------------------
# The journeys

KEY_FILE_NEW = "key=10,3,0,0:6748072"
UPDATED_ANSWER_NO = dict(
    robot=robot("start", "IDS_RESTART_QUESTION", answer={"IDS_RESTART_QUESTION": "No"}, timeout=150))
FULL_UPDATE = dict(
    UPDATED_ANSWER_NO, watch_temp=True, install="10.2.9.0 --launcher --run-value",
    check=f"updated {KEY_FILE_NEW} uninstall=updated run=absent service=present updater-key=absent",
    steps=[S.kLauncher(0).times(1), S.kUpdateRegistrationPass("unregistration"),
           S.kUpdateInstallPass, S.kUpdateRegistrationPass("registration"),
           S.kUninstallEntry("updated"), S.kRestartQuestion("no").times(1)],
    no_steps=[S.kRestartRequested, S.kMessage(message_id("IDS_NOTHING_TO_UPDATE"))])
REFUSED = dict(check="same service=present",
               steps=[S.kUpdateChecksFailed, S.kService("install")],
               no_steps=[S.kUpdateInstallPass, S.kRestartQuestion])
UPDATED = dict(check=f"updated {KEY_FILE_NEW} uninstall=updated service=present",
               steps=[S.kUpdateInstallPass, S.kRestartQuestion("no").times(1)])
PLANTED = dict(UPDATED_ANSWER_NO, **UPDATED, install="10.2.9.0")
# Libraries planted in the download folder the updater runs from: its own,
# those it binds, those the common controls and the system pull in.
PLANTED_NAMES = ["LZ32.DLL", "comctl32.dll", "uxtheme.dll", "dwmapi.dll", "cryptbase.dll",
                 "winmm.dll", "msimg32.dll", "QfControl.dll", "QfControl_res.dll", "SoundFx.dll"]
IDLE_120 = dict(idle=1500, timeout=120)

JOURNEYS = [
    # Not installed: Start says so and nothing else happens; a resume run
    # finds nothing to update.
    dict(name="journey_not_installed",
         robot=robot("start", "IDS_NOT_INSTALLED", idle=1500, timeout=60),
         no_steps=[area("service:"), area("update:")]),
    dict(name="journey_not_installed_resume",
         robot=robot("resume", "IDS_NOTHING_TO_UPDATE", idle=1500, timeout=60),
         steps=[S.kUpdateBegin("resume"), S.kMessage(message_id("IDS_NOTHING_TO_UPDATE")).times(1)]),
    # A full update of 10.2.9.0 with the launcher running, the service
    # present and a resume entry left from before; the restart question
    # answered No. Nothing may appear in the user's temporary folder
    # meanwhile, not even for a moment: the list is read from the updater's
    # own resource. The updater leaves no key of its own behind.
    dict(FULL_UPDATE, name="journey_full_update_win7_64", winver="win7"),
    dict(FULL_UPDATE, name="journey_full_update_xp_32", arch="win32", winver="winxp"),
    # 10.3.0.0 already installed: the re-update question. No leaves
    # everything as it was and gives the service back; Yes updates again.
    dict(name="journey_reupdate_declined", install="10.3.0.0",
         robot=robot("start", "IDS_REUPDATE_QUESTION", answer={"IDS_REUPDATE_QUESTION": "No"},
                     **IDLE_120),
         check=f"same {KEY_FILE_NEW} uninstall=10.30.000 service=present",
         steps=[S.kService("install")],
         no_steps=[S.kUpdateInstallPass, S.kRestartQuestion,
                   S.kMessage(message_id("IDS_NOTHING_TO_UPDATE"))]),
    dict(UPDATED, name="journey_reupdate_accepted", install="10.3.0.0",
         robot=robot("start", "IDS_REUPDATE_QUESTION", "IDS_RESTART_QUESTION",
                     answer={"IDS_REUPDATE_QUESTION": "Yes", "IDS_RESTART_QUESTION": "No"},
                     timeout=150)),
    # A file of the update held open by a running program: nothing is
    # replaced. Start refuses; a resume run asks to close it (Cancel), then
    # says there is nothing to update.
    dict(name="journey_file_in_use", install="10.2.9.0", hold="Glyphen.dll",
         robot=robot("start", "IDS_FILES_IN_USE", **IDLE_120),
         check="same uninstall=10.29.000 service=present",
         steps=[S.kStartFilesInUse], no_steps=[S.kUpdateBegin]),
    dict(name="journey_file_in_use_resume", install="10.2.9.0", hold="Glyphen.dll",
         robot=robot("resume", "IDS_APP_RUNNING", "IDS_NOTHING_TO_UPDATE",
                     answer={"IDS_APP_RUNNING": "Cancel"}, **IDLE_120),
         check="same uninstall=10.29.000 service=present",
         steps=[S.kUpdateChecksFailed], no_steps=[S.kUpdateInstallPass, S.kRestartQuestion]),
    # An earlier update that did not finish (its marks left under the
    # updater's key) over 10.3.0.0, its service removed: the service comes
    # back as soon as the updater starts, and Start finishes the update
    # without the re-update question, from the update procedure as from the
    # in-use branch.
    dict(name="journey_unfinished_update_completes", install="10.3.0.0",
         marks=["UpdateUnfinished", "ServiceRemoved"], delete_service=True,
         **UPDATED_ANSWER_NO,
         check=f"updated {KEY_FILE_NEW} uninstall=updated service=present updater-key=absent",
         steps=[S.kStartServiceReinstalled("started").times(1), S.kUpdateUnfinished,
                S.kUpdateFinished]),
    dict(name="journey_unfinished_update_files_in_use", install="10.3.0.0", hold="Glyphen.dll",
         marks=["UpdateUnfinished"], robot=robot("start", "IDS_FILES_IN_USE", **IDLE_120),
         check="same service=present updater-key=present",
         steps=[S.kStartFilesInUse], no_steps=[S.kUpdateBegin]),
    # A resume run (the Run value's "/r"): no Start, no unregistration pass,
    # the registration pass runs, 10.3.0.0 is updated again without the
    # question.
    dict(name="journey_resume_run", install="10.3.0.0 --run-value",
         robot=robot("resume", "IDS_RESTART_QUESTION", answer={"IDS_RESTART_QUESTION": "No"},
                     timeout=150),
         check=f"updated {KEY_FILE_NEW} uninstall=updated run=absent service=present",
         steps=[S.kUpdateBegin("resume"), S.kUpdateRegistrationPass("registration"),
                S.kUpdateInstallPass],
         no_steps=[S.kUpdateRegistrationPass("unregistration"), S.kStart]),
    # Versions the update refuses; nothing is replaced and the service comes
    # back. A listed version of the wrong length is announced by the group
    # check and again by the update procedure; an unlisted older version
    # only by the update procedure; a newer one by the group check, then
    # nothing to update.
    dict(REFUSED, name="journey_wrong_length", install="10.2.9.0 --wrong-length",
         robot=robot("start", "IDS_NOTHING_TO_UPDATE", "IDS_NOTHING_TO_UPDATE",
                     **IDLE_120)),
    dict(REFUSED, name="journey_unlisted_older", install="9.5.0.0",
         robot=robot("start", "IDS_NOTHING_TO_UPDATE", **IDLE_120)),
    dict(REFUSED, name="journey_newer_installed", install="10.4.0.0",
         robot=robot("start", "IDS_INSTALLED_NEWER", "IDS_NOTHING_TO_UPDATE",
                     **IDLE_120)),
    # A launcher that ignores WM_CLOSE. Run from the program folder its own
    # program file is in use, so Start refuses before anything happens.
    dict(name="journey_launcher_stays", install="10.2.9.0 --launcher=--ignore-close",
         robot=robot("start", "IDS_FILES_IN_USE", idle=2000, timeout=150),
         check="same uninstall=10.29.000 service=present",
         steps=[S.kLauncher(-1).times(1), S.kStartFilesInUse, S.kService("install")],
         no_steps=[S.kUpdateBegin]),
    # The same window from a copy of the launcher outside the update: asked
    # three times (the Start handler's answer is ignored, the update
    # procedure's second one stops the install pass), no box at all,
    # nothing replaced, the registration pass after the unregistration
    # pass, service back.
    dict(name="journey_launcher_stays_elsewhere", install="10.2.9.0", launcher_elsewhere=True,
         robot=robot("start", idle=2000, timeout=150),
         check="same uninstall=10.29.000 service=present",
         steps=[S.kLauncher(-1).times(3), S.kUpdateLauncherOpen,
                S.kUpdateRegistrationPass("unregistration"),
                S.kUpdateRegistrationPass("registration"), S.kService("install")],
         no_steps=[S.kUpdateInstallPass, S.kRestartQuestion]),
    # No service to remove and a service installer that takes two seconds:
    # the installer is one of the update's files, so Start waits for it to
    # end instead of finding its program in use in the scan after the
    # removal.
    dict(name="journey_slow_service_installer",
         install="10.2.9.0 --no-service --servinst-delay 2000", **UPDATED_ANSWER_NO,
         check="updated uninstall=updated service=present updater-key=absent",
         steps=[S.kStartNothingInTheWay], no_steps=[S.kStartInUse]),
    # Less than 100,000,000 bytes free on the program folder's drive: the
    # disk-full message and nothing else; the service was never touched.
    dict(name="journey_disk_full", small_drive=("E", 40),
         install="10.2.9.0 --program-folder 'E:\\Vorrel'",
         robot=robot("start", "IDS_DISK_FULL", idle=1500, timeout=90),
         check="same service=present", no_steps=[area("service:"), area("update:")]),
    # The program folder on a drive that cannot be written (installed there,
    # then remounted read-only): nothing is replaced and the service comes
    # back. The drive has room enough for Start's free-space check.
    dict(name="journey_read_only_drive", small_drive=("E", 200), read_only=True,
         install="10.2.9.0 --program-folder 'E:\\Vorrel'",
         robot=robot("start", "IDS_CANNOT_WRITE", **IDLE_120),
         check="same service=present",
         steps=[S.kStartChecksRefused], no_steps=[S.kStartFilesInUse, S.kUpdateBegin]),
    # Restart answered Yes, in this test's own prefix: requested once; Start
    # and Close stay disabled until Wine ends the updater.
    dict(name="journey_restart_accepted", install="10.2.9.0",
         robot=robot("start", "IDS_RESTART_QUESTION", answer={"IDS_RESTART_QUESTION": "Yes"},
                     timeout=150),
         check="updated uninstall=updated service=present",
         steps=[S.kRestartQuestion("yes").times(1), S.kRestartRequested.times(1)],
         last_buttons=(0, 0)),
    # A service that never goes away: after each 62 s wait the question to
    # close it (Retry/Cancel); Cancel lets the update go on, once in the
    # Start handler and once in the update procedure. Slow by nature.
    dict(UPDATED, name="journey_service_stays", timeout=400, labels=["slow"],
         install="10.2.9.0 --servinst-refuse",
         robot=robot("start", "IDS_APP_RUNNING", "IDS_APP_RUNNING", "IDS_RESTART_QUESTION",
                     answer={"IDS_APP_RUNNING": "Cancel", "IDS_RESTART_QUESTION": "No"},
                     timeout=360),
         check="updated uninstall=updated service=present"),
    # Libraries planted where the updater runs from: a full update loads
    # none of them. Wine prefers its built-in copy of most of these names
    # (the probe then finds only the product's names there). The
    # native-first run makes Wine look in the download folder first, as
    # Windows does for a library that is no Known DLL; the probe must then
    # find every planted copy. version.dll is left out of that run: Wine's
    # own user32 imports it before any code of the updater runs.
    dict(PLANTED, name="journey_dll_planting", planted=["version.dll"] + PLANTED_NAMES),
    dict(PLANTED, name="journey_dll_planting_native_first", planted=PLANTED_NAMES,
         native_first=True),
    # The updater interrupted at ten points of a full update: see
    # tests/e2e/killcampaign.py. Two halves, side by side.
    dict(name="journey_kill_campaign_1of2", campaign="1/2", timeout=600, labels=["slow"]),
    dict(name="journey_kill_campaign_2of2", campaign="2/2", timeout=600, labels=["slow"]),
    # A variant updater whose store entry 0005.BIN has one flipped bit: the
    # expanded copy does not carry the list's SHA-256, so that file stays
    # old and counts as failed (the Uninstall entry keeps the old version);
    # everything else is updated, nothing left partial or behind.
    dict(name="journey_corrupt_payload_entry", install="10.2.9.0", corrupt="0005.BIN",
         **UPDATED_ANSWER_NO,
         check="old-or-new temporaries=none uninstall=10.29.000 service=present",
         steps=[S.kUpdateReplaced(50, 1), S.kUpdateEntryKept(1)]),
    # The program folder's volume fills up during the install pass (another
    # program writes it full): the files that no longer fit fail, every file
    # is whole (old or new), no temporary is left, the service comes back.
    dict(name="journey_disk_fills_during_install", small_drive=("E", 120),
         install="10.2.9.0 --program-folder 'E:\\Vorrel'",
         fill=(S.kUpdateInstallPass, 1500), **UPDATED_ANSWER_NO,
         check="old-or-new temporaries=none uninstall=10.29.000 service=present",
         steps=[S.kUpdateInstallPass]),
    # Not a test: one full update timed by scripts/benchmark.sh.
    dict(name="bench_full_update", register=False, winver="win7", install="10.2.9.0",
         robot=robot("start", "IDS_RESTART_QUESTION", answer={"IDS_RESTART_QUESTION": "No"},
                     timeout=900, extra=["--timing", "--memory"]),
         check="updated floor"),
]


def plain(journey):
    """The journey as JSON data: steps as [text, count]."""
    out = dict(journey)
    for key in ("steps", "no_steps"):
        out[key] = [[s.text, s.count] for s in journey.get(key, [])]
    if "fill" in journey:
        out["fill"] = [journey["fill"][0].text, journey["fill"][1]]
    return out


def journey_named(name):
    if os.path.isfile(name):
        with open(name, encoding="utf-8") as f:
            return json.load(f)
    for j in JOURNEYS:
        if j["name"] == name:
            return plain(j)
    raise SystemExit(f"journeys: no journey {name}")


# ---------------------------------------------------------------------------
# One run


def records(lines):
    """The JSON objects among lines (Wine's consoles end lines in CR LF)."""
    out = []
    for line in lines:
        line = line.strip()
        if line.startswith("{"):
            try:
                out.append(json.loads(line))
            except ValueError:
                pass
    return out


def run_checks(j, work, checks, tag):
    """e2e_check with the checks in this prefix; its records go to
    WORK/checks-TAG.jsonl. True when all held."""
    snap = os.path.join(work, "before.snap")
    args = [re.sub(r"^(same|old-or-new|facts)$", rf"\1={snap}", c) for c in checks.split()]
    bin_ = os.environ["VR_BIN"]
    out = subprocess.run([os.environ["VR_WINE"], os.path.join(bin_, "e2e_check.exe"),
                          "list=" + os.environ["VR_UPLIST"], "src=" + os.environ["VR_PAYLOAD_SRC"]]
                         + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True,
                         errors="replace")
    found = records(out.stdout.splitlines())
    with open(os.path.join(work, f"checks-{tag}.jsonl"), "a", encoding="utf-8") as f:
        for r in found:
            f.write(json.dumps(r) + "\n")
            print(json.dumps(r, ensure_ascii=False), flush=True)
    return out.returncode == 0 and all(r[F.kOk] is not False for r in found)


def detached(cmd, **kw):
    return subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True, **kw)


def phase_setup(j, work):
    """In the prefix, before the updater: the product, the situation."""
    wine, bin_, pfx = os.environ["VR_WINE"], os.environ["VR_BIN"], os.environ["WINEPREFIX"]
    run = lambda *cmd, **kw: subprocess.run(cmd, stdin=subprocess.DEVNULL, **kw).returncode == 0
    if j.get("install"):
        if not run(os.path.join(ROOT, "scripts", "install-product.sh"), pfx,
                   *shlex.split(j["install"]), "--bin", bin_, "--keep-server"):
            return 1
        if not run_checks(j, work, "snapshot=" + os.path.join(work, "before.snap"), "before"):
            return 1
    if j.get("hold"):
        # Ended by the then phase, at the latest by the harness's wineserver -k.
        held = os.path.join(work, "held")
        holder = detached([wine, os.path.join(bin_, "e2e_holder.exe"), j["hold"],
                           vrwine.winepath(held)])
        with open(os.path.join(work, "holder.pid"), "w") as f:
            f.write(str(holder.pid))
        for _ in range(100):
            if os.path.exists(held):
                break
            time.sleep(0.1)
        else:
            return 1
    key = "HKLM\\SOFTWARE\\Marrowick\\VrUpdater1030"
    for mark in j.get("marks", []):
        if not run(wine, "reg", "add", key, "/v", mark, "/t", "REG_DWORD", "/d", "1", "/f",
                   stdout=subprocess.DEVNULL):
            return 1
    if j.get("delete_service") and not run(wine, "sc", "delete", "qfsvcg",
                                           stdout=subprocess.DEVNULL):
        return 1
    if j.get("launcher_elsewhere"):
        os.makedirs(os.path.join(pfx, "drive_c", "elsewhere"), exist_ok=True)
        shutil.copy(os.path.join(bin_, "VrOstrel.exe"), os.path.join(pfx, "drive_c", "elsewhere"))
        detached([wine, "C:\\elsewhere\\VrOstrel.exe", "--ignore-close"])
        time.sleep(1)
    if j.get("planted"):
        # Every name the probe loads by bare name from its folder must be the
        # planted copy.
        probe = os.path.join(work, "probe")
        run(wine, "PlantedProbe.exe", *j["planted"], cwd=probe)
        for n in j["planted"]:
            found = os.path.exists(os.path.join(probe, n + ".loaded"))
            print(f"journey: the probe {'loaded' if found else 'did not load'} the planted {n}")
    if j.get("read_only") and not run("mount", "-o", "remount,ro", os.path.join(work, "drive")):
        return 1
    if j.get("watch_temp"):  # the last step before the run
        return 0 if run("python3", os.path.join(HERE, "watch-temp.py"), "start",
                        os.path.join(work, "temp-watch")) else 1
    return 0


def phase_then(j, work):
    """In the prefix, after the updater: the checks, the second run."""
    if j.get("watch_temp"):
        subprocess.run(["python3", os.path.join(HERE, "watch-temp.py"), "stop",
                        os.path.join(work, "temp-watch")])
    pid_file = os.path.join(work, "holder.pid")
    if os.path.exists(pid_file):
        with open(pid_file) as f:
            subprocess.run(["kill", f.read().strip()], stderr=subprocess.DEVNULL)
    ok = run_checks(j, work, j["check"], "after") if j.get("check") else True
    if j.get("again"):
        print("--- second run", flush=True)
        print("--- second run", file=sys.stderr, flush=True)
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        env.pop("VR_KILL_AT", None)
        bin_ = os.environ["VR_BIN"]
        second = subprocess.run([os.environ["VR_WINE"], os.path.join(bin_, "vrrobot.exe")]
                                + j["again"] + ["--", os.path.join(bin_, "VrUpdater1030.exe")],
                                env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                text=True, errors="replace")
        sys.stdout.write(second.stdout.replace("\r", ""))
        with open(os.path.join(work, "robot-again.jsonl"), "w", encoding="utf-8") as f:
            f.write(second.stdout.replace("\r", ""))
        ok = second.returncode == 0 and ok
        if j.get("again_check"):
            ok = run_checks(j, work, j["again_check"], "again") and ok
    return 0 if ok else 1


def watch_and_act(j, work, stderr_path, report):
    """Waits for the step of fill or kill in the trace, then MS milliseconds
    more; fills the small drive up, or SIGKILLs the updater's process (no
    clean-up, as in a crash; the machine goes on). Lands tens of
    milliseconds apart from run to run."""
    text, ms = j.get("fill") or j.get("kill")
    deadline = time.time() + 180
    while True:
        with open(stderr_path, "rb") as f:
            trace = f.read()
        if b"--- second run" in trace or ("VrUpdater: " + text).encode() in trace:
            break
        if time.time() > deadline:
            break
        time.sleep(0.02)
    if ("VrUpdater: " + text).encode() not in trace.split(b"--- second run")[0]:
        report.append(f"not reached: \"{text}\" never traced")
        return
    time.sleep(ms / 1000)
    if j.get("fill"):
        drive = os.path.join(work, "drive")
        subprocess.run(["dd", "if=/dev/zero", f"of={drive}/filler", "bs=64k"],
                       stderr=subprocess.DEVNULL)
        report.append(f"filled: {shutil.disk_usage(drive).free // 1024} KiB left "
                      f"{ms} ms after \"{text}\"")
        return
    pid = vrwine.process_of("VrUpdater1030.exe", "VR_JOURNEY_WORK=" + work)
    try:
        os.kill(pid, 9)
        report.append(f"killed: updater (pid {pid}) {ms} ms after \"{text}\"")
    except (TypeError, OSError):
        report.append(f"not reached: the updater had ended {ms} ms after \"{text}\"")


def prepare_updater(j, work, env):
    """The updater this journey runs: shipped, killable, corrupted or
    copied into a download folder with the planted libraries."""
    bin_ = os.environ["VR_BIN"]
    updater = os.path.join(bin_, "VrUpdater1030.exe")
    if j.get("kill_at"):
        updater = os.path.join(bin_, "killable", "VrUpdater1030.exe")
        env["VR_KILL_AT"] = j["kill_at"]
    if j.get("corrupt"):
        os.makedirs(os.path.join(work, "variant"))
        variant = os.path.join(work, "variant", "VrUpdater1030.exe")
        if subprocess.run(["python3", os.path.join(HERE, "corrupt-entry.py"), updater, variant,
                           j["corrupt"]]).returncode != 0:
            raise SystemExit(1)
        updater = variant
    if j.get("planted"):
        dl, probe = os.path.join(work, "dl"), os.path.join(work, "probe")
        os.makedirs(dl)
        os.makedirs(probe)
        shutil.copy(updater, dl)
        shutil.copy(os.path.join(bin_, "PlantedProbe.exe"), probe)
        for n in j["planted"]:
            shutil.copy(os.path.join(bin_, "Planted.dll"), os.path.join(dl, n))
            shutil.copy(os.path.join(bin_, "Planted.dll"), os.path.join(probe, n))
        if j.get("native_first"):
            env["VR_DLL_OVERRIDES"] = ";".join(n.rsplit(".", 1)[0] + "=n,b" for n in j["planted"])
        print(f"journey: planted in {dl}: {' '.join(j['planted'])}; WINEDLLOVERRIDES adds "
              f"\"{env.get('VR_DLL_OVERRIDES', '')}\"")
        return os.path.join(dl, "VrUpdater1030.exe"), dl
    return updater, os.getcwd()


def judge(j, work, robot_events, steps, kill_report):
    """The failures of a finished run, beyond the robot's and the checks'."""
    faults = []
    for text, count in j.get("steps", []):
        n = sum(1 for s in steps if "VrUpdater: " + text in s)
        if (count is None and n < 1) or (count is not None and n != count):
            faults.append(f"step \"{text}\" traced {n} times (expected "
                          f"{'at least once' if count is None else count})")
    for text, _ in j.get("no_steps", []):
        if any("VrUpdater: " + text in s for s in steps):
            faults.append(f"step \"{text}\" must not be traced")
    for n in j.get("planted", []):
        if j.get("native_first") and not os.path.exists(os.path.join(work, "probe", n + ".loaded")):
            faults.append(f"the probe did not load the planted {n}: this check could not fail")
        if os.path.exists(os.path.join(work, "dl", n + ".loaded")):
            faults.append(f"the planted {n} was loaded")
    if j.get("watch_temp") and subprocess.run(["python3", os.path.join(HERE, "watch-temp.py"),
                                               "check", os.path.join(work, "temp-watch")]).returncode:
        faults.append("something appeared in the temporary folder")
    if (j.get("fill") or j.get("kill")) and not any(
            r.startswith(("filled", "killed")) for r in kill_report):
        faults.append(f"{'fill' if j.get('fill') else 'kill'}: "
                      f"{kill_report[0] if kill_report else 'not reached'}")
    if j.get("kill_at"):
        first = steps[:steps.index("--- second run")] if "--- second run" in steps else steps
        reached = [s for s in first if s.startswith("VrUpdater: kill point ")]
        kill_report.append(f"reached: {reached[0][len('VrUpdater: '):]}" if reached
                           else f"not reached: \"{j['kill_at']}\"")
        if not reached:
            faults.append(kill_report[-1])
    if j.get("last_buttons"):
        seen = [(e["start"], e["close"]) for e in robot_events if e.get("event") == "buttons"]
        if not seen or seen[-1] != tuple(j["last_buttons"]):
            faults.append(f"last buttons {seen[-1] if seen else None} (expected "
                          f"{tuple(j['last_buttons'])})")
    return faults


def run_journey(j, test_name, result_path=None, trace_path=None):
    began = time.time()
    work = tempfile.mkdtemp(prefix="vrjourney.")
    try:
        with vrwine.small_drive(os.path.join(work, "drive"), j["small_drive"][1]) \
                if j.get("small_drive") else contextlib.nullcontext() as drive:
            if j.get("small_drive") and not drive:
                print(f"journey {test_name}: cannot mount a small drive here (needs root); skipped")
                return vrwine.SKIPPED
            return _run(j, test_name, work, drive, began, result_path, trace_path)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _run(j, test_name, work, drive, began, result_path, trace_path):
    with open(os.path.join(work, "journey.json"), "w", encoding="utf-8") as f:
        json.dump(j, f)
    env = dict(os.environ, VR_JOURNEY_WORK=work,
               WINEDEBUG=os.environ.get("VR_JOURNEY_WINEDEBUG", "-all,+debugstr"))
    updater, run_dir = prepare_updater(j, work, env)
    me = f"python3 {shlex.quote(os.path.abspath(__file__))} phase"
    stderr_path = os.path.join(work, "stderr")
    with open(stderr_path, "wb") as stderr:
        proc = vrwine.run_in_prefix(
            [os.path.join(os.environ["VR_BIN"], "vrrobot.exe"), "--shot-dir",
             os.path.join(work, "shots")] + j.get("robot", []) + ["--", updater],
            arch=j.get("arch", "win64"), winver=j.get("winver"),
            drives=[(j["small_drive"][0], drive)] if drive else [],
            setup=f"{me} setup {shlex.quote(work)}", then=f"{me} then {shlex.quote(work)}",
            env=env, cwd=run_dir, stdout=subprocess.PIPE, stderr=stderr)
        kill_report = []
        if j.get("fill") or j.get("kill"):
            threading.Thread(target=watch_and_act, args=(j, work, stderr_path, kill_report),
                             daemon=True).start()
        os.makedirs(os.path.join(work, "shots"), exist_ok=True)
        lines = []
        for raw in proc.stdout:
            line = raw.decode("utf-8", errors="replace").replace("\r", "").rstrip("\n")
            lines.append(line)
            print(line, flush=True)
        status = proc.wait()
    if status == vrwine.SKIPPED:
        print(f"journey {test_name}: skipped")
        return status
    with open(stderr_path, "rb") as f:
        trace = f.read().decode("utf-8", errors="replace")
    if trace_path:
        shutil.copy(stderr_path, trace_path)
    steps = [s[:-2] if s.endswith("\\n") else s for s in
             re.findall(r'VrUpdater: [^"\n]*|^--- second run', trace, re.M)]
    harness = [l for l in trace.splitlines()
               if re.search(r"e2e_holder|e2e_check|install-product|wine-test|^wine:", l)]
    print("\n".join(harness), file=sys.stderr)
    print("--- steps the updater traced\n" + "\n".join(steps))
    first = lines[:lines.index("--- second run")] if "--- second run" in lines else lines
    robot_events = [r for r in records(first) if "event" in r]
    faults = judge(j, work, robot_events, steps, kill_report)
    for fault in faults:
        print("journey: " + fault)
    if kill_report:
        print("kill: " + kill_report[-1])
    status = status or (1 if faults else 0)
    if os.environ.get("VR_ARTIFACTS"):
        vrwine.save_shots(os.path.join(work, "shots"),
                          os.path.join(os.environ["VR_ARTIFACTS"], test_name))
    seconds = int(time.time() - began)
    if result_path:
        def read(name):
            path = os.path.join(work, name)
            return records(open(path, encoding="utf-8")) if os.path.exists(path) else []
        split = steps.index("--- second run") if "--- second run" in steps else len(steps)
        with open(result_path, "w", encoding="utf-8") as f:
            json.dump({"status": status, "seconds": seconds, "faults": faults,
                       "kill": kill_report[-1] if kill_report else None,
                       "robot": robot_events, "robot_again": read("robot-again.jsonl"),
                       "checks_after": read("checks-after.jsonl"),
                       "checks_again": read("checks-again.jsonl"),
                       "steps": steps[:split], "steps_again": steps[split + 1:]}, f)
    print(f"journey {test_name}: exit {status} after {seconds} s")
    return status


# ---------------------------------------------------------------------------


def main(argv):
    if len(argv) == 3 and argv[1] == "list":
        for j in JOURNEYS:
            if j.get("register", True) and not (j.get("arch") == "win32" and argv[2] == "x64"):
                print(f"{j['name']}|{j.get('timeout', 180)}|{';'.join(j.get('labels', []))}")
        # Every declared name the driver and the campaign use must exist: the
        # campaign's points are made when it is imported, the fields looked
        # up here.
        import killcampaign
        for path in (__file__, killcampaign.__file__):
            with open(path, encoding="utf-8") as f:
                for name in re.findall(r"\bF\.(k\w+)", f.read()):
                    getattr(F, name)
        return 0
    if len(argv) == 4 and argv[1] == "phase":
        with open(os.path.join(argv[3], "journey.json"), encoding="utf-8") as f:
            j = json.load(f)
        return (phase_setup if argv[2] == "setup" else phase_then)(j, argv[3])
    if len(argv) >= 3 and argv[1] == "run":
        opts = dict(zip(argv[3::2], argv[4::2]))
        j = journey_named(argv[2])
        name = opts.get("--test-name", j["name"])
        why = vrwine.why_flavour_cannot_run(os.environ.get("VR_FLAVOUR", "x64"))
        if why:  # its programs may be left unbuilt: nothing is prepared
            print(f"journey {name}: skipped: {why}")
            return vrwine.SKIPPED
        if j.get("campaign"):
            import killcampaign
            return killcampaign.main(["--part", j["campaign"], "--name", name])
        return run_journey(j, name, opts.get("--result"), opts.get("--trace"))
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.path.insert(0, HERE)
    sys.exit(main(sys.argv))
