#!/usr/bin/env python3
"""SHA-256 benchmark: mosswarden's Sha256FileHex (bench/sha_bench.exe under Wine) beside sha256sum.

Both digest the same 256 MiB file, read from the page cache (it is read once before timing); each
figure is the best of --repeats runs. sha256sum's time includes its process start, which is about 1 ms.

Usage: bench/sha.py [--build build/bench-net-win64] [--size-mib 256] [--repeats 5]
Needs the sha_bench target (configure with -DMW_BENCH=ON).
"""
import argparse
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MIB = 1048576


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "bench-net-win64"))
    ap.add_argument("--work", default=str(ROOT / "build" / "bench-net"))
    ap.add_argument("--size-mib", type=int, default=256)
    ap.add_argument("--repeats", type=int, default=5)
    args = ap.parse_args()

    bench = Path(args.build).resolve() / "bench" / "sha_bench.exe"
    if not bench.exists():
        sys.exit("bench: %s is missing; configure with -DMW_BENCH=ON and build sha_bench" % bench)
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    data = work / "sha.bin"
    size = args.size_mib * MIB
    if not data.exists() or data.stat().st_size != size:
        with open(data, "wb") as f:
            for _ in range(args.size_mib):
                f.write(os.urandom(MIB))
    with open(data, "rb") as f:
        while f.read(8 * MIB):
            pass

    best, expected = None, None
    for _ in range(args.repeats):
        start = time.monotonic()
        out = subprocess.run(["sha256sum", str(data)], check=True, capture_output=True, text=True).stdout
        secs = time.monotonic() - start
        expected = out.split()[0]
        best = secs if best is None else min(best, secs)
    coreutils = size / best / 1e6

    env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", str(ROOT / "build" / "wineprefix")))
    out = subprocess.run([str(ROOT / "scripts" / "wine-run"), str(bench), "Z:" + str(data).replace("/", "\\"),
                          str(args.repeats)], check=True, capture_output=True, text=True, env=env).stdout
    fields = {m.group(1): dict(kv.split("=", 1) for kv in m.group(2).split())
              for m in re.finditer(r"^(file|memory) (.*)$", out, re.M)}
    if fields["file"]["sha256"] != expected:
        sys.exit("bench: digests differ: mosswarden %s, sha256sum %s" % (fields["file"]["sha256"], expected))
    ours_file, ours_mem = float(fields["file"]["mbps"]), float(fields["memory"]["mbps"])

    print("file %d MiB, best of %d, MB = 10^6 bytes" % (args.size_mib, args.repeats))
    print("| what | MB/s | ratio to sha256sum |")
    print("|---|---|---|")
    print("| sha256sum (coreutils) | %.1f | 1.000 |" % coreutils)
    print("| mosswarden Sha256FileHex, file | %.1f | %.3f |" % (ours_file, ours_file / coreutils))
    print("| mosswarden Sha256::Update, memory | %.1f | %.3f |" % (ours_mem, ours_mem / coreutils))
    print("target: file ratio at least 0.9: %s" % ("met" if ours_file / coreutils >= 0.9 else "MISSED"))


if __name__ == "__main__":
    main()
