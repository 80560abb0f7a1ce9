#!/usr/bin/env python3
"""Download benchmark: mosswarden.exe "download" (chunks 1, 4, 8) beside curl and aria2c, from a local nginx.

nginx serves one 32 MiB file on 127.0.0.1 with `limit_rate 2m` per connection, so the physical limit of
n connections is size / (n * 2 MiB/s). Every tool fetches the same file in every round; the median of the
rounds is reported, with the peak memory (VmHWM) of the process that did the work.

With --lossy it measures a lossy link instead: the fault server (tests/support) throttles every connection
to 1 MiB/s and cuts it (RST) after every 3 MiB of body; mosswarden chunks 4 and 8 run "download" again until
it succeeds (each run continues the segments of the last), beside aria2c -x8 -s8 -k1M, which resumes by
itself, and curl -C - in a retry loop. Reported: time to a verified file and body bytes sent in total.

Usage: bench/download.py [--build build/bench-net-win64] [--rounds 3] [--size-mib 32] [--no-flat-check] [--lossy]
Needs the win64 (or win32) build of mosswarden and fakecfd; installs nginx-light, curl and aria2 with apt
when they are missing and it runs as root.
"""
import argparse
import hashlib
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MIB = 1048576
RATE = 2 * MIB  # nginx "2m"
WINE_RUN = ROOT / "scripts" / "wine-run"
STAMP = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) ")


def need_tools():
    missing = [pkg for tool, pkg in (("nginx", "nginx-light"), ("curl", "curl"), ("aria2c", "aria2"))
               if shutil.which(tool) is None and not Path("/usr/sbin/" + tool).exists()]
    if not missing:
        return
    if os.geteuid() != 0:
        sys.exit("bench: missing %s (apt-get install %s)" % (", ".join(missing), " ".join(missing)))
    print("bench: installing " + " ".join(missing), flush=True)
    subprocess.run(["apt-get", "update", "-qq"], check=True)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing, check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def pe_machine_word(data):
    lfanew = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[lfanew + 4:lfanew + 6], "little")
    return {0x8664: "amd64", 0x014C: "386"}[machine]


class Nginx:
    """A private nginx on 127.0.0.1 serving `docroot`, stopped on exit."""

    def __init__(self, prefix, docroot):
        self.prefix = prefix
        self.port = free_port()
        for sub in ("logs", "tmp"):
            (prefix / sub).mkdir(parents=True, exist_ok=True)
        (prefix / "logs" / "access.log").unlink(missing_ok=True)
        user = "user root;\n" if os.geteuid() == 0 else ""
        conf = f"""{user}worker_processes 2;
daemon off;
pid {prefix}/nginx.pid;
error_log {prefix}/logs/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log off;
    log_format bench '$connection $msec $request_time $request_method $uri "$http_range" $status $body_bytes_sent';
    client_body_temp_path {prefix}/tmp/body;
    proxy_temp_path {prefix}/tmp/proxy;
    fastcgi_temp_path {prefix}/tmp/fastcgi;
    uwsgi_temp_path {prefix}/tmp/uwsgi;
    scgi_temp_path {prefix}/tmp/scgi;
    types {{ application/octet-stream exe bin; }}
    sendfile on;
    server {{
        listen 127.0.0.1:{self.port};
        root {docroot};
        access_log {prefix}/logs/access.log bench;
        limit_rate 2m;
    }}
}}
"""
        (prefix / "nginx.conf").write_text(conf)
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        self.proc = subprocess.Popen([nginx, "-p", str(prefix), "-c", str(prefix / "nginx.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                sys.exit("bench: nginx did not start: " + self.proc.stderr.read().decode(errors="replace"))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        sys.exit("bench: nginx does not listen")

    def url(self, name):
        return "http://127.0.0.1:%d/%s" % (self.port, name)

    def requests_since(self, mark):
        """Access-log lines written after byte offset `mark`, and the new offset."""
        log = self.prefix / "logs" / "access.log"
        if not log.exists():
            return [], mark
        with open(log, "rb") as f:
            f.seek(mark)
            data = f.read()
        return data.decode(errors="replace").splitlines(), mark + len(data)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def watch(cmd, find_pid, env=None, cwd=None, limit=600):
    """Runs cmd; returns (rc, seconds, peak VmHWM in KiB of the process find_pid() names, output)."""
    out = tempfile.TemporaryFile()
    watch.started = time.time()
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                            env=env, cwd=cwd)
    peak, pid = 0, None
    while proc.poll() is None:
        if time.monotonic() - start > limit:
            proc.kill()
            break
        if pid is None:
            pid = find_pid(proc.pid)
        if pid is not None:
            try:
                with open("/proc/%d/status" % pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
        time.sleep(0.02)
    rc = proc.wait()
    seconds = time.monotonic() - start
    out.seek(0)
    return rc, seconds, peak, out.read().decode("utf-8", errors="replace")


def pid_by_cmdline(needle):
    """Wine starts the Windows program as a separate process whose command line is the Windows one."""
    def find(_launcher):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    args = f.read().split(b"\0")
            except OSError:
                continue
            if args and needle in args[0] and not args[0].endswith(b"start.exe"):
                return int(entry)
        return None
    return find


def log_span(folder):
    """From the run's log: seconds from "开始下载" to the "完成" progress line (probe, transfer, join) and
    from there to "已落地" (size, machine and SHA-256 checks, replacement)."""
    logs = list((folder / "logs").glob("mosswarden-*.log"))
    if not logs:
        return None, None
    begin = done = landed = None
    for line in logs[0].read_text(encoding="utf-8", errors="replace").splitlines():
        m = STAMP.match(line)
        if not m:
            continue
        t = time.mktime(time.strptime(m.group(1)[:19], "%Y-%m-%d %H:%M:%S")) + int(m.group(1)[20:]) / 1000
        if "开始下载" in line and begin is None:
            begin = t
        elif "] 完成 " in line:
            done = t
        elif "已落地" in line:
            landed = t
    if begin is None or done is None or landed is None:
        return None, None
    return done - begin, landed - done


def align_to_second(offset=0.02):
    """nginx's limit_rate allows rate x (whole seconds elapsed + 1) bytes, on a one-second clock, so the
    time a throttled transfer takes depends on where in the second it starts; every run starts at the
    same point of the second so that no tool gains or loses by chance."""
    now = time.time()
    wait = (1 + offset - (now % 1)) % 1
    time.sleep(wait if wait > 0.005 else wait + 1)


def keep_wineserver(env):
    """A persistent wineserver spares every Wine process the server start; this one is left running.
    Wine's system processes, started by the first program of a fresh server, get /dev/null as stdio."""
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], **quiet)
    subprocess.run([str(WINE_RUN), "cmd", "/c", "exit", "0"], **quiet)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "bench-net-win64"))
    ap.add_argument("--work", default=str(ROOT / "build" / "bench-net"))
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--size-mib", type=int, default=32)
    ap.add_argument("--no-flat-check", action="store_true",
                    help="skip the chunks 8 run with a four times larger file")
    ap.add_argument("--lossy", action="store_true", help="the lossy-link case against the fault server")
    args = ap.parse_args()
    if args.lossy:
        return lossy(args)

    need_tools()
    exe, fake = built_programs(args)
    work = Path(args.work).resolve()
    shutil.rmtree(work / "runs", ignore_errors=True)
    docroot = work / "www"
    docroot.mkdir(parents=True, exist_ok=True)

    def payload(name, size):
        # The stand-in padded with incompressible bytes: a PE of the build's machine, as a release would be.
        head = fake.read_bytes()
        rnd = hashlib.sha256(name.encode()).digest()
        body = bytearray(head)
        block = bytearray()
        while len(block) < MIB:
            rnd = hashlib.sha256(rnd).digest()
            block += rnd * 64
        while len(body) < size:
            body += block[: size - len(body)]
        (docroot / name).write_bytes(body)
        return hashlib.sha256(body).hexdigest(), pe_machine_word(head)

    size = args.size_mib * MIB
    digest, machine = payload("cf.exe", size)
    env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", str(ROOT / "build" / "wineprefix")),
               LC_ALL="C.UTF-8")

    nginx = Nginx(work / "nginx", docroot)
    mark = 0
    results = {}
    failures = []
    counter = [0]

    def fresh_dir(label):
        counter[0] += 1
        d = work / "runs" / ("%02d-%s" % (counter[0], label))
        d.mkdir(parents=True)
        return d

    def run_mw(chunks, name="cf.exe", expect=digest, label=None):
        d = fresh_dir(label or "mw%d" % chunks)
        shutil.copy(exe, d / "mosswarden.exe")
        ini = ["[cloudflared]", "arch=" + machine, "url=" + nginx.url(name), "sha256=" + expect,
               "reuse=0", "chunks=%d" % chunks, "progress_interval=1"]
        (d / "mosswarden.ini").write_bytes(("\r\n".join(ini) + "\r\n").encode())
        (d / "fakecfd.txt").write_text("")
        needle = winpath(d / "mosswarden.exe").encode()
        rc, secs, peak, out = watch([str(WINE_RUN), winpath(d / "mosswarden.exe"), "download"],
                                    pid_by_cmdline(needle), env=env, cwd=d)
        ok = rc == 0 and (d / "cloudflared.exe").exists() and \
            hashlib.sha256((d / "cloudflared.exe").read_bytes()).hexdigest() == expect
        transfer, checks = log_span(d)
        return ok, secs, peak, out, {"transfer": transfer, "checks": checks}

    def run_native(label, cmd_for):
        d = fresh_dir(label)
        target = d / "cf.exe"
        rc, secs, peak, out = watch(cmd_for(target), lambda pid: pid, cwd=d)
        ok = rc == 0 and target.exists() and hashlib.sha256(target.read_bytes()).hexdigest() == digest
        return ok, secs, peak, out, {}

    tools = [
        ("curl", lambda: run_native("curl", lambda t: ["curl", "-sS", "-f", "-o", str(t), nginx.url("cf.exe")])),
        ("mosswarden chunks=1", lambda: run_mw(1)),
        ("mosswarden chunks=4", lambda: run_mw(4)),
        ("mosswarden chunks=8", lambda: run_mw(8)),
        ("aria2c -x8 -s8", lambda: run_native("aria2", lambda t: [
            "aria2c", "-q", "-x8", "-s8", "--allow-overwrite=true", "--file-allocation=none",
            "-d", str(t.parent), "-o", t.name, nginx.url("cf.exe")])),
        # aria2c splits nothing below 2 x --min-split-size (20 MiB by default): -k1M lets it use all 8.
        ("aria2c -x8 -s8 -k1M", lambda: run_native("aria2k", lambda t: [
            "aria2c", "-q", "-x8", "-s8", "-k1M", "--allow-overwrite=true", "--file-allocation=none",
            "-d", str(t.parent), "-o", t.name, nginx.url("cf.exe")])),
    ]

    try:
        # Wine's cost of starting and ending a process of ours, measured the same way, for reference.
        base = []
        keep_wineserver(env)
        for _ in range(3):
            d = fresh_dir("startup")
            shutil.copy(exe, d / "mosswarden.exe")
            rc, secs, _, _ = watch([str(WINE_RUN), winpath(d / "mosswarden.exe"), "version"],
                                   lambda pid: None, env=env, cwd=d)
            base.append(secs)
        startup = statistics.median(base)

        for r in range(args.rounds):
            for name, fn in tools:
                for attempt in range(3):
                    keep_wineserver(env)
                    align_to_second()
                    ok, secs, peak, out, extra = fn()
                    lines, mark = nginx.requests_since(mark)
                    if ok:
                        break
                    # Another user of the shared Wine prefix may restart its wineserver, which ends our
                    # process mid-run; such a run is shown, counted and run again, never silently dropped.
                    failures.append("%s, round %d: %s" % (name, r + 1, out.strip().splitlines()[-1:] or ["(no output)"]))
                    print("bench: %s failed in round %d (attempt %d):\n%s" % (name, r + 1, attempt + 1, out[-2000:]),
                          file=sys.stderr, flush=True)
                else:
                    sys.exit(1)
                # Connections that carried the body; the 1-byte range probe is not one of them.
                conns = len({ln.split()[0] for ln in lines if int(ln.split()[-1]) > 1})
                # nginx's own clock splits the wall time: until the first request, until the last byte
                # was sent, and after it (joining, checking, exiting).
                ends = [float(ln.split()[1]) for ln in lines]
                begins = [float(ln.split()[1]) - float(ln.split()[2]) for ln in lines]
                extra["to_first"] = min(begins) - watch.started
                extra["after_last"] = watch.started + secs - max(ends)
                results.setdefault(name, []).append(dict(secs=secs, peak=peak, conns=conns, **extra))
                print("round %d  %-22s %7.2f s  peak %6d KiB  %d connections" %
                      (r + 1, name, secs, peak, conns), flush=True)

        flat = None
        if not args.no_flat_check:
            big_digest, _ = payload("cf4.exe", 4 * size)
            keep_wineserver(env)
            align_to_second()
            ok, secs, peak, out, _ = run_mw(8, "cf4.exe", big_digest, "mw8-big")
            if not ok:
                print("bench: the large chunks 8 run failed:\n" + out[-3000:], file=sys.stderr)
                sys.exit(1)
            flat = (secs, peak)
            nginx.requests_since(mark)
    finally:
        nginx.stop()

    def med(name, key):
        vals = [x[key] for x in results[name] if x.get(key) is not None]
        return statistics.median(vals) if vals else None

    print()
    print("file %d MiB, nginx limit_rate 2m per connection, %d rounds (median), Wine startup %.2f s"
          % (args.size_mib, args.rounds, startup))
    print("| tool | connections | wall s, median (min-max) | start to first request s | after last byte s |"
          " log: start to 完成 s | log: 完成 to 已落地 s | limit s | wall / limit | peak KiB |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, _ in tools:
        conns = int(med(name, "conns"))
        limit = size / (min(conns, 8) * RATE)
        secs = med(name, "secs")
        walls = [x["secs"] for x in results[name]]
        transfer, checks = med(name, "transfer"), med(name, "checks")
        print("| %s | %d | %.2f (%.2f-%.2f) | %.2f | %.2f | %s | %s | %.2f | %.3f | %d |" % (
            name, conns, secs, min(walls), max(walls), med(name, "to_first"), med(name, "after_last"),
            "%.2f" % transfer if transfer is not None else "-",
            "%.2f" % checks if checks is not None else "-", limit, secs / limit, med(name, "peak")))
    if flat:
        print("| mosswarden chunks=8, %d MiB file | 8 | %.2f | - | - | - | - | %.2f | %.3f | %d |" % (
            4 * args.size_mib, flat[0], 4 * size / (8 * RATE), flat[0] / (4 * size / (8 * RATE)), flat[1]))

    c1, c8, curl = med("mosswarden chunks=1", "secs"), med("mosswarden chunks=8", "secs"), med("curl", "secs")
    limit8 = size / (8 * RATE)
    print()
    print("nginx lets each connection run one second ahead of its rate, so a throttled transfer can end up"
          " to 1 s before size / (connections x 2 MiB/s)")
    print("chunks 8 vs limit %.2f s: %+.1f%% (target within 15%%)" % (limit8, 100 * (c8 / limit8 - 1)))
    for peer in ("aria2c -x8 -s8", "aria2c -x8 -s8 -k1M"):
        aria = med(peer, "secs")
        print("chunks 8 vs %s %.2f s: %+.1f%% (target at most +10%%)" % (peer, aria, 100 * (c8 / aria - 1)))
    print("chunks 1 vs curl %.2f s: %+.1f%% (target within 5%%)" % (curl, 100 * (c1 / curl - 1)))
    print("runs that failed and were run again: %d" % len(failures))
    for f in failures:
        print("  " + f)


LOSSY_RATE = MIB          # bytes per second and connection
LOSSY_CUT = 3 * MIB       # body bytes after which each connection is reset


def built_programs(args):
    """mosswarden.exe and the connector stand-in of --build; exits when either is missing."""
    build = Path(args.build).resolve()
    exe = build / "src" / "app" / "mosswarden.exe"
    fake = build / "tests" / "support" / "fakecfd.exe"
    for f in (exe, fake):
        if not f.exists():
            sys.exit("bench: %s is missing; build the mosswarden and fakecfd targets" % f)
    return exe, fake


def lossy(args):
    sys.path.insert(0, str(ROOT / "tests" / "support"))
    from http_fault_server import FaultServer

    need_tools()
    exe, fake = built_programs(args)
    work = Path(args.work).resolve() / "lossy"
    shutil.rmtree(work, ignore_errors=True)
    docroot = work / "www"
    docroot.mkdir(parents=True)
    size = args.size_mib * MIB
    head = fake.read_bytes()
    body = bytearray(head)
    rnd = b"lossy"
    while len(body) < size:
        rnd = hashlib.sha256(rnd).digest()
        body += rnd * 64
    body = bytes(body[:size])
    (docroot / "cf.exe").write_bytes(body)
    digest, machine = hashlib.sha256(body).hexdigest(), pe_machine_word(head)
    env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", str(ROOT / "build" / "wineprefix")),
               LC_ALL="C.UTF-8")
    counter = [0]

    def verified(path):
        return path.exists() and hashlib.sha256(path.read_bytes()).hexdigest() == digest

    def until_done(d, cmd, target, limit=600):
        """Runs cmd again and again (as a retry loop or the supervisor would, without a pause) until the
        target is verified; returns seconds and the number of runs."""
        start = time.monotonic()
        runs = 0
        while time.monotonic() - start < limit:
            runs += 1
            subprocess.run(cmd, cwd=d, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            if verified(target):
                return time.monotonic() - start, runs
        return None, runs

    with FaultServer(root=str(docroot)) as srv:
        def url(tag):
            return srv.url("/static/cf.exe?tag=%s&throttle=%d&reset_at=%d" % (tag, LOSSY_RATE, LOSSY_CUT))

        def fresh(label):
            counter[0] += 1
            tag = "%02d-%s" % (counter[0], label)
            d = work / "runs" / tag
            d.mkdir(parents=True)
            return d, tag

        def run_mw(chunks):
            d, tag = fresh("mw%d" % chunks)
            shutil.copy(exe, d / "mosswarden.exe")
            ini = ["[cloudflared]", "arch=" + machine, "url=" + url(tag), "sha256=" + digest, "reuse=0",
                   "chunks=%d" % chunks, "progress_interval=1"]
            (d / "mosswarden.ini").write_bytes(("\r\n".join(ini) + "\r\n").encode())
            (d / "fakecfd.txt").write_text("")
            secs, runs = until_done(d, [str(WINE_RUN), winpath(d / "mosswarden.exe"), "download"],
                                    d / "cloudflared.exe")
            return secs, runs, srv.sent(tag)

        def run_native(label, cmd_for):
            d, tag = fresh(label)
            target = d / "cf.exe"
            secs, runs = until_done(d, cmd_for(target, url(tag)), target)
            return secs, runs, srv.sent(tag)

        tools = [
            ("mosswarden chunks=4", lambda: run_mw(4)),
            ("mosswarden chunks=8", lambda: run_mw(8)),
            # Unlimited tries without a pause: aria2c resumes each cut connection by itself.
            ("aria2c -x8 -s8 -k1M", lambda: run_native("aria2", lambda t, u: [
                "aria2c", "-q", "-x8", "-s8", "-k1M", "--max-tries=0", "--retry-wait=0",
                "--allow-overwrite=false", "--auto-file-renaming=false", "--file-allocation=none",
                "-d", str(t.parent), "-o", t.name, u])),
            ("curl -C - (retry loop)", lambda: run_native("curl", lambda t, u: [
                "curl", "-sS", "-f", "-C", "-", "-o", str(t), u])),
        ]
        results = {}
        keep_wineserver(env)
        for r in range(args.rounds):
            for name, fn in tools:
                keep_wineserver(env)
                secs, runs, sent = fn()
                if secs is None:
                    sys.exit("bench: %s did not finish in round %d (%d runs)" % (name, r + 1, runs))
                results.setdefault(name, []).append((secs, runs, sent))
                print("round %d  %-24s %7.2f s  %3d runs  %6.3f x size sent" % (r + 1, name, secs, runs, sent / size),
                      flush=True)

    print()
    print("file %d MiB; fault server: %d KiB/s per connection, each connection reset after %d MiB of body;"
          " %d rounds (median)" % (args.size_mib, LOSSY_RATE // 1024, LOSSY_CUT // MIB, args.rounds))
    print("| tool | time to a verified file s, median (min-max) | runs | bytes sent / size |")
    print("|---|---|---|---|")
    for name, _ in tools:
        secs = [x[0] for x in results[name]]
        print("| %s | %.2f (%.2f-%.2f) | %d | %.3f |" % (
            name, statistics.median(secs), min(secs), max(secs), statistics.median(x[1] for x in results[name]),
            statistics.median(x[2] for x in results[name]) / size))
    aria = statistics.median(x[0] for x in results["aria2c -x8 -s8 -k1M"])
    for chunks in (4, 8):
        name = "mosswarden chunks=%d" % chunks
        secs = statistics.median(x[0] for x in results[name])
        sent = statistics.median(x[2] for x in results[name]) / size
        print("chunks %d vs aria2c -x8 -s8 -k1M %.2f s: %.3fx (target at most 1.10x); bytes %.3fx size"
              " (target at most 1.05x)" % (chunks, aria, secs / aria, sent))


if __name__ == "__main__":
    main()
