#!/usr/bin/env python3
"""Watches the temporary folder of a Wine prefix's user while the updater runs.

    watch-temp.py start LOG   (in the prefix's environment: WINEPREFIX, VR_WINE_TOOLS)
    watch-temp.py stop LOG
    watch-temp.py check LOG

start asks Wine for %TEMP%, sets an inotify watch on that folder from a
detached process and returns once the watch is in place. Every name created
in the folder or moved into it (file, folder or link) is written to LOG as it
happens, so a file that lives for a millisecond is seen too. stop ends the
watch after reading every event the kernel has queued; check prints what was
created and fails when anything was, or when the watch did not run from
start to stop. Folders already in the temporary folder are watched too.
"""
import ctypes
import os
import select
import signal
import struct
import subprocess
import sys
import time

IN_CREATE = 0x100
IN_MOVED_TO = 0x80
IN_Q_OVERFLOW = 0x4000
IN_ISDIR = 0x40000000
EVENT = struct.Struct("iIII")


def temp_folder():
    tools = os.environ["VR_WINE_TOOLS"]
    windows = subprocess.run([tools, "cmd", "/c", "echo", "%TEMP%"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                             text=True).stdout.strip()
    unix = subprocess.run([tools, "winepath", "-u", windows], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                          text=True).stdout.strip()
    if not windows or not os.path.isdir(unix):
        raise SystemExit(f"watch-temp: no temporary folder ({windows!r} -> {unix!r})")
    return windows, unix


def events(data):
    offset = 0
    while offset + EVENT.size <= len(data):
        wd, mask, _, length = EVENT.unpack_from(data, offset)
        raw = data[offset + EVENT.size:offset + EVENT.size + length]
        offset += EVENT.size + length
        yield wd, mask, raw.split(b"\0", 1)[0].decode("utf-8", "replace")


def watch(folder, windows, log):
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    fd = libc.inotify_init1(0)
    # The folder and every folder already in it, by watch descriptor.
    watched = {}
    for base, _, _ in os.walk(folder) if fd >= 0 else ():
        wd = libc.inotify_add_watch(fd, base.encode(), IN_CREATE | IN_MOVED_TO)
        if wd < 0:
            break
        watched[wd] = os.path.relpath(base, folder)
    if fd < 0 or not watched or len(watched) != sum(1 for _ in os.walk(folder)):
        log.write(f"failed inotify: errno {ctypes.get_errno()}\n")
        return 1
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    log.write(f"watching {windows} ({folder})\n")
    log.flush()
    deadline = time.monotonic() + 3600  # a journey left behind ends its watch
    while time.monotonic() < deadline:
        # After the stop, whatever the kernel queued before it is read too.
        last = bool(stopping)
        ready, _, _ = select.select([fd], [], [], 0 if last else 0.1)
        if ready:
            for wd, mask, name in events(os.read(fd, 65536)):
                if mask & IN_Q_OVERFLOW:
                    log.write("overflow: events were lost\n")
                else:
                    kind = "folder" if mask & IN_ISDIR else "file"
                    how = "moved in" if mask & IN_MOVED_TO else "created"
                    where = os.path.normpath(os.path.join(watched.get(wd, "?"), name))
                    log.write(f"{how} {kind} {where}\n")
            log.flush()
        elif last:
            break
    log.write("stopped\n")
    log.flush()
    return 0


def start(path):
    windows, folder = temp_folder()
    pid = os.fork()
    if pid == 0:
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for f in (0, 1, 2):
            os.dup2(devnull, f)
        with open(path, "w") as log:
            os._exit(watch(folder, windows, log))
    with open(path + ".pid", "w") as f:
        f.write(f"{pid}\n")
    for _ in range(200):
        time.sleep(0.05)
        text = open(path).read() if os.path.exists(path) else ""
        if text.startswith("watching"):
            return 0
        if text.startswith("failed"):
            break
    print(f"watch-temp: the watch of {folder} did not start", file=sys.stderr)
    return 1


def stop(path):
    try:
        os.kill(int(open(path + ".pid").read()), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for _ in range(200):
        if os.path.exists(path) and open(path).read().endswith("stopped\n"):
            os.remove(path + ".pid")  # ended: nothing left to stop
            return 0
        time.sleep(0.05)
    print("watch-temp: the watch did not stop", file=sys.stderr)
    return 1


def check(path):
    lines = open(path).read().splitlines() if os.path.exists(path) else []
    if not lines or not lines[0].startswith("watching") or lines[-1] != "stopped":
        print("journey: the temporary folder was not watched from start to end")
        return 1
    print(f"temporary folder: {lines[0][len('watching '):]}")
    made = lines[1:-1]
    for line in made:
        print(f"journey: in the temporary folder during the run: {line}")
    return 1 if made else 0


if __name__ == "__main__":
    command, log_path = sys.argv[1], os.path.abspath(sys.argv[2])
    sys.exit({"start": start, "stop": stop, "check": check}[command](log_path))
