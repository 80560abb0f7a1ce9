#!/usr/bin/env python3
"""Reuse-path benchmark: wall time of `mosswarden.exe ensure` with a connector already in place.

A fresh folder holds the executable, the connector stand-in padded to --size-mib (the size of a real
release) and an INI naming its checksum, so every run takes the reuse path: header, checksum (once per
process), the "--version" run and the ready line, with no request. Prints the median, minimum and
maximum of --runs runs. Give --exe of another build to compare two versions on the same machine.

Usage: bench/ensure_reuse.py [--exe build/win64/src/app/mosswarden.exe] [--runs 20] [--size-mib 30]
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MIB = 1048576


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--exe", default=str(ROOT / "build" / "win64" / "src" / "app" / "mosswarden.exe"))
    ap.add_argument("--fakecfd", default=None, help="stand-in (default: beside the build of --exe)")
    ap.add_argument("--work", default=str(ROOT / "build" / "bench-reuse"))
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--size-mib", type=int, default=30)
    ap.add_argument("--arch", default="amd64")
    args = ap.parse_args()

    exe = Path(args.exe).resolve()
    fakecfd = Path(args.fakecfd).resolve() if args.fakecfd else exe.parents[2] / "tests" / "support" / "fakecfd.exe"
    for needed in (exe, fakecfd):
        if not needed.exists():
            sys.exit("bench: %s is missing; build it first" % needed)
    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    shutil.copy(exe, work / "mosswarden.exe")
    data = fakecfd.read_bytes()
    data += b"\0" * (args.size_mib * MIB - len(data))
    (work / "cloudflared.exe").write_bytes(data)
    (work / "fakecfd.txt").write_text("", encoding="utf-8")
    ini = "[cloudflared]\r\nreuse=1\r\narch=%s\r\nsha256=%s\r\nurl=http://127.0.0.1:9/none.exe\r\n" % (
        args.arch, hashlib.sha256(data).hexdigest())
    (work / "mosswarden.ini").write_bytes(ini.encode())

    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    wine_run = str(ROOT / "scripts" / "wine-run")
    subprocess.run([wine_run, str(work / "mosswarden.exe"), "ensure"], cwd=work, env=env, capture_output=True)
    times = []
    for _ in range(args.runs):
        start = time.monotonic()
        r = subprocess.run([wine_run, str(work / "mosswarden.exe"), "ensure"], cwd=work, env=env,
                           capture_output=True)
        times.append(time.monotonic() - start)
        if r.returncode != 0:
            sys.exit("bench: ensure failed (%d): %s" % (r.returncode, r.stdout.decode("utf-8", "replace")))
    print("ensure, reuse of a %d MiB connector: median %.3f s (min %.3f, max %.3f) over %d runs" % (
        args.size_mib, statistics.median(times), min(times), max(times), args.runs))


if __name__ == "__main__":
    main()
