"""The "download" and "ensure" commands against the loopback fault server: reuse, checks, replacement."""
import hashlib
import struct
import subprocess
import sys
import time

import pytest

from conftest import ARCH, BUILD, FAKECFD, ROOT, WINE_RUN, wine_env, winpath

sys.path.insert(0, str(ROOT / "tests" / "support"))
from http_fault_server import FaultServer, pattern_bytes  # noqa: E402

MACHINE = "amd64" if ARCH == "x64" else "386"
OTHER = "386" if ARCH == "x64" else "amd64"
MACHINE_FIELD = {"amd64": 0x8664, "386": 0x014C}
MIB = 1048576
FAILED = "失败，见日志\r\n".encode("utf-8")
UNIT_PROVISION = BUILD / "tests" / "unit" / "unit_provision.exe"


def stand_in(size=1200 * 1024, fill=b"\0", machine=MACHINE):
    """The connector stand-in padded to size, its PE Machine field set to machine."""
    data = bytearray(FAKECFD.read_bytes())
    lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<H", data, lfanew + 4, MACHINE_FIELD[machine])
    assert len(data) <= size
    return bytes(data) + fill * (size - len(data))


def sha(data):
    return hashlib.sha256(data).hexdigest()


@pytest.fixture
def srv(tmp_path):
    root = tmp_path / "srv"
    root.mkdir()
    with FaultServer(root=str(root)) as server:
        server.root = root
        yield server


def prepare(mw, srv, tag, served=None, path=None, existing=None, script="", **keys):
    """Serves `served` (or `path` on the server), puts `existing` in place and writes the INI;
    `script` is the stand-in's script for every copy of it in the folder."""
    if served is not None:
        (srv.root / "cf.exe").write_bytes(served)
        path = "/static/cf.exe"
    sep = "&" if "?" in path else "?"
    settings = {"arch": MACHINE, "url": srv.url("%s%stag=%s" % (path, sep, tag)), "chunks": "1"}
    settings.update(keys)
    lines = ["[cloudflared]"] + ["%s=%s" % kv for kv in settings.items()]
    (mw.dir / "mosswarden.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-8"))
    (mw.dir / "fakecfd.txt").write_text(script, encoding="utf-8")
    if existing is not None:
        (mw.dir / "cloudflared.exe").write_bytes(existing)
    return mw.dir / "cloudflared.exe"


def test_ensure_reuses_a_valid_connector_without_any_request(mw, srv):
    old = stand_in(1100 * 1024)
    target = prepare(mw, srv, "reuse", served=stand_in(), existing=old, sha256=sha(old))
    r = mw.run("ensure")
    assert r.rc == 0, r.out_text + r.err_text
    ready = "cloudflared 已就绪: %s (%d 字节, %s)" % (winpath(target), len(old), MACHINE)
    assert ready in r.out_text
    assert "cloudflared 版本: cloudflared version 2023.10.0 (built 2023-10-31-1141 UTC)" in r.out_text
    assert r.out_text.endswith("cloudflared: %s\r\n" % winpath(target))
    assert r.err == b""
    assert srv.log("reuse") == []
    assert target.read_bytes() == old
    logs = list((mw.dir / "logs").glob("mosswarden-*.log"))
    assert len(logs) == 1 and ready in logs[0].read_text(encoding="utf-8")


CHECKED = sha(stand_in())
CASES_INSTALLED = {
    # command, what is in place, extra INI keys, what the log must say
    "forced over a valid file, upper-case sha256": (
        "download", stand_in(1100 * 1024, b"\1"), {"sha256": CHECKED.upper()},
        ["SHA256 校验通过: " + CHECKED, "cloudflared 版本: "]),
    "existing of exactly 1 MiB is not reused": (
        "ensure", stand_in(MIB), {"sha256": CHECKED}, ["SHA256 校验通过: "]),
    "existing of the other machine": (
        "ensure", stand_in(machine=OTHER), {"sha256": CHECKED},
        ["[WARN] 现有 cloudflared 的机器类型是 %s，本机需要 %s，重新下载" % (OTHER, MACHINE)]),
    "reuse=0 downloads over a valid file": (
        "--ensure", stand_in(1100 * 1024, b"\1"), {"sha256": CHECKED, "reuse": "0"}, ["SHA256 校验通过: "]),
    "version without a built-in checksum": (
        "--download", None, {"version": "2023.8.2"},
        ["[WARN] 该版本没有内置 SHA256，跳过完整性校验（建议自己在 ini 里补 sha256=）",
         "cloudflared 版本: cloudflared version 2023.8.2 (stand-in)"]),
}


@pytest.mark.parametrize("case", list(CASES_INSTALLED))
def test_download_installs_the_checked_file(mw, srv, case):
    command, existing, keys, expected = CASES_INSTALLED[case]
    served = stand_in()
    script = "version=cloudflared version %s (stand-in)\n" % keys["version"] if "version" in keys else ""
    target = prepare(mw, srv, "inst", served=served, existing=existing, chunks="4", script=script, **keys)
    r = mw.run(command)
    assert r.rc == 0, r.out_text + r.err_text
    assert srv.log("inst") != []
    assert target.read_bytes() == served
    assert not (mw.dir / "cloudflared.exe.part").exists()
    for text in expected + ["开始下载 cloudflared ", "已落地: %s (%d 字节)" % (winpath(target), len(served))]:
        assert text in r.out_text
    assert r.out_text.endswith("cloudflared: %s\r\n" % winpath(target))


def test_a_download_of_exactly_1_mib_passes_the_size_check(mw, srv):
    body = stand_in(MIB)
    target = prepare(mw, srv, "exact", served=body, sha256=sha(body))
    (mw.dir / "mosswarden.ini").write_bytes((mw.dir / "mosswarden.ini").read_bytes() + b"[tunnel]\r\nmode=config\r\n")
    r = mw.run("download")
    assert r.rc == 0, r.out_text + r.err_text
    assert target.read_bytes() == body
    assert "已落地: %s (%d 字节)" % (winpath(target), MIB) in r.out_text
    assert r.out_text.endswith("config.yml: %s\r\n" % winpath(mw.dir / "config.yml"))
    assert (mw.dir / "config.yml").exists()


CASES_REJECTED = {
    "one byte short of 1 MiB": (
        {"path": "/file/%d" % (MIB - 1)}, {}, ["[ERROR] 下载体积异常 (1048575 字节)，丢弃"]),
    "the other machine": (
        {"served": stand_in(machine=OTHER)}, {},
        ["[ERROR] 下载到的不是 %s 架构（%s），丢弃。可显式改 arch=" % (MACHINE, OTHER)]),
    "checksum differs": (
        {"served": stand_in()}, {"sha256": "0" * 64},
        ["[ERROR] SHA256 不匹配，拒绝安装", "[ERROR]   期望: " + "0" * 64, "[ERROR]   实际: " + CHECKED]),
    "no checksum and sha_required": (
        {"served": stand_in()}, {"version": "2024.1.1", "sha_required": "1"},
        ["[ERROR] 没有内置校验值且未配置 sha256=，按 sha_required=1 拒绝安装"]),
    "random bytes, no checksum": (
        {"served": bytes(range(256)) * 12288}, {"version": "2023.8.2"}, ["[ERROR] 该地址失败: 下载到的不是 Windows 程序，丢弃（"]),
    "a program of another version": (
        {"served": stand_in()}, {"version": "2023.8.2"},
        ["[ERROR] 该地址失败: 下载到的是 cloudflared 2023.10.0，配置要求 2023.8.2，丢弃（"]),
}


@pytest.mark.parametrize("case", list(CASES_REJECTED))
def test_a_rejected_download_is_deleted_and_the_old_connector_kept(mw, srv, case):
    source, keys, expected = CASES_REJECTED[case]
    old = stand_in(1100 * 1024, b"\1")
    target = prepare(mw, srv, "rej", existing=old, **source, **keys)
    r = mw.run("download")
    assert r.rc == 3, r.out_text
    assert r.err == FAILED
    for text in expected:
        assert text in r.out_text
    assert target.read_bytes() == old
    assert not (mw.dir / "cloudflared.exe.part").exists()
    assert "cloudflared: " not in r.out_text


def test_all_urls_failing_prints_the_troubleshooting_line(mw, srv):
    target = prepare(mw, srv, "gone", path="/file/2000000?status=404")
    r = mw.run("ensure")
    assert r.rc == 3
    assert r.err == FAILED
    assert "[ERROR] 下载失败: " in r.out_text
    assert ("[ERROR] 排查顺序: 1) ini 里配 mirrors= 走镜像  2) proxy=auto 或 proxy=http://127.0.0.1:7890  "
            "3) --tlsfix 打开 TLS1.2  4) 手动下载 cloudflared 2023.10.0 (windows-%s) 放到 %s 后程序会直接复用"
            % (MACHINE, winpath(target))) in r.out_text
    assert not target.exists()


def test_a_locked_connector_keeps_its_bytes_and_the_download_is_deleted(mw, srv):
    old = stand_in(1100 * 1024, b"\1")
    target = prepare(mw, srv, "lock", served=stand_in(), existing=old, sha256=CHECKED)
    held = mw.dir / "cloudflared.exe.held"
    holder = subprocess.Popen(
        [str(WINE_RUN), str(UNIT_PROVISION), "--gtest_filter=HoldFileOpen.*"],
        env=wine_env({"MW_HOLD_FILE": winpath(target)}),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 60
        while not held.exists() and time.time() < deadline and holder.poll() is None:
            time.sleep(0.1)
        assert held.exists(), "the lock holder did not open the file"
        r = mw.run("download")
    finally:
        (mw.dir / "cloudflared.exe.release").write_bytes(b"")
        holder.wait(timeout=60)
    assert r.rc == 3, r.out_text
    assert r.err == FAILED
    assert "SHA256 校验通过: " in r.out_text
    assert "[ERROR] 替换目标文件失败（可能被杀软占用）: " in r.out_text
    assert target.read_bytes() == old
    assert not (mw.dir / "cloudflared.exe.part").exists()


def test_settings_that_cannot_be_prepared_exit_2(mw, tmp_path):
    folder = tmp_path / "not-a-file.ini"
    folder.mkdir()
    for command in ("ensure", "download"):
        r = mw.run(command, "--ini", winpath(folder))
        assert r.rc == 2
        assert r.err.strip() != b""
        assert r.out == b""


def serve(srv, name, data):
    (srv.root / name).write_bytes(data)
    return "/static/" + name


BAD_FIRST_MIRRORS = {
    # what the first URL serves, and the reason the log gives for rejecting it
    "an HTML page with 200": (None, "下载体积异常 ("),
    "a large HTML page with 200": (b"<html>" + b"rate limited " * 90000 + b"</html>", "下载到的不是 Windows 程序，丢弃"),
    "the wrong checksum": (stand_in(fill=b"\2"), "SHA256 不匹配，拒绝安装"),
    "no PE header": (bytes(range(256)) * 8192, "下载到的不是 Windows 程序，丢弃"),
    "the wrong machine": (stand_in(machine=OTHER), "下载到的不是 %s 架构（%s），丢弃。可显式改 arch=" % (MACHINE, OTHER)),
}


@pytest.mark.parametrize("case", list(BAD_FIRST_MIRRORS))
def test_a_rejected_first_url_falls_through_to_the_next_mirror(mw, srv, case):
    bad, reason = BAD_FIRST_MIRRORS[case]
    good = stand_in()
    bad_path = serve(srv, "bad.exe", bad) if bad is not None else "/file/2000000"
    bad_url = srv.url(bad_path + ("?html=1&tag=bad" if bad is None else "?tag=bad"))
    good_url = srv.url(serve(srv, "good.exe", good) + "?tag=good")
    old = stand_in(1100 * 1024, b"\1")
    target = prepare(mw, srv, "unused", served=good, existing=old, sha256=sha(good), chunks="4")
    ini = (mw.dir / "mosswarden.ini").read_text(encoding="utf-8").replace(srv.url("/static/cf.exe?tag=unused"), bad_url)
    mirrors = "%s;%s" % (srv.url("/static/none.exe?tag=none"), good_url)
    (mw.dir / "mosswarden.ini").write_text(ini + "mirrors=%s\r\n" % mirrors, encoding="utf-8")
    r = mw.run("download")
    assert r.rc == 0, r.out_text
    assert target.read_bytes() == good
    rejected = [line for line in r.out_text.splitlines() if "[ERROR] 该地址失败: " + reason in line]
    assert len(rejected) == 1 and rejected[0].endswith("（%s）" % bad_url), r.out_text
    assert srv.log("good") != []
    assert not (mw.dir / "cloudflared.exe.part").exists()


def test_every_url_rejected_fails_with_the_last_reason_and_keeps_the_old_connector(mw, srv):
    old = stand_in(1100 * 1024, b"\1")
    first = srv.url(serve(srv, "a.exe", stand_in(machine=OTHER)) + "?tag=a")
    second = srv.url(serve(srv, "b.exe", bytes(range(256)) * 8192) + "?tag=b")
    target = prepare(mw, srv, "unused", served=stand_in(), existing=old, sha256=sha(stand_in()))
    ini = (mw.dir / "mosswarden.ini").read_text(encoding="utf-8").replace(srv.url("/static/cf.exe?tag=unused"), first)
    (mw.dir / "mosswarden.ini").write_text(ini + "mirrors=%s\r\n" % second, encoding="utf-8")
    r = mw.run("download")
    assert r.rc == 3, r.out_text
    assert target.read_bytes() == old
    assert "[ERROR] 下载失败: 下载到的不是 Windows 程序，丢弃" in r.out_text
    assert srv.log("a") != [] and srv.log("b") != []
    assert not (mw.dir / "cloudflared.exe.part").exists()


CRASH = "version=Exception 0xc0000005 0x8 0x0 0x0\nversionexit=0xC0000005\n"
EXISTING = {
    # the file in place, its own script, extra INI keys; then the outcome without and with a mirror
    "a proven connector": (stand_in(), "", {}, (0, "cloudflared 已就绪: "), (0, "cloudflared 已就绪: ")),
    "a connector that crashes at once": (
        stand_in(), CRASH, {}, (3, "[WARN] cloudflared 无法在本机运行（退出码 0xC0000005），重新下载"),
        (0, "已落地: ")),
    "a truncated connector": (
        stand_in()[:4096] + b"\0" * (1100 * 1024), "", {}, (3, "[WARN] cloudflared "), (0, "已落地: ")),
    "another version": (
        stand_in(), "version=cloudflared version 2024.1.0 (built 2024-01-08)\n", {},
        (0, "[WARN] 现有 cloudflared 2024.1.0，配置要求 2023.8.2；2023.10.0 之后的版本不支持 Windows 7"), (0, "已落地: ")),
    "a checksum mismatch": (
        stand_in(fill=b"\3"), "", {"sha256": sha(stand_in())},
        (3, "[WARN] 现有 cloudflared 的 SHA256 不符（期望 %s，实际 %s），重新下载" % (sha(stand_in()), sha(stand_in(fill=b"\3")))),
        (0, "已落地: ")),
}


@pytest.mark.parametrize("reachable", [False, True], ids=["no mirror", "mirror"])
@pytest.mark.parametrize("case", list(EXISTING))
def test_an_existing_connector_is_proven_before_it_is_used(mw, srv, case, reachable):
    existing, own_script, keys, without, with_mirror = EXISTING[case]
    served = stand_in()
    path = None if reachable else "/file/2000000?status=404"
    target = prepare(mw, srv, "ex", served=served if reachable else None, path=path, existing=existing,
                     script="version=cloudflared version 2023.8.2 (stand-in)\n", version="2023.8.2", **keys)
    if own_script:
        (mw.dir / "cloudflared.exe.script").write_text(own_script, encoding="utf-8")
    r = mw.run("ensure")
    rc, text = with_mirror if reachable else without
    assert r.rc == rc, r.out_text
    assert text in r.out_text
    assert "cloudflared 版本: Exception" not in r.out_text
    if case == "a proven connector":
        assert srv.log("ex") == []
    if rc == 0 and text == "已落地: ":
        assert target.read_bytes() == served
    else:
        assert target.read_bytes() == existing
    if rc == 3:
        assert "排查顺序: " in r.out_text


def test_ensure_in_config_mode_that_cannot_write_config_yml_exits_3(mw, srv):
    old = stand_in()
    prepare(mw, srv, "yml", served=old, existing=old, sha256=sha(old))
    ini = mw.dir / "mosswarden.ini"
    ini.write_bytes(ini.read_bytes() + b"[tunnel]\r\nmode=config\r\nconfig_file=missing\\dir\\c.yml\r\n")
    r = mw.run("ensure")
    assert r.rc == 3, r.out_text
    assert r.err == ("写入 config.yml 失败: " + mw.win_dir + "\\missing\\dir\\c.yml\r\n").encode("utf-8")
    assert "config.yml: " not in r.out_text
@pytest.mark.parametrize("log_dir, warned", [("logs", True), ("", False)])
def test_the_download_log_lands_beside_the_ini_when_log_dir_is_a_file_or_empty(mw, srv, log_dir, warned):
    served = stand_in()
    prepare(mw, srv, "logdir", served=served, sha256=sha(served))
    with open(mw.dir / "mosswarden.ini", "ab") as ini:
        ini.write(("[supervisor]\r\nlog_dir=%s\r\n" % log_dir).encode("utf-8"))
    if warned:
        (mw.dir / "logs").write_bytes(b"a file, not a folder")
    r = mw.run("download")
    assert r.rc == 0, r.out_text + r.err_text
    logs = list(mw.dir.glob("mosswarden-*.log"))
    assert len(logs) == 1, list(mw.dir.iterdir())
    text = logs[0].read_bytes().decode("utf-8")
    assert "SHA256 校验通过: " in text
    warning = "[WARN] 无法创建日志目录: %s\\logs，日志写在 %s\r\n" % (mw.win_dir, mw.win_dir)
    assert (warning in text) == warned, text


@pytest.mark.parametrize("change", [None, "content", "size"])
def test_a_segmented_download_stalled_at_63_percent_resumes_only_for_the_same_remote_file(mw, srv, change):
    first = stand_in(4 * MIB + 123, b"\1")
    (srv.root / "cf.exe").write_bytes(first)
    # Every segment of the first run stalls at 63% for longer than stall_timeout.
    prepare(mw, srv, "seg-" + str(change), path="/static/cf.exe?stall=12&stall_at=660000&stall_first=4",
            chunks="4", sha256=sha(first), stall_timeout="10")
    r = mw.run("download")
    assert r.rc != 0
    kept = sorted(mw.dir.glob("cloudflared.exe.part.[0-9]"))
    assert len(kept) == 4, list(mw.dir.iterdir())
    assert (mw.dir / "cloudflared.exe.part.seg").exists()
    have = [p.stat().st_size for p in kept]
    assert have == [660000] * 4

    served = first
    if change == "content":
        time.sleep(0.01)
        served = stand_in(4 * MIB + 123, b"\2")
    elif change == "size":
        served = stand_in(4 * MIB + 999, b"\1")
    if change:
        (srv.root / "cf.exe").write_bytes(served)
    ini = (mw.dir / "mosswarden.ini").read_bytes().replace(sha(first).encode(), sha(served).encode())
    (mw.dir / "mosswarden.ini").write_bytes(ini)
    before = len(srv.log("seg-" + str(change)))
    r = mw.run("download")
    assert r.rc == 0, r.out_text + r.err_text
    assert (mw.dir / "cloudflared.exe").read_bytes() == served
    ranges = sorted(rng for rng, _ in srv.log("seg-" + str(change))[before + 1:])
    seg = len(served) // 4
    lasts = [seg * (i + 1) - 1 for i in range(3)] + [len(served) - 1]
    if change is None:
        expected = sorted("bytes=%d-%d" % (seg * i + have[i], lasts[i]) for i in range(4))
    else:
        expected = sorted("bytes=%d-%d" % (seg * i, lasts[i]) for i in range(4))
    assert ranges == expected
    log = next(mw.dir.glob("logs/mosswarden-*.log")).read_bytes().decode("utf-8")
    assert ("续传：已有 %d 字节" % sum(have) in log) == (change is None)
    assert not list(mw.dir.glob("cloudflared.exe.part*"))


@pytest.mark.parametrize("inside", [False, True], ids=["empty directory", "directory with a file"])
def test_a_directory_in_the_connectors_place_is_reported_as_such(mw, srv, inside):
    good = stand_in()
    target = prepare(mw, srv, "dir", served=good, sha256=sha(good))
    target.mkdir()
    if inside:
        (target / "keep.txt").write_bytes(b"x")
    r = mw.run("ensure")
    assert "[WARN] cloudflared.exe 是目录: %s，重新下载" % winpath(target) in r.out_text
    assert "被杀软占用" not in r.out_text
    if inside:
        assert r.rc == 3, r.out_text
        assert "[ERROR] cloudflared.exe 是目录，无法替换: %s" % winpath(target) in r.out_text
        assert (target / "keep.txt").read_bytes() == b"x"
        assert not (mw.dir / "cloudflared.exe.part").exists()
    else:
        assert r.rc == 0, r.out_text
        assert target.read_bytes() == good
