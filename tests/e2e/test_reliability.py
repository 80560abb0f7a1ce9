"""Faults the program survives that no other suite provokes: odd downloads, an unresolvable name,
connectors that crash or flood, a service stopped while it waits, two processes sharing one log,
a read-only or full disk under the connector's folder."""
import os
import re
import subprocess
import sys
import time
import uuid

import pytest

from conftest import ROOT, WINE_RUN, stand_in_sha_line, wine_env, winpath
from test_provision import MACHINE, sha, stand_in
from test_supervisor import TOKEN, assert_nothing_left, log_lines, log_text, sc, wait_for, wait_log, write_ini

sys.path.insert(0, str(ROOT / "tests" / "support"))
from http_fault_server import FaultServer  # noqa: E402

FAILED = "失败，见日志\r\n".encode("utf-8")
BIG = 4 * 1048576 + 4096  # past the size below which one connection is used


@pytest.fixture
def srv(tmp_path):
    root = tmp_path / "srv"
    root.mkdir()
    with FaultServer(root=str(root)) as server:
        server.root = root
        yield server


def download_ini(mw, url, folder=None, **keys):
    folder = folder or mw.dir
    settings = {"arch": MACHINE, "url": url, "chunks": "4"}
    settings.update(keys)
    text = "[cloudflared]\r\n" + "".join("%s=%s\r\n" % kv for kv in settings.items())
    (folder / "mosswarden.ini").write_bytes(text.encode("utf-8"))
    (folder / "fakecfd.txt").write_text("", encoding="utf-8")
    return folder / "mosswarden.ini"


def network_namespace_works():
    try:
        return subprocess.run(["unshare", "-n", "true"], capture_output=True, timeout=20).returncode == 0
    except OSError:
        return False


@pytest.mark.parametrize("path", ["/static/moved.exe?redirect=/static/cf.exe", "/static/cf.exe?norange=1"])
def test_a_redirected_or_range_ignoring_mirror_still_delivers_the_file(mw, srv, path):
    served = stand_in(BIG)
    (srv.root / "cf.exe").write_bytes(served)
    download_ini(mw, srv.url(path), sha256=sha(served))
    r = mw.run("download")
    assert r.rc == 0, r.out_text
    assert (mw.dir / "cloudflared.exe").read_bytes() == served
    assert not list(mw.dir.glob("cloudflared.exe.part*"))


def test_an_html_page_instead_of_the_file_is_refused_and_the_old_connector_kept(mw, srv):
    old = stand_in(1100 * 1024, b"\1")
    (mw.dir / "cloudflared.exe").write_bytes(old)
    download_ini(mw, srv.url("/file/%d?html=1" % BIG))
    r = mw.run("download")
    assert (r.rc, r.err) == (3, FAILED), r.out_text
    assert re.search(r"\[ERROR\] 下载体积异常 \(\d+ 字节\)，丢弃", r.out_text)
    assert (mw.dir / "cloudflared.exe").read_bytes() == old
    assert not (mw.dir / "cloudflared.exe.part").exists()


@pytest.mark.skipif(not network_namespace_works(), reason="cannot make a network namespace")
def test_a_name_that_does_not_resolve_fails_the_download_with_the_hint(mw):
    # In an empty network namespace the lookup fails at once and no query leaves the machine.
    download_ini(mw, "http://mw-no-such-host.invalid/cloudflared.exe")
    p = subprocess.run(["unshare", "-n", str(WINE_RUN), str(mw.exe), "ensure"], cwd=mw.dir, env=wine_env(),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    out = p.stdout.decode("utf-8")
    assert (p.returncode, p.stderr) == (3, FAILED), out
    assert "[ERROR] 下载失败: " in out and "12007" in out
    assert "[ERROR] 排查顺序: " in out
    assert not (mw.dir / "cloudflared.exe").exists()


def unmount(folder):
    # The wineserver holds the files for the program and lets go of them once the program has exited.
    deadline = time.time() + 15
    while time.time() < deadline:
        if subprocess.run(["umount", str(folder)], capture_output=True, timeout=30).returncode == 0:
            return
        time.sleep(0.2)
    subprocess.run(["umount", "-l", str(folder)], capture_output=True, timeout=30)
    raise AssertionError("%s was still busy 15 s after the program exited" % folder)


def remount(folder, options):
    subprocess.run(["mount", "-o", "remount," + options, str(folder)], check=True, capture_output=True, timeout=30)


@pytest.fixture
def tmpfs(tmp_path):
    """mount(size) puts a tmpfs of that many bytes under tmp_path and returns its folder.

    The mount is made in the global mount namespace: the shared wineserver, which opens the files
    for every Wine process, sees no other."""
    mounted = []

    def mount(size):
        if os.geteuid() != 0:
            pytest.skip("mounting a tmpfs needs root with CAP_SYS_ADMIN")
        folder = tmp_path / ("disk%d" % len(mounted))
        folder.mkdir()
        p = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", str(folder)],
                           capture_output=True, text=True, timeout=30)
        if p.returncode != 0:
            pytest.skip("mounting a tmpfs is not permitted here (needs CAP_SYS_ADMIN): "
                        + (p.stderr.strip().splitlines() or [""])[0])
        mounted.append(folder)
        return folder

    yield mount
    for folder in reversed(mounted):
        unmount(folder)


def download_fails(r, reason):
    """Asserts exit 3 with both failure lines naming reason (a pattern); returns the reason found."""
    assert (r.rc, r.err) == (3, FAILED), r.out_text
    m = re.search(r"\[ERROR\] 下载失败: (%s)\r\n" % reason, r.out_text)
    assert m, r.out_text
    assert "[ERROR] 该地址失败: %s\r\n" % m.group(1) in r.out_text
    assert "[ERROR] 排查顺序: " in r.out_text
    assert "cloudflared: " not in r.out_text
    return m.group(1)


CASES_READ_ONLY = {
    # chunks, why the first file cannot be made ({part} is the partial file's name)
    "one connection": ("1", r"打开文件失败: {part} \(5: 访问被拒绝。\)"),
    "four segments": ("4", r"创建分段文件失败: {part}\.[0-3] \(5: 访问被拒绝。\)"),
}


@pytest.mark.parametrize("case", list(CASES_READ_ONLY))
def test_a_read_only_folder_fails_the_download_and_keeps_the_old_connector(mw, srv, tmpfs, case):
    chunks, reason = CASES_READ_ONLY[case]
    (srv.root / "cf.exe").write_bytes(stand_in(BIG))
    folder = tmpfs(2 * 1048576)
    old = stand_in(1100 * 1024, b"\1")
    (folder / "cloudflared.exe").write_bytes(old)
    ini = download_ini(mw, srv.url("/static/cf.exe"), folder, chunks=chunks)
    remount(folder, "ro")
    r = mw.run("download", "--ini", winpath(ini))
    download_fails(r, reason.format(part=re.escape(winpath(folder / "cloudflared.exe.part"))))
    assert sorted(p.name for p in folder.iterdir()) == ["cloudflared.exe", "fakecfd.txt", "mosswarden.ini"]
    assert (folder / "cloudflared.exe").read_bytes() == old


def test_ensure_reuses_a_connector_in_a_read_only_folder(mw, srv, tmpfs):
    folder = tmpfs(2 * 1048576)
    old = stand_in(1100 * 1024)
    (folder / "cloudflared.exe").write_bytes(old)
    ini = download_ini(mw, srv.url("/static/cf.exe?tag=ro"), folder, sha256=sha(old))
    remount(folder, "ro")
    r = mw.run("ensure", "--ini", winpath(ini))
    target = winpath(folder / "cloudflared.exe")
    assert (r.rc, r.err) == (0, b""), r.out_text
    assert "cloudflared 已就绪: %s (%d 字节, %s)" % (target, len(old), MACHINE) in r.out_text
    assert r.out_text.endswith("cloudflared: %s\r\n" % target)
    assert srv.log("ro") == []


CASES_DISK_FULL = {
    # chunks, whether the partial file (else the segment files) stays for the next run to continue
    "one connection": ("1", True),
    "four segments": ("4", False),
}


@pytest.mark.parametrize("case", list(CASES_DISK_FULL))
def test_a_full_disk_fails_the_download_keeps_the_old_connector_and_a_later_run_completes(mw, srv, tmpfs, case):
    chunks, part_kept = CASES_DISK_FULL[case]
    served = stand_in(BIG)
    (srv.root / "cf.exe").write_bytes(served)
    old = stand_in(1100 * 1024, b"\1")
    # Beside the old connector: room for the INI and the log, and for half of the download.
    folder = tmpfs(len(old) + 65536 + len(served) // 2)
    (folder / "cloudflared.exe").write_bytes(old)
    ini = download_ini(mw, srv.url("/static/cf.exe"), folder, chunks=chunks, sha256=sha(served))
    r = mw.run("download", "--ini", winpath(ini))
    reason = download_fails(r, "写入失败: .*")
    assert (folder / "cloudflared.exe").read_bytes() == old
    # Segments keep what they wrote, beside the record of the remote file they belong to.
    segments = sorted(folder.glob("cloudflared.exe.part.[0-9]*"))
    assert bool(segments) == (not part_kept)
    assert (folder / "cloudflared.exe.part.seg").exists() == (not part_kept)
    resumed = sum(p.stat().st_size for p in segments)
    part = folder / "cloudflared.exe.part"
    assert part.exists() == part_kept
    kept = part.read_bytes() if part_kept else b""
    assert served.startswith(kept) and len(kept) < len(served)

    # Segments are joined into a new file, so for a moment the download takes twice its size.
    remount(folder, "size=%d" % (len(old) + 3 * len(served)))
    again = mw.run("download", "--ini", winpath(ini))
    assert again.rc == 0, again.out_text
    assert ("续传：从已有 %d 字节处接上" % len(kept) in again.out_text) == part_kept
    assert ("续传：已有 %d 字节" % resumed in again.out_text) == (not part_kept)
    assert (folder / "cloudflared.exe").read_bytes() == served
    assert not list(folder.glob("cloudflared.exe.part*"))

    # A full disk may first take part of a block and report success; the reason must still be the
    # disk's, not the stale "0" of that short write.
    assert reason == "写入失败: 112: 磁盘满。"


def daemon(mw, *args):
    return subprocess.Popen([str(WINE_RUN), str(mw.exe), "daemon", *args], cwd=mw.dir, env=wine_env(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(*procs):
    for p in procs:
        p.kill()
        p.wait()


def test_a_connector_that_dies_at_once_with_an_access_violation_is_restarted_after_the_delay(mw):
    mw.place_fake_connector("exit=-1073741819\n")  # 0xC0000005
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    p = daemon(mw)
    try:
        wait_log(mw, "退出码 3221225477（0xC0000005）", count=3)
    finally:
        stop(p)
    lines = log_lines(mw)
    exits = [i for i, (_, _, t) in enumerate(lines) if t.startswith("cloudflared 退出")]
    starts = [when for when, _, t in lines if t.startswith("cloudflared 已启动")]
    # Each exit before registration is a failure: the delay doubles up to max_restart_delay.
    assert [lines[i + 1][2] for i in exits[:3]] == ["1 秒后重启", "2 秒后重启", "4 秒后重启"]
    # No tight loop: consecutive starts are at least the delay apart.
    assert all(b - a >= 0.9 for a, b in zip(starts, starts[1:]))
    assert_nothing_left(mw)


def test_output_without_line_ends_neither_stalls_nor_grows_the_log_unbounded(mw):
    # 300 KB of 'x' without LF, then a line and an unterminated tail.
    mw.place_fake_connector("flood=300000\nprint=after the flood\nraw=tail without LF\nexit=4\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    p = daemon(mw)
    try:
        wait_log(mw, "退出码 4（0x00000004）", count=2)
    finally:
        stop(p)
    lines = log_text(mw).split("\r\n")
    # Whole 64 KiB pieces are dropped; the rest of the run of 'x' may lead the next line.
    assert len([l for l in lines if re.search(r" \[CFD\] x*after the flood$", l)]) >= 2
    assert len([l for l in lines if l.endswith(" [CFD] tail without LF")]) >= 2
    assert max(len(l) for l in lines) <= 65536 + 8192 + 64  # the pending bound plus one read
    assert_nothing_left(mw)


def test_two_supervisors_append_whole_lines_to_one_log(mw):
    count = 400
    mw.place_fake_connector("".join("print=line %04d of the connector\n" % i for i in range(count)))
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    # One supervisor per INI: the second reads its own INI beside the first, which shares the log folder.
    text = (mw.dir / "mosswarden.ini").read_bytes().replace(b"[tunnel]\r\n", b"[tunnel]\r\nconfig_file=second.yml\r\n")
    (mw.dir / "second.ini").write_bytes(text)
    first, second = daemon(mw), daemon(mw, "--ini", "second.ini")
    try:
        wait_for(lambda: log_text(mw).count("of the connector\r\n") >= 2 * count, 60, "both connectors")
    finally:
        stop(first, second)
    assert_nothing_left(mw)
    text = log_text(mw)
    assert text.count("of the connector\r\n") > count, "both supervisors ran their connector"
    torn = [l for l in text.split("\r\n")[:-1]
            if not re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(INFO|WARN|ERROR|CFD)\] ", l)]
    lost = [i for i in range(count) if text.count("[CFD] line %04d of the connector\r\n" % i) != 2]
    # Without the append lock Wine 8.0 loses a few of these: a line written at the same moment by the
    # other process overwrites the one before it.
    assert (torn, lost) == ([], [])


def stop_service_once_logged(mw, mark, settle=0):
    """Runs mw.exe as a service of its own until mark is in its log (and settle seconds more), then
    stops it and checks that it reached STOPPED within 10 s."""
    name = "mwrel-" + uuid.uuid4().hex[:10]
    rc, out = sc("create", name, "binPath=", f'"{winpath(mw.exe)}" --service')
    assert rc == 0, out
    try:
        assert sc("start", name)[0] == 0
        wait_log(mw, mark, name="mosswarden-service.log")
        time.sleep(settle)
        asked = time.time()
        rc, out = sc("stop", name)
        assert rc == 0, out
        wait_for(lambda: "STOPPED" in sc("query", name)[1], 15, "STOPPED")
        assert time.time() - asked < 10
    finally:
        sc("stop", name)
        sc("delete", name)


@pytest.mark.parametrize("state", ["back-off wait", "restart wait"])
def test_the_service_stops_promptly_while_it_waits(mw, state):
    cloudflared = "arch=%s\r\n" % MACHINE
    if state == "back-off wait":
        cloudflared += "url=http://127.0.0.1:9/cloudflared.exe\r\n"
        mark = "60 秒后重试"
    else:
        mw.place_fake_connector("exit=2\n")
        cloudflared += stand_in_sha_line()
        mark = "60 秒后重启"
    (mw.dir / "mosswarden.ini").write_bytes(
        ("[cloudflared]\r\n" + cloudflared + "[supervisor]\r\nrestart_delay=60\r\nmax_restart_delay=60\r\n").encode())
    stop_service_once_logged(mw, mark)
    texts = [t for _, _, t in log_lines(mw, "mosswarden-service.log")]
    assert texts[-1] == "mosswarden 已退出"
    assert "收到停止信号，退出" not in texts
    assert_nothing_left(mw)


@pytest.mark.parametrize("chunks", ["1", "4"], ids=["one connection", "four segments"])
def test_the_service_stops_promptly_during_a_download(mw, srv, chunks):
    # 8 MiB at 100 kB/s a connection: a transfer of 20 s and more, and a byte every few milliseconds.
    download_ini(mw, srv.url("/file/8388608?throttle=100000"), chunks=chunks)
    stop_service_once_logged(mw, "远端大小 8.0 MB", settle=1)
    texts = [t for _, _, t in log_lines(mw, "mosswarden-service.log")]
    assert texts[-2:] == ["收到停止信号，下载中止", "mosswarden 已退出"]
    assert not [t for t in texts if "该地址失败" in t or "排查顺序" in t or "秒后重试" in t]
    left = sorted(p.name for p in mw.dir.iterdir() if p.name.startswith("cloudflared.exe"))
    # One connection keeps its bytes for the next start to continue; segments keep theirs and the
    # record of the remote file they belong to.
    segments = ["cloudflared.exe.part.%d" % i for i in range(4)] + ["cloudflared.exe.part.seg"]
    assert left == (["cloudflared.exe.part"] if chunks == "1" else segments)
    assert_nothing_left(mw)
