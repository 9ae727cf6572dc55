#!/usr/bin/env python3
"""Lengths of the functions of the updater's own sources.

    function_lengths.py [--limit N] [--top N] [ROOT]

Lists the longest functions of app/, updatelist/, engine/, system/ and win32/
(lines from the first line of the signature to the closing brace) and fails
when one is longer than the limit (80 lines). A function is a brace block
whose head ends in a parameter list, at namespace or class level; lambdas and
nested blocks count as part of the function around them. The sources are
clang-formatted, which this reading relies on.
"""
import argparse
import os
import re
import sys

FOLDERS = ("app", "updatelist", "engine", "system", "win32")
FUNCTION_HEAD = re.compile(
    r"\)\s*(const|override|final|noexcept|volatile|&|\s)*(->\s*[\w:<>,\s*&]+)?$"
    r"|\)\s*:\s*[\w:]+\(.*\)\s*$",
    re.S,
)
NAME = re.compile(r"([~\w:]+(?:<[^()]*>)?|operator\s*\S+)\s*\($")


def blank_out(text):
    """Comments, string and character literals become blanks; lines stay."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(path):
    """(name, first line, length) of every function defined in path."""
    text = blank_out(open(path, encoding="utf-8", errors="replace").read())
    text = re.sub(r"(?m)^[ \t]*#.*$", "", text)  # preprocessor lines
    found = []
    head_start = 0
    stack = []  # "scope", "function" or "other" per open brace
    for i, c in enumerate(text):
        if c in ";}":
            if c == "}":
                kind, start, name = stack.pop() if stack else ("scope", 0, "")
                if kind == "function":
                    first = text.count("\n", 0, start) + 1
                    last = text.count("\n", 0, i) + 1
                    found.append((name, first, last - first + 1))
            if not any(k != "scope" for k, _, _ in stack):
                head_start = i + 1
        elif c == "{":
            if any(k != "scope" for k, _, _ in stack):
                stack.append(("other", 0, ""))
                continue
            head = text[head_start:i]
            access = re.match(r"\s*(public|private|protected)\s*:(?!:)", head)
            if access:
                head_start += access.end()
                head = head[access.end():]
            head = head.strip()
            if FUNCTION_HEAD.search(head):
                kind = "function"
            elif re.search(r"\b(namespace|class|struct|union|enum|extern)\b", head):
                kind = "scope"
            else:
                kind = "other"
            name = ""
            if kind == "function":
                paren = head.find("(")
                match = NAME.search(head[: paren + 1]) if paren >= 0 else None
                name = match.group(1) if match else head[:40]
                start = head_start + len(text[head_start:i]) - len(text[head_start:i].lstrip())
            else:
                start = 0
            stack.append((kind, start, name))
            head_start = i + 1
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=80)
    parser.add_argument("--top", type=int, default=10)
    parser.add_argument("root", nargs="?",
                        default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    rows = []
    for folder in FOLDERS:
        for base, _, names in os.walk(os.path.join(args.root, folder)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(base, name)
                    rel = os.path.relpath(path, args.root)
                    rows += [(length, rel, line, fn) for fn, line, length in functions(path)]
    if not rows:
        print("function_lengths: no functions found under", args.root)
        return 1
    rows.sort(key=lambda r: (-r[0], r[1], r[2]))
    print(f"{len(rows)} functions; the longest:")
    for length, rel, line, fn in rows[: args.top]:
        print(f"{length:5d}  {rel}:{line}  {fn}")
    over = [r for r in rows if r[0] > args.limit]
    for length, rel, line, fn in over:
        print(f"function_lengths: {rel}:{line} {fn} has {length} lines (limit {args.limit})")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
