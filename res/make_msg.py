#!/usr/bin/env python3
"""Turns the change history, kept in the source tree as UTF-8, into the
store entry the updater shows: Shift-JIS (code page 932) with CR LF line
ends. A character that code page 932 cannot hold stops the build."""
import sys


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    lines = text.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    data = ("\r\n".join(lines) + "\r\n").encode("cp932")
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
