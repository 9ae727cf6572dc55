#!/usr/bin/env python3
"""Measures the SZDD packer against Debian's mscompress on the same files.

    bench-packer.py --szddpack PATH [--corpus default|DIR|none]
                    [--payload-dir DIR] [--repeat N] [--json]

Each set of files (the corpus, then the payload folder as a second row) is
packed file by file, one process per file, by szddpack and by mscompress into
a temporary folder. The wall-clock time of each tool is summed over the set,
and so is the processor time of its processes (user + system), which other
load on the machine disturbs less; with --repeat N every set is packed N
times and the fastest pass of each tool counts. Every output of szddpack must expand byte for byte to its input
through msexpand and through `szddpack -d`; a failed pack or round trip makes
the exit status 1. mscompress's own output is measured, not checked (it is
wrong for inputs under 16 bytes).

The default corpus: seven of Wine's x86-64 libraries and every file of
/usr/share/common-licenses (links followed). Rows go to standard output as a
table, or with --json as one JSON line: {"sets": [{"set", "files",
"input_bytes", "mscompress_bytes", "mscompress_seconds", "mscompress_cpu_seconds",
"ours_bytes", "ours_seconds", "ours_cpu_seconds", "size_ratio_percent",
"speed_ratio", "cpu_speed_ratio"}], "round_trips_ok"}.
"""
import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

WINE_LIBS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
DEFAULT_CORPUS = [
    os.path.join(WINE_LIBS, name + ".dll")
    for name in ("shell32", "user32", "kernelbase", "comctl32", "mshtml", "wined3d", "ole32")
] + ["/usr/share/common-licenses"]


def files_of(paths):
    """The files named, and the files directly inside the folders named (sorted)."""
    out = []
    for path in paths:
        if os.path.isdir(path):
            out += [
                os.path.join(path, name)
                for name in sorted(os.listdir(path))
                if os.path.isfile(os.path.join(path, name))
            ]
        elif os.path.isfile(path):
            out.append(path)
        else:
            sys.exit(f"bench-packer: {path} is neither a file nor a folder")
    return out


def run(argv, **kwargs):
    return subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)


class Stopwatch:
    """Wall-clock and child processor seconds of a with-block."""

    def __enter__(self):
        self.start = time.perf_counter()
        self.cpu_start = self.cpu()
        return self

    def __exit__(self, *exc):
        self.wall = time.perf_counter() - self.start
        self.processor = self.cpu() - self.cpu_start

    @staticmethod
    def cpu():
        usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        return usage.ru_utime + usage.ru_stime


def same_content(path, data):
    with open(path, "rb") as f:
        return f.read() == data


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.failures = []

    def fail(self, what):
        self.failures.append(what)
        print(f"bench-packer: {what}", file=sys.stderr)

    def pack_ours(self, files, outdir):
        with Stopwatch() as watch:
            for i, src in enumerate(files):
                r = run([self.args.szddpack, src, os.path.join(outdir, f"{i:04d}")])
                if r.returncode != 0:
                    why = r.stderr.decode(errors="replace").strip()
                    self.fail(f"szddpack failed on {src}: {why}")
        return watch

    def pack_mscompress(self, files, outdir):
        # mscompress writes NAME_ beside NAME: it packs links made in outdir.
        names = []
        for i, src in enumerate(files):
            name = os.path.join(outdir, f"{i:04d}")
            os.symlink(os.path.abspath(src), name)
            names.append(name)
        with Stopwatch() as watch:
            for name in names:
                r = run([self.args.mscompress, name])
                if r.returncode != 0 or not os.path.exists(name + "_"):
                    self.fail(f"mscompress failed on {os.path.realpath(name)}")
        return watch

    def check_ours(self, files, outdir):
        back = os.path.join(self.work, "back")
        for i, src in enumerate(files):
            packed = os.path.join(outdir, f"{i:04d}")
            if not os.path.exists(packed):
                continue  # already reported
            with open(src, "rb") as f:
                data = f.read()
            with open(packed, "rb") as f:
                r = subprocess.run([self.args.msexpand], stdin=f, capture_output=True)
            if r.returncode != 0 or r.stdout != data:
                self.fail(f"msexpand does not give back {src}")
            r = run([self.args.szddpack, "-d", packed, back])
            if r.returncode != 0 or not same_content(back, data):
                self.fail(f"szddpack -d does not give back {src}")

    def measure(self, label, files):
        for src in files:  # into the page cache, so that neither tool pays for it
            with open(src, "rb") as f:
                while f.read(1 << 20):
                    pass
        ours_dir = os.path.join(self.work, "ours")
        ms_dir = os.path.join(self.work, "mscompress")
        ours_wall = ours_cpu = ms_wall = ms_cpu = float("inf")
        for _ in range(self.args.repeat):
            for d in (ours_dir, ms_dir):
                shutil.rmtree(d, ignore_errors=True)
                os.mkdir(d)
            watch = self.pack_ours(files, ours_dir)
            ours_wall = min(ours_wall, watch.wall)
            ours_cpu = min(ours_cpu, watch.processor)
            watch = self.pack_mscompress(files, ms_dir)
            ms_wall = min(ms_wall, watch.wall)
            ms_cpu = min(ms_cpu, watch.processor)
        self.check_ours(files, ours_dir)

        def size(path):
            return os.path.getsize(path) if os.path.exists(path) else 0

        ours = sum(size(os.path.join(ours_dir, f"{i:04d}")) for i in range(len(files)))
        ms = sum(size(os.path.join(ms_dir, f"{i:04d}_")) for i in range(len(files)))
        return {
            "set": label,
            "files": len(files),
            "input_bytes": sum(os.path.getsize(f) for f in files),
            "mscompress_bytes": ms,
            "mscompress_seconds": round(ms_wall, 3),
            "mscompress_cpu_seconds": round(ms_cpu, 3),
            "ours_bytes": ours,
            "ours_seconds": round(ours_wall, 3),
            "ours_cpu_seconds": round(ours_cpu, 3),
            "size_ratio_percent": round(100.0 * ours / ms, 2) if ms else None,
            "speed_ratio": round(ms_wall / ours_wall, 1) if ours_wall else None,
            "cpu_speed_ratio": round(ms_cpu / ours_cpu, 1) if ours_cpu else None,
        }


def print_table(rows):
    head = ("set", "files", "input B", "mscompress B", "s", "cpu s", "ours B", "s", "cpu s",
            "size %", "speed x", "cpu x")

    def fmt(value, pattern):
        return "-" if value is None else format(value, pattern)

    lines = [head] + [
        (
            r["set"],
            str(r["files"]),
            str(r["input_bytes"]),
            str(r["mscompress_bytes"]),
            fmt(r["mscompress_seconds"], ".2f"),
            fmt(r["mscompress_cpu_seconds"], ".2f"),
            str(r["ours_bytes"]),
            fmt(r["ours_seconds"], ".2f"),
            fmt(r["ours_cpu_seconds"], ".2f"),
            fmt(r["size_ratio_percent"], ".2f"),
            fmt(r["speed_ratio"], ".1f"),
            fmt(r["cpu_speed_ratio"], ".1f"),
        )
        for r in rows
    ]
    widths = [max(len(line[c]) for line in lines) for c in range(len(head))]
    for line in lines:
        print("  ".join(cell.rjust(w) if c else cell.ljust(w)
                        for c, (cell, w) in enumerate(zip(line, widths))))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--szddpack", required=True, help="the packer to measure")
    p.add_argument("--corpus", default="default",
                   help="'default', a folder of files, or 'none' (default: %(default)s)")
    p.add_argument("--payload-dir", help="staged payload files, measured as a second row "
                   "(e.g. build-full/payload/VrUpdater1030/src)")
    p.add_argument("--repeat", type=int, default=1, help="passes per set; the fastest counts")
    p.add_argument("--mscompress", default=shutil.which("mscompress") or "mscompress")
    p.add_argument("--msexpand", default=shutil.which("msexpand") or "msexpand")
    p.add_argument("--json", action="store_true", help="one JSON line instead of the table")
    args = p.parse_args()
    if args.repeat < 1:
        p.error("--repeat must be 1 or more")
    args.szddpack = os.path.abspath(args.szddpack)

    sets = []
    if args.corpus == "default":
        sets.append(("corpus", files_of(DEFAULT_CORPUS)))
    elif args.corpus != "none":
        sets.append((os.path.basename(os.path.normpath(args.corpus)), files_of([args.corpus])))
    if args.payload_dir:
        sets.append(("payload", files_of([args.payload_dir])))
    if not sets:
        p.error("nothing to measure (--corpus none and no --payload-dir)")

    with tempfile.TemporaryDirectory(prefix="bench-packer-") as work:
        bench = Bench(args, work)
        rows = [bench.measure(label, files) for label, files in sets]
    if args.json:
        print(json.dumps({"sets": rows, "round_trips_ok": not bench.failures}))
    else:
        print_table(rows)
    return 1 if bench.failures else 0


if __name__ == "__main__":
    sys.exit(main())
