#!/usr/bin/env python3
"""Lengths of the functions of the updater, the testbed and the tests, as
pmccabe measures them (Debian's pmccabe, scripts/bootstrap.sh).

    function_lengths.py [--limit N] [--top N] [ROOT]

Lists the longest functions of app/, updatelist/, engine/, system/, win32/,
testbed/ and tests/ (lines from the first line of the function to its closing
brace; lambdas and nested blocks count as part of the function around them)
and fails when one is longer than the limit (80 lines), or when pmccabe says
it could not follow a file.

pmccabe 2.8 predates C++11 and reads some forms wrongly without a word: it
loses a member function marked override, final or noexcept, and an extern "C"
block hides its functions and swells the next one. It therefore reads a copy
of each source with those words and the compilers' attributes blanked out and
each extern "C" block made a namespace, on the same lines; -x makes it read
both branches of an #if. A sample of each such form, one line over the limit,
must be reported at that length, or the check is blind.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

FOLDERS = ("app", "updatelist", "engine", "system", "win32", "testbed", "tests", "tools")
UNREAD = re.compile(r"__attribute__\s*\(\((?:[^()]|\([^()]*\))*\)\)|__declspec\s*\(\w+\)"
                    r"|\b(?:override|final|noexcept)\b")
EXTERN_C = re.compile(r'\bextern\s+"C"\s*\{')
SAMPLE = """extern "C" {{
__declspec(dllexport) int __attribute__((format(printf, 1, 2))) Exported(const char*, ...) {{
{body}}}
}}
class Fixture : public Base {{
 protected:
  void SetUp() override {{
{body}  }}
  int Count() const noexcept {{
{body}  }}
}};
#if defined(__i386__)
int Flavour() {{ return 32; }}
#else
int Flavour() {{
{body}}}
#endif
"""
SAMPLE_OVER = ["Count", "Exported", "Flavour", "SetUp"]


def readable(text):
    """text in the forms pmccabe 2.8 reads, every line where it was."""
    text = UNREAD.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)
    return EXTERN_C.sub(lambda m: "namespace " + "\n" * m.group(0).count("\n") + "{", text)


def measure(root, paths):
    """[(length, path, line, name)] of the functions of paths (relative to
    root) and what pmccabe said about what it could not follow."""
    with tempfile.TemporaryDirectory(prefix="function-lengths-") as copy:
        for rel in paths:
            os.makedirs(os.path.join(copy, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
                text = readable(f.read())
            with open(os.path.join(copy, rel), "w", encoding="utf-8") as f:
                f.write(text)
        run = subprocess.run(["pmccabe", "-x", *paths], cwd=copy, capture_output=True,
                             text=True, check=False)
    rows = []
    for row in run.stdout.splitlines():
        fields = row.split("\t")
        path, line, name = re.fullmatch(r"(.*)\((\d+)\): (.*)", fields[5]).groups()
        rows.append((int(fields[4]), path, int(line), name))
    complaints = run.stderr.strip()
    if run.returncode:
        complaints += f"\npmccabe exited with {run.returncode}"
    return rows, complaints


def blind_spots(limit):
    """What the reading gets wrong on a sample of the forms pmccabe 2.8
    misreads; empty when it measures each of them right."""
    with tempfile.TemporaryDirectory(prefix="function-lengths-sample-") as folder:
        with open(os.path.join(folder, "sample.cpp"), "w", encoding="utf-8") as f:
            f.write(SAMPLE.format(body="    ++count;\n" * (limit - 1)))
        rows, complaints = measure(folder, ["sample.cpp"])
    over = sorted(name.rsplit("::", 1)[-1] for length, _, _, name in rows if length > limit)
    lengths = {length for length, _, _, _ in rows if length > limit}
    if complaints or over != SAMPLE_OVER or lengths != {limit + 1}:
        return f"over the limit {over} at {sorted(lengths)}, not {SAMPLE_OVER}; {complaints}"
    return ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=80)
    parser.add_argument("--top", type=int, default=10)
    parser.add_argument("root", nargs="?",
                        default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    blind = blind_spots(args.limit)
    if blind:
        print("function_lengths: pmccabe misreads the sample:", blind)
        return 1
    paths = sorted(os.path.relpath(os.path.join(base, name), args.root)
                   for folder in FOLDERS
                   for base, _, names in os.walk(os.path.join(args.root, folder))
                   for name in names if name.endswith((".c", ".cpp", ".h")))
    rows, complaints = measure(args.root, paths)
    if complaints or not rows:
        print("function_lengths: pmccabe could not follow the sources:", complaints or "no function")
        return 1
    rows.sort(key=lambda r: (-r[0], r[1], r[2]))
    print(f"{len(rows)} functions in {len(paths)} files; the longest:")
    for length, rel, line, fn in rows[: args.top]:
        print(f"{length:5d}  {rel}:{line}  {fn}")
    over = [r for r in rows if r[0] > args.limit]
    for length, rel, line, fn in over:
        print(f"function_lengths: {rel}:{line} {fn} has {length} lines (limit {args.limit})")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
