#!/usr/bin/env python3
"""Dead-tunnel detection: time from the tunnel losing its last connection to the supervisor's restart.

The connector stand-in reports 2 ready connections on /ready, then 0 from a moment it stamps; the
supervisor ("daemon" hosting) asks /ready every 5 s and restarts the connector once no answer was
ready for unready_restart_sec. Printed per round: the stamp-to-restart time against the bound
unready_restart_sec + 5 s. Needs only the win64 build (mosswarden.exe and the stand-in).

Usage: bench/unready_detection.py [--build build/win64] [--rounds 3] [--unready 30]
"""
import argparse
import hashlib
import os
import re
import shutil
import socket
import subprocess
import sys
import time
from datetime import datetime
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FILETIME_UNIX = 116444736000000000


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "win64"))
    ap.add_argument("--work", default=str(ROOT / "build" / "bench-unready"))
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--unready", type=int, default=30)
    args = ap.parse_args()
    build = Path(args.build).resolve()
    exe, fakecfd = build / "src" / "app" / "mosswarden.exe", build / "tests" / "support" / "fakecfd.exe"
    for needed in (exe, fakecfd):
        if not needed.exists():
            sys.exit("bench: %s is missing; build it first" % needed)
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    arch = "amd64" if "64" in build.name else "386"
    results = []
    for round_no in range(args.rounds):
        work = Path(args.work).resolve() / str(round_no)
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
        shutil.copy(exe, work / "mosswarden.exe")
        data = fakecfd.read_bytes()
        data += b"\0" * (1100 * 1024 - len(data))
        (work / "cloudflared.exe").write_bytes(data)
        stamp = work / "dead.txt"
        (work / "fakecfd.txt").write_text(
            "print=INF Registered tunnel connection connIndex=0\nready=2\nsleep=12000\nready=0\nstamp=%s\n"
            % winpath(stamp), encoding="utf-8")
        ini = ("[cloudflared]\r\nreuse=1\r\narch=%s\r\nsha256=%s\r\n[tunnel]\r\ntoken=x\r\n[supervisor]\r\n"
               "metrics=127.0.0.1:%d\r\nunready_restart_sec=%d\r\n" % (
                   arch, hashlib.sha256(data).hexdigest(), free_port(), args.unready))
        (work / "mosswarden.ini").write_bytes(ini.encode())
        daemon = subprocess.Popen([str(ROOT / "scripts" / "wine-run"), str(work / "mosswarden.exe"), "daemon"],
                                  cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        deadline = time.time() + args.unready + 60
        warn = None
        try:
            while time.time() < deadline and warn is None:
                time.sleep(0.5)
                for log in (work / "logs").glob("mosswarden-*.log"):
                    for line in log.read_text(encoding="utf-8", errors="replace").splitlines():
                        if "没有可用连接，重启 cloudflared" in line:
                            warn = line
        finally:
            daemon.kill()
            daemon.wait()
            subprocess.run(["pkill", "-f", str(work)], check=False)
        if warn is None or not stamp.exists():
            sys.exit("bench: round %d saw no restart" % round_no)
        dead = (int(stamp.read_text().split()[1]) - FILETIME_UNIX) / 1e7
        when = datetime.strptime(warn[:23], "%Y-%m-%d %H:%M:%S.%f").timestamp()
        results.append(when - dead)
        print("round %d: tunnel dead to restart %.1f s (bound %d s): %s" % (
            round_no, when - dead, args.unready + 5, warn[24:]))
    print("worst %.1f s against unready_restart_sec + 5 = %d s: %s" % (
        max(results), args.unready + 5, "met" if max(results) <= args.unready + 5 else "NOT met"))


if __name__ == "__main__":
    main()
