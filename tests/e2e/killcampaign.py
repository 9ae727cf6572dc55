#!/usr/bin/env python3
"""Kill campaign: interrupts the real updater at many points of a full update
and checks that nothing was lost and that the next run completes the update.

    killcampaign.py [--name NAME] [--points N] [--part I/K] [--jobs J]
                    [--build DIR] [--records FILE] [--list]

Each point is one journey (tests/e2e/journeys.py) in a prefix of its own:
10.2.9.0 installed as for the full-update journey (64-bit Windows 7, the
launcher running, a resume entry), the robot presses Start, and the run ends
at the point. Two kinds of point:
  at:NAME[#N]     the killable updater (bin/killable, win32/KillPoint.h) ends
                  itself at the N-th point whose name begins with NAME: a
                  traced step (win32/TraceSteps.h) or a named window of the code
                  (VR_KILL_POINT). The same place in every run.
  sigkill:STEP+MS the shipped updater's Wine process gets SIGKILL MS
                  milliseconds after it traced STEP. Where that lands varies
                  by tens of milliseconds.
Either way the process ends without any clean-up, as in a crash; the machine
goes on (the page cache and the registry keep what was written), so this is
no power cut: that what must be on the disc is flushed is shown by the unit
tests.

After the kill e2e_check's facts record the state (tests/e2e/CheckRecord.h).
Then the shipped updater runs again and every question it asks is answered
No: it is judged by what a user would see. After it the update must be
complete (every file new, key file, Uninstall entry, service present) with no
temporary, no record and no mark left. Every point's record (one JSON object
a line) holds the kill, both runs' boxes, both facts and the files the second
run found in use; the verdict is drawn from the record alone.

--points N   the first N points (default 10: the short set the test suite
             runs, in two halves); beyond the list's 65, further install-pass
             windows and time offsets; points at the last file take the
             count of files from the list (e2e_check count)
--part I/K   only every K-th point from the I-th (1-based)
--jobs J     points run at the same time (default 1), each in its prefix
--build DIR  the build tree (default: build/ of this checkout); also taken
             from VR_BIN, VR_UPLIST, VR_PAYLOAD_SRC, VR_WINE_TEMPLATES
--records F  where the records go (default DIR/artifacts/kill-campaign-NAME.jsonl,
             or VR_ARTIFACTS/...)
--list       prints the chosen points and exits
One point n alone: --points n --part n/n.
Exits 0 when every point passed; the journeys' logs are kept when one failed.
"""
import concurrent.futures
import json
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import journeys  # noqa: E402
from journeys import F, S  # noqa: E402

# What a complete update of the campaign's product leaves.
KEY_FILE = "10,3,0,0:6748072"
UNINSTALL_NAME = "Vorrel Recorder 10.30 (Update)"
UNINSTALL_VERSION = "10.30.000"

def step_point(step):
    """A traced step as a point's name: its text up to what the journey
    gave (a point's name ends before a letter or digit would follow)."""
    return step.text.rstrip(" ,(:")


def code_point(name):
    """A named window of the code (VR_KILL_POINT), checked to exist."""
    if not any(n.startswith(name) for n in KILL_POINTS):
        raise SystemExit(f"killcampaign: no VR_KILL_POINT is named \"{name}\"")
    return name


def at(what, n=None):
    text = step_point(what) if isinstance(what, journeys.Step) else code_point(what)
    return f"at:{text}" + (f"#{n}" if n else "")


def sigkill(step, ms):
    return f"sigkill:{step_point(step)}+{ms}"


KILL_POINTS = journeys.kill_point_names()
RENAMED, STAMPED = "replace: renamed, record kept", "replace: stamped, not renamed"
TEMPORARY, REGISTERED = "temporary: recorded, not made", "registration: file done"
UNREGISTERED = "unregistration: file done"
REMOVAL, INSTALL = "service installer: started, removal", "service installer: started, install"
# In the order the points are taken; files is how many files the update
# replaces on the campaign's Windows (files_of_the_update), so that the
# points at the last file follow the manifest. An undisturbed run (seconds
# after Start): service removal 0.25 and 3.7, unregistration pass 6.5,
# install pass 6.9 to 18.0 (about 220 ms a file), registration pass 18.0,
# Uninstall entry and service installer 18.1, filter merits 19.2, restart
# question right after. "#N" of a window inside the install pass is the N-th
# file; of a temporary the N-th temporary (the two write probes, then two
# per file). The first ten are the suite's short set: every named window of
# the code that a full update on 64-bit Windows 7 reaches.
def points(files):
    return [
        at(RENAMED, 1),                                     # key file new, every other file old
        at(INSTALL),                                        # the closing sequence's installer
        at(STAMPED, 26),                                    # new copy whole, stamped, beside target
        at("uninstall values: name written, version not"),  # Uninstall entry half written
        at(REMOVAL, 1),                                     # the Start handler's removal under way
        at(RENAMED, files),                                 # every file new, install mark still set
        at(REGISTERED, 20),
        sigkill(S.kUpdateInstallPass, 3100),
        at(TEMPORARY, 24),                                  # the 11th file's expanded copy named
        at(UNREGISTERED, 20),
        # The long campaign goes on from here.
        at(S.kStart), at(S.kStartButtonsDisabled), at(S.kService("remove")),
        at(S.kServiceInstaller("started"), 1),
        at(TEMPORARY, 1),                                   # the Start handler's write probe
        at(S.kUpdateBegin),
        at(TEMPORARY, 2),                                   # the update procedure's write probe
        at(TEMPORARY, 3),                                   # the first file's extracted copy
        at(UNREGISTERED, 1), at(UNREGISTERED, 40),
        at(S.kUpdateRegistrationPass("unregistration")), at(S.kLauncher, 3),
        at(S.kUpdateInstallPass), at(TEMPORARY, 5), at(STAMPED, 1), at(STAMPED, 2), at(RENAMED, 2),
        at(S.kUpdateFilterMerits, 1),                       # the restart question about to show
        at(STAMPED, 13), at(RENAMED, 13), at(RENAMED, 26), at(TEMPORARY, 75), at(STAMPED, 40),
        at(RENAMED, 40), at(STAMPED, files), at(S.kUpdateReplaced(files)),
        at(S.kUpdateRegistrationPass("registration")), at(REGISTERED, 1), at(REGISTERED, files),
        at(S.kUninstallEntry("updated")), at(S.kService("install")),
        at(S.kServiceInstaller("started"), 3), at(S.kUpdateFilterMerits, 2),
        at(S.kRestartQuestion),
        sigkill(S.kStart, 0), sigkill(S.kService("remove"), 100), sigkill(S.kUpdateBegin, 2700),
        sigkill(S.kUpdateRegistrationPass("unregistration"), 0),
        sigkill(S.kUpdateInstallPass, 1550), sigkill(S.kUpdateInstallPass, 6230),
        sigkill(S.kUpdateInstallPass, 9870),
        sigkill(S.kUpdateRegistrationPass("registration"), 30),
        sigkill(S.kUninstallEntry("updated"), 10), sigkill(S.kUpdateFilterMerits, 60),
        at(STAMPED, 7), at(RENAMED, 7), at(STAMPED, 19), at(RENAMED, 19), at(STAMPED, 33),
        at(RENAMED, 33), at(STAMPED, 45), at(RENAMED, 45), at(REGISTERED, 35),
        at(REMOVAL, 2),                                     # the update procedure's removal
        at(TEMPORARY, 100),
    ]


points(1)  # every name a point uses is checked when the campaign is imported


def chosen_points(count, files):
    chosen = points(files)[:count]
    # Beyond the list: the two replacement windows at further files, and
    # SIGKILLs over the install pass at offsets off the files' 220 ms rhythm.
    for i in range(count - len(chosen)):
        chosen.append([at(STAMPED, 3 + (i * 7) % (files - 2)),
                       at(RENAMED, 4 + (i * 11) % (files - 4)),
                       sigkill(S.kUpdateInstallPass, 90 + (i * 739) % 10900)][i % 3])
    return chosen


def files_of_the_update():
    """The files of the generated list that apply on the campaign's Windows,
    as e2e_check counts them through the expected layout; None where Wine
    cannot run it here."""
    out = journeys.vrwine.run_in_prefix(
        [os.path.join(os.environ["VR_BIN"], "e2e_check.exe"), "list=" + os.environ["VR_UPLIST"],
         "count"], winver="win7", display=False, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = (line.decode("utf-8", "replace") for line in out.stdout)
    found = [int(r[F.kFiles]) for r in journeys.records(lines)
             if r.get(F.kCheck) == "count" and F.kFiles in r]
    if out.wait() == journeys.vrwine.SKIPPED:
        return None
    return found[0] if found else sys.exit("killcampaign: e2e_check did not count the files")


def journey_of(name, point):
    """Installed and driven as the full-update journey; the second run
    answers No to every question and closes an idle window, as a user would."""
    j = dict(name=name, winver="win7", install="10.2.9.0 --launcher --run-value",
             robot=journeys.robot("start", answer={"IDS_RESTART_QUESTION": "No"}, timeout=150,
                                  check=False),
             check="facts", again_check="facts",
             again=journeys.robot("start", answer={"IDS_REUPDATE_QUESTION": "No",
                                                   "IDS_RESTART_QUESTION": "No"},
                                  idle=1500, timeout=150, check=False))
    kind, text = point.split(":", 1)
    if kind == "at":
        j["kill_at"] = text
    else:
        step, ms = text.rsplit("+", 1)
        j["kill"] = [step, int(ms)]
    return j


def facts_of(checks):
    return next((r[F.kFacts] for r in checks if r.get(F.kCheck) == F.kFacts
                 and F.kFacts in r), None)


def in_use(steps):
    """The files a run found in use, from its traced steps."""
    texts = ["VrUpdater: " + S.kStartInUse.text, "VrUpdater: " + S.kUpdateInUse.text]
    return [s[len(t):].replace("\\\\", "\\") for s in steps for t in texts if s.startswith(t)]


def make_record(n, point, result):
    boxes = [e for e in result["robot_again"] if e.get("event") == "box"]
    ends = [e for e in result["robot_again"] if e.get("event") == "exit"]
    second = {"boxes": [b["id"] for b in boxes],
              "answers": [f"{b['id']}={b['answer']}" for b in boxes],
              "exit": ends[0]["code"] if ends else None,
              "timeout": any(e.get("event") == "timeout" for e in result["robot_again"]),
              "in_use": in_use(result["steps_again"])}
    kill = result["kill"] or "no kill line"
    record = {"n": n, "point": point, "how": "sigkill" if point.startswith("sigkill:")
              else "kill point", "reached": kill.startswith(("reached", "killed")), "kill": kill,
              "after_kill": facts_of(result["checks_after"]), "second_run": second,
              "asked_102": journeys.message_id("IDS_REUPDATE_QUESTION") in second["boxes"],
              "after_second_run": facts_of(result["checks_again"]),
              "seconds": result["seconds"]}
    record["faults"] = faults_of(record)
    record["verdict"] = "FAIL" if record["faults"] else "ok"
    return record


def faults_of(record):
    """Why a point failed; empty when it passed."""
    faults = [] if record["reached"] else ["point not reached"]
    after = record["after_kill"]
    if after is None:
        faults.append("no facts after the kill")
    else:
        if after[F.kPartial] or after[F.kMissing]:
            faults.append(f"files lost: {after[F.kPartial]} partial, {after[F.kMissing]} missing")
        if after[F.kUnstamped]:
            faults.append(f"{after[F.kUnstamped]} new files without the list's time")
    second = record["second_run"]
    faults += [f"second run found {path} in use" for path in second["in_use"]]
    if second["timeout"] or second["exit"] is None:
        faults.append("second run did not end by itself")
    final = record["after_second_run"]
    if final is None:
        return faults + ["no facts after the second run"]
    uninstall = (final[F.kUninstallName], final[F.kUninstallVersion])
    return faults + [fault for failed, fault in [
        (final[F.kUpdated] != final[F.kFiles] or final[F.kFiles] == 0,
         f"{final[F.kUpdated]} of {final[F.kFiles]} files new"),
        (final[F.kKeyFile] != KEY_FILE, f"key file {final[F.kKeyFile] or 'unreadable'}"),
        (uninstall != (UNINSTALL_NAME, UNINSTALL_VERSION), 'Uninstall entry "%s" %s' % uninstall),
        (final[F.kService] != "present", f"service {final[F.kService]}"),
        (final[F.kTemporaries], f"{len(final[F.kTemporaries])} temporaries left"),
        (final[F.kRecords], f"{len(final[F.kRecords])} records left"),
        (final[F.kMarks], f"marks left: {', '.join(final[F.kMarks])}"),
    ] if failed]


def line_of(r):
    a, s = r["after_kill"], r["after_second_run"]
    after = ("no facts" if a is None else
             f"{a[F.kOld]} old, {a[F.kNew]} new, {a[F.kPartial]} partial, "
             f"{a[F.kMissing]} missing, {len(a[F.kTemporaries])} temporaries, "
             f"{len(a[F.kRecords])} records, service {a[F.kService]}")
    final = ("no facts" if s is None else
             f"{s[F.kUpdated]}/{s[F.kFiles]} new, {len(s[F.kTemporaries])} temporaries, "
             f"{len(s[F.kRecords])} records, {len(s[F.kMarks])} marks, service {s[F.kService]}")
    verdict = r["verdict"] + ("" if not r["faults"] else ": " + "; ".join(r["faults"]))
    return (f"{r['n']:>3} {r['point']} | {'reached' if r['reached'] else 'NOT REACHED'} | "
            f"after kill: {after} | second run boxes: "
            f"{','.join(r['second_run']['answers']) or 'none'} | after: {final} | {verdict} "
            f"({r['seconds']} s)")


def summary(records):
    for r in records:
        print(line_of(r))
    final = [r["after_second_run"] for r in records if r["after_second_run"]]
    lost = sum(a[F.kPartial] + a[F.kMissing] for a in (r["after_kill"] for r in records) if a)
    failed = sum(1 for r in records if r["verdict"] != "ok")
    print(f"{len(records)} points: {sum(1 for r in records if r['reached'])} reached, {lost} "
          f"files lost (partial or missing), "
          f"{sum(1 for s in final if s[F.kTemporaries])} with temporaries left, "
          f"{sum(1 for s in final if s[F.kRecords] or s[F.kMarks])} with records or marks left, "
          f"{sum(1 for s in final if s[F.kService] != 'present')} without the service, "
          f"{sum(1 for r in records if r['second_run']['in_use'])} found a file in use, "
          f"{sum(1 for r in records if r['asked_102'])} asked 102, {failed} failed")
    return 0 if records and failed == 0 else 1


def main(argv):
    opts = {"--name": "kill", "--points": "10", "--part": "1/1", "--jobs": "1",
            "--build": os.path.join(journeys.ROOT, "build"), "--records": None}
    if "--help" in argv:
        print(__doc__)
        return 0
    if "--list" in argv:
        argv = [a for a in argv if a != "--list"]
        opts["--list"] = True
    for key, value in zip(argv[0::2], argv[1::2]):
        if key not in opts:
            raise SystemExit(f"killcampaign: unknown option {key}")
        opts[key] = value
    build = os.path.abspath(opts["--build"])
    os.environ.setdefault("VR_BIN", os.path.join(build, "bin"))
    os.environ.setdefault("VR_UPLIST", os.path.join(build, "payload/VrUpdater1030/UPLIST.INI"))
    os.environ.setdefault("VR_PAYLOAD_SRC", os.path.join(build, "payload/VrUpdater1030/src"))
    os.environ.setdefault("VR_WINE_TEMPLATES", os.path.join(journeys.ROOT, "build-templates"))
    name = opts["--name"]
    records_path = opts["--records"] or os.path.join(
        os.environ.get("VR_ARTIFACTS") or os.path.join(build, "artifacts"),
        f"kill-campaign-{name}.jsonl")
    first, every = (int(x) for x in opts["--part"].split("/"))
    killable = os.path.join(os.environ["VR_BIN"], "killable", "VrUpdater1030.exe")
    checker = os.path.join(os.environ["VR_BIN"], "e2e_check.exe")
    for needed in (os.environ["VR_UPLIST"], os.environ["VR_PAYLOAD_SRC"], killable, checker):
        if not os.path.exists(needed):
            raise SystemExit(f"killcampaign: {needed} missing; build first")
    files = files_of_the_update()
    if files is None:
        print(f"kill campaign {name}: skipped (Wine cannot run the checker here)")
        return journeys.vrwine.SKIPPED
    chosen = chosen_points(int(opts["--points"]), files)
    mine = [(i + 1, chosen[i]) for i in range(first - 1, len(chosen), every)]
    if opts.get("--list"):
        print("\n".join(f"{n}={p}" for n, p in mine))
        return 0
    logs = tempfile.mkdtemp(prefix=f"vrkill-{name}.")
    began = time.time()
    print(f"kill campaign {name}: {len(mine)} points, {opts['--jobs']} at a time", flush=True)

    def run_point(n, point):
        journey_file, result = os.path.join(logs, f"{n}.journey.json"), os.path.join(logs, f"{n}.json")
        with open(journey_file, "w", encoding="utf-8") as f:
            json.dump(journey_of(f"{name}-{n}", point), f)
        with open(os.path.join(logs, f"{n}.log"), "w") as log:
            status = subprocess.run([sys.executable, journeys.__file__, "run", journey_file,
                                     "--result", result], stdout=log, stderr=subprocess.STDOUT,
                                    env=dict(os.environ, VR_ARTIFACTS="")).returncode
        if status == journeys.vrwine.SKIPPED:
            return None
        with open(result, encoding="utf-8") as f:
            return make_record(n, point, json.load(f))

    with concurrent.futures.ThreadPoolExecutor(int(opts["--jobs"])) as pool:
        records = list(pool.map(lambda p: run_point(*p), mine))
    if all(r is None for r in records):
        with open(os.path.join(logs, f"{mine[0][0]}.log")) as f:
            print("".join(f.readlines()[:3]), end="")
        print(f"kill campaign {name}: skipped")
        subprocess.run(["rm", "-rf", logs])
        return journeys.vrwine.SKIPPED
    records = [r for r in records if r]
    os.makedirs(os.path.dirname(os.path.abspath(records_path)), exist_ok=True)
    with open(records_path, "w", encoding="utf-8") as f:
        for r in records:
            f.write(json.dumps(r, ensure_ascii=False) + "\n")
    status = summary(records)
    if status == 0:
        subprocess.run(["rm", "-rf", logs])
    print(f"kill campaign {name}: {int(time.time() - began)} s; records in {records_path}; "
          f"{'logs removed' if status == 0 else 'logs in ' + logs}")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
