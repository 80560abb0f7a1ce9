"""Service control, install/uninstall and the status report under Wine's real service manager."""
import os
import re
import signal
import socket
import subprocess
import time
from pathlib import Path

import pytest

from conftest import ARCH, WINE_RUN, Mosswarden, stand_in_sha_line, wine_env

SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\mosswarden"
MACHINE = "amd64" if ARCH == "x64" else "386"
# Wine refuses the delayed automatic start (error 124) and accepts the failure actions.
REGISTERED = "服务已注册: mosswarden (自动启动 + 崩溃重启)（延迟启动未生效）"
TOKEN_WARNING = [
    "提醒: [tunnel] token 还是空的。",
    "      到 Zero Trust -> Networks -> Tunnels -> Create tunnel 拿 token，填进 {ini}",
    "      填完保存即可，守护进程会自动重启 cloudflared，不用重启服务。",
]


def lines(data):
    text = data.decode("utf-8")
    assert text == "" or text.endswith("\r\n")
    return text.split("\r\n")[:-1]


def write_ini(mw, text):
    """The INI as an administrator would keep it: Wine reads the Unix mode as its DACL, and a
    world-readable file is reported by status as readable by everyone."""
    path = mw.dir / "mosswarden.ini"
    path.write_bytes(text.replace("\n", "\r\n").encode("utf-8"))
    path.chmod(0o600)


# The checksum line for INIs written with LF line ends.
def sha_line():
    return stand_in_sha_line().replace("\r\n", "\n")


def place_connector_for_install(mw, text=None):
    """The stand-in, and an INI naming its machine ("auto" means amd64 on 64-bit Windows, which
    the x86 stand-in is not) and its checksum, which a reused connector must match."""
    mw.place_fake_connector("")
    write_ini(mw, "[cloudflared]\narch=%s\n" % MACHINE + sha_line() + (text or ""))


def registration(mw, key=SERVICE_KEY):
    """The service's registry values as Wine's reg.exe exports them (UTF-16 keeps the Chinese text)."""
    target = mw.dir / "service.reg"
    r = mw.run("export", key, mw.win_dir + "\\service.reg", "/y", program="reg.exe")
    if r.rc != 0:
        return None
    values = {}
    text = re.sub(r"\\\r?\n\s*", "", target.read_bytes().decode("utf-16"))  # hex values continue over lines
    for line in text.splitlines():
        m = re.match(r'^"([^"]+)"=(.*)$', line)
        if not m:
            continue
        raw = m.group(2)
        if raw.startswith('"'):
            raw = raw[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        values[m.group(1)] = raw
    target.unlink()
    return values


def event_source(mw):
    """The Event Log source's values; REG_EXPAND_SZ comes as hex(2) UTF-16 bytes."""
    values = registration(mw, r"HKLM\System\CurrentControlSet\Services\EventLog\Application\mosswarden")
    if values is None:
        return None
    raw = values.get("EventMessageFile", "")
    if raw.startswith("hex(2):"):
        data = bytes(int(b, 16) for b in raw[7:].replace("\\", "").replace(" ", "").split(",") if b)
        values["EventMessageFile"] = data.decode("utf-16-le").rstrip("\0")
    return values


def sc_state(mw):
    r = mw.run("query", "mosswarden", program="sc.exe")
    m = re.search(rb"STATE\s*:\s*\d+\s+(\w+)", r.out)
    return m.group(1).decode() if m else None


def wait_state(mw, wanted, seconds=15):
    deadline = time.monotonic() + seconds
    state = sc_state(mw)
    while state != wanted and time.monotonic() < deadline:
        time.sleep(0.25)
        state = sc_state(mw)
    return state


def kill_processes_under(folder):
    """Ends what the tests left running from their folders, matched by full command line."""
    needles = [str(folder).lower(), ("z:" + str(folder).replace("/", "\\")).lower()]
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace").lower()
        except OSError:
            continue
        if any(n in cmdline for n in needles):
            try:
                os.kill(int(entry.name), signal.SIGKILL)
            except OSError:
                pass


@pytest.fixture
def svc(mw, tmp_path):
    """The shared prefix has one "mosswarden" service: start and end every test without it."""
    mw.run("uninstall")
    yield mw
    mw.run("uninstall")
    kill_processes_under(tmp_path)


def install_lines_ok(r):
    assert (r.rc, r.err) == (0, b""), r.err.decode("utf-8", "replace")
    return lines(r.out)


def test_first_install_registers_and_starts_then_commands_control_it(svc):
    mw = svc
    place_connector_for_install(mw)
    ini = mw.win_dir + "\\mosswarden.ini"
    out = install_lines_ok(mw.run())
    assert (mw.dir / "mosswarden.ini").is_file()
    assert ("已收紧权限: %s 仅 SYSTEM 和管理员可改（Users 只读）；%s 仅 SYSTEM 和管理员可读写" % (mw.win_dir, ini)) in out
    tail = [line.format(ini=ini) for line in TOKEN_WARNING] + [
        REGISTERED,
        "已注册事件日志源 mosswarden（Windows 日志 → 应用程序）",
        "服务已启动",
    ]
    start = out.index(TOKEN_WARNING[0])
    assert out[start:start + len(tail)] == tail
    assert out[start + len(tail)] in ("当前状态: RUNNING", "当前状态: START_PENDING")
    assert out[-1] == "日志: " + mw.win_dir + "\\logs\\mosswarden-service.log"
    assert len(out) == start + len(tail) + 2

    reg = registration(mw)
    assert reg["ImagePath"] == '"' + mw.win_dir + '\\mosswarden.exe" --service'
    assert reg["Start"] == "dword:00000002"
    assert reg["Type"] == "dword:00000010"
    assert reg["ErrorControl"] == "dword:00000001"
    assert reg["DisplayName"] == "mosswarden (Cloudflare Tunnel 守护)"
    assert reg["Description"] == "自动下载并守护 cloudflared，把本机端口通过 Cloudflare Tunnel 暴露出去"
    assert wait_state(mw, "RUNNING") == "RUNNING"

    for word, expected in [("stop", "已停止"), ("--stop", "已停止")]:
        r = mw.run(word)
        assert (r.rc, r.err, lines(r.out)) == (0, b"", [expected])
    assert sc_state(mw) == "STOPPED"
    r = mw.run("start")
    assert (r.rc, r.err) == (0, b"")
    assert lines(r.out) in (["状态: RUNNING"], ["状态: START_PENDING"])
    assert wait_state(mw, "RUNNING") == "RUNNING"
    r = mw.run("--restart")
    assert (r.rc, r.err, lines(r.out)) == (0, b"", ["已重启"])
    assert wait_state(mw, "RUNNING") == "RUNNING"

    assert event_source(mw) == {"EventMessageFile": mw.win_dir + "\\mosswarden.exe", "TypesSupported": "dword:00000007"}
    for said in (["服务已删除", "已删除事件日志源 mosswarden"], ["服务未安装"]):
        r = mw.run("uninstall")
        assert (r.rc, r.err) == (0, b"")
        out = lines(r.out)
        assert out[:len(said) + 2] == said + ["以下文件未删除（不再需要请手动删除）：", "  " + ini + "（配置文件）"]
        assert event_source(mw) is None
        assert "  " + mw.win_dir + "\\cloudflared.exe" in out
        assert out[-1] == "  " + mw.win_dir + "\\logs（日志）"
        assert registration(mw) is None
    for word in ("start", "stop", "restart"):
        r = mw.run(word)
        assert (r.rc, r.out, r.err) == (5, b"", "服务未安装\r\n".encode("utf-8")), word


def test_second_install_from_another_folder_replaces_the_running_service(svc, tmp_path):
    first = svc
    place_connector_for_install(first)
    install_lines_ok(first.run("install"))
    assert wait_state(first, "RUNNING") == "RUNNING"

    other = tmp_path / "other"
    other.mkdir()
    second = Mosswarden(other)
    place_connector_for_install(second)
    out = install_lines_ok(second.run("--install"))
    at = out.index("原服务指向: \"" + first.win_dir + "\\mosswarden.exe\" --service")
    assert out[at + 1:at + 4] == [
        "新服务将指向: \"" + second.win_dir + "\\mosswarden.exe\" --service",
        "服务已存在，先卸载再装…",
        REGISTERED,
    ]
    assert registration(second)["ImagePath"] == '"' + second.win_dir + '\\mosswarden.exe" --service'
    assert wait_state(second, "RUNNING") == "RUNNING"


TOKEN_160 = "eyJh" + "Q" * 146 + "0123456789"


@pytest.mark.parametrize("ini, summary", [
    ("[tunnel]\nmode=token\ntoken=" + TOKEN_160 + "\n", ["token 已配置，长度 160"]),
    ("[tunnel]\nmode=config\ntunnel_id=6ff42ae2-765d-4adf-8112-31c55c1551ef\ncredentials=cred.json\n",
     ["已生成 {dir}\\config.yml",
      "config 模式：隧道 6ff42ae2-765d-4adf-8112-31c55c1551ef，路由 0 条",
      "提醒: [routes] 是空的，config.yml 里只有 404 兜底，流量进来会全是 404。"]),
], ids=["token-160", "config-no-routes"])
def test_install_summarises_the_tunnel_without_showing_the_token(svc, ini, summary):
    mw = svc
    place_connector_for_install(mw, ini)
    r = mw.run("install")
    out = install_lines_ok(r)
    expected = [line.format(dir=mw.win_dir) for line in summary] + [REGISTERED]
    at = out.index(expected[0])
    assert out[at:at + len(expected)] == expected
    assert TOKEN_160.encode() not in r.out + r.err
    if "config" in ini:
        assert (mw.dir / "config.yml").is_file()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_install_fails_with_3_when_the_connector_cannot_be_provisioned(svc):
    mw = svc
    write_ini(mw, "[cloudflared]\nurl=http://127.0.0.1:%d/cloudflared.exe\nchunks=1\ntimeout=10\n" % free_port())
    r = mw.run("install")
    assert r.rc == 3
    assert r.err == "cloudflared 落地失败，见日志\r\n".encode("utf-8")
    assert registration(mw) is None


def test_install_fails_with_2_when_the_ini_cannot_be_read(svc):
    mw = svc
    (mw.dir / "mosswarden.ini").mkdir()
    r = mw.run("install")
    assert r.rc == 2
    assert r.err.decode("utf-8").startswith("准备配置失败: ")
    assert registration(mw) is None


def test_status_without_ini_prints_exactly_four_lines(svc):
    mw = svc
    r = mw.run("status")
    assert (r.rc, r.err) == (0, b"")
    assert lines(r.out) == [
        "服务 mosswarden: 服务未安装",
        "程序路径: " + mw.win_dir + "\\mosswarden.exe",
        "配置文件: " + mw.win_dir + "\\mosswarden.ini（不存在）",
        "尚未初始化：先跑 --ini 生成配置，再跑 --install",
    ]
    assert not (mw.dir / "mosswarden.ini").exists()


def one_mib_log(path):
    """Exactly 1 MiB of log lines with blank lines between them; returns its last 12 non-blank lines."""
    entries = ["2026-01-02 03:04:05.678 [INFO] 条目 %06d 连接正常" % i for i in range(16000)]
    body = "".join(e + "\r\n\r\n  \r\n" for e in entries).encode("utf-8")
    body = b"x" * (1048576 - len(body)) + body
    assert len(body) == 1048576
    path.write_bytes(body)
    return entries[-12:]


def daily_log(mw):
    logs = mw.dir / "logs"
    logs.mkdir(exist_ok=True)
    return logs / ("mosswarden-" + time.strftime("%Y%m%d") + ".log")


def test_status_shows_connector_version_masked_token_and_service_log_tail(svc):
    mw = svc
    connector = mw.place_fake_connector("version=cloudflared version 2023.10.0 (stand-in)\n")
    write_ini(mw, "[tunnel]\ntoken=abcdefghijkl\n")
    daily_log(mw).write_bytes(b"daily line\r\n")
    tail = one_mib_log(mw.dir / "logs" / "mosswarden-service.log")
    r = mw.run("--status")
    assert (r.rc, r.err) == (0, b"")
    assert lines(r.out) == [
        "服务 mosswarden: 服务未安装",
        "程序路径: " + mw.win_dir + "\\mosswarden.exe",
        "配置文件: " + mw.win_dir + "\\mosswarden.ini",
        "cloudflared: %s\\cloudflared.exe (%d 字节, %s)" % (mw.win_dir, connector.stat().st_size, MACHINE),
        "版本: cloudflared version 2023.10.0 (stand-in)",
        "隧道模式: token，token: ****",
        "token 格式不对：解码后不是完整的 JSON 对象（复制不全？）",
        "守护进程: 未运行",
        "日志: " + mw.win_dir + "\\logs\\mosswarden-service.log",
    ] + ["  " + line for line in tail]


def test_status_of_a_non_pe_connector_and_the_daily_log(svc):
    mw = svc
    (mw.dir / "cloudflared.exe").write_bytes(b"not a program\r\n" * 100)
    write_ini(mw, "[tunnel]\nmode=config\ntoken=abcdefghijklmnopqrstuvwxyz\n")
    log = daily_log(mw)
    log.write_bytes("第一行\r\n\r\n第二行\r\n".encode("utf-8"))
    r = mw.run("status")
    assert (r.rc, r.err) == (0, b"")
    assert lines(r.out)[3:] == [
        "cloudflared: %s\\cloudflared.exe (1500 字节, unknown)" % mw.win_dir,
        "隧道模式: config，token: abcdef...wxyz (len=26)",
        "守护进程: 未运行",
        "日志: %s\\logs\\%s" % (mw.win_dir, log.name),
        "  第一行",
        "  第二行",
    ]


def test_status_without_connector_or_log(svc):
    mw = svc
    write_ini(mw, "[cloudflared]\nexe=bin\\cf.exe\n")
    r = mw.run("status")
    assert (r.rc, r.err) == (0, b"")
    assert lines(r.out)[3:] == [
        "cloudflared: 尚未下载（%s\\bin\\cf.exe）" % mw.win_dir,
        "隧道模式: token，token: (none)",
        "守护进程: 未运行",
        "日志: %s\\logs\\mosswarden-%s.log" % (mw.win_dir, time.strftime("%Y%m%d")),
        "(日志为空)",
    ]


def live_commands_in(folder):
    """Command lines of live (not defunct) processes that name the folder."""
    needles = [str(folder).encode(), ("Z:" + str(folder).replace("/", "\\")).encode()]
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmd = (entry / "cmdline").read_bytes()
            state = (entry / "stat").read_bytes().rsplit(b")", 1)[1].split()[0]
        except OSError:
            continue
        if state != b"Z" and any(n in cmd for n in needles):
            found.append(cmd)
    return found


def wait_until(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while not predicate():
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.2)


def test_second_daemon_on_one_ini_exits_6_and_one_connector_runs(svc):
    mw = svc
    mw.place_fake_connector("print=up\n")
    write_ini(mw, "[cloudflared]\nreuse=1\narch=%s\n" % MACHINE + sha_line() + "[supervisor]\nrestart_delay=1\n")
    first = subprocess.Popen([str(WINE_RUN), str(mw.exe), "daemon"], cwd=mw.dir, env=wine_env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        log = lambda: b"".join(f.read_bytes() for f in (mw.dir / "logs").glob("*.log")) if (mw.dir / "logs").exists() else b""
        wait_until(lambda: b"[CFD] up" in log(), 40, "the first connector")
        for word in ("daemon", "run"):
            r = mw.run(word, "--ini", "mosswarden.ini")
            assert r.rc == 6, (word, r.err)
            m = re.fullmatch(r"已有 mosswarden 在守护 (.+)（PID (\d+)）\r\n", r.err_text)
            assert m and m.group(1) == mw.win_dir + "\\mosswarden.ini" and int(m.group(2)) > 0, r.err_text
        connectors = [c for c in live_commands_in(mw.dir) if b"cloudflared.exe" in c and b"tunnel" in c]
        assert len(connectors) == 1, connectors
        assert log().count(b"[CFD] up") == 1
    finally:
        first.kill()
        first.wait()


def test_quiet_install_from_a_token_file_prints_nothing_and_the_service_gets_the_token(svc):
    mw = svc
    token = "eyJhIjoi" + "T" * 120 + "Zz0"
    mw.place_fake_connector("token=" + mw.win_dir + "\\token-seen.txt\n")
    write_ini(mw, "[cloudflared]\narch=%s\n" % MACHINE + sha_line() + "[tunnel]\nmode=token\ntoken=\n")
    (mw.dir / "token.txt").write_bytes(("\ufeff" + token + "\r\n").encode("utf-8"))
    r = mw.run("install", "--token-file", mw.win_dir + "\\token.txt", "--quiet")
    assert (r.rc, r.out, r.err) == (0, b"", b"")
    assert token.encode() in (mw.dir / "mosswarden.ini").read_bytes()
    wait_until(lambda: (mw.dir / "token-seen.txt").exists(), 30, "the connector")
    assert (mw.dir / "token-seen.txt").read_text(encoding="utf-8").strip() == token
    r = mw.run("status")
    assert "隧道模式: token，token: eyJhIj...TZz0 (len=131)\r\n" in r.out_text
    assert token.encode() not in r.out + r.err


@pytest.mark.parametrize("contents, error", [
    (None, "准备配置失败: 读取 token 文件失败: {tok}"),
    (b"\r\n  \r\n", "准备配置失败: token 文件是空的: {tok}"),
], ids=["missing", "blank"])
def test_install_with_an_unusable_token_file_exits_2(svc, contents, error):
    mw = svc
    place_connector_for_install(mw)
    if contents is not None:
        (mw.dir / "token.txt").write_bytes(contents)
    tok = mw.win_dir + "\\token.txt"
    r = mw.run("install", "--token-file", tok)
    assert (r.rc, r.err_text) == (2, error.format(tok=tok) + "\r\n")
    assert registration(mw) is None


def test_install_with_another_ini_registers_a_service_that_reads_it(svc):
    mw = svc
    conf = mw.dir / "conf dir"
    conf.mkdir()
    site = mw.win_dir + "\\conf dir\\site.ini"
    mw.place_fake_connector("print=from-site\n")
    (conf / "cloudflared.exe").write_bytes((mw.dir / "cloudflared.exe").read_bytes())
    (conf / "fakecfd.txt").write_bytes((mw.dir / "fakecfd.txt").read_bytes())
    (conf / "site.ini").write_bytes(("[cloudflared]\r\narch=%s\r\n" % MACHINE + stand_in_sha_line()).encode("utf-8"))
    out = install_lines_ok(mw.run("install", "--ini", site))
    assert out[-1] == "日志: " + mw.win_dir + "\\conf dir\\logs\\mosswarden-service.log"
    assert registration(mw)["ImagePath"] == '"%s\\mosswarden.exe" --service --ini "%s"' % (mw.win_dir, site)
    log = conf / "logs" / "mosswarden-service.log"
    wait_until(lambda: log.exists() and b"[CFD] from-site" in log.read_bytes(), 30, "the service's connector")
    assert not (mw.dir / "mosswarden.ini").exists()


def test_status_warns_of_an_ini_that_everyone_may_read(svc):
    mw = svc
    write_ini(mw, "[tunnel]\ntoken=abcdefghijkl\n")
    (mw.dir / "mosswarden.ini").chmod(0o644)
    r = mw.run("status")
    assert (r.rc, r.err) == (0, b"")
    out = lines(r.out)
    at = out.index("隧道模式: token，token: ****")
    assert out[at + 1:at + 3] == ["token 格式不对：解码后不是完整的 JSON 对象（复制不全？）", "守护进程: 未运行"]
    assert out[at + 3] == "警告: " + mw.win_dir + "\\mosswarden.ini 可被非管理员读取（WD）"
    assert out[at + 4].startswith("日志: ")


def start_daemon(mw):
    p = subprocess.Popen([str(WINE_RUN), str(mw.exe), "daemon"], cwd=mw.dir, env=wine_env(),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    log = lambda: b"".join(f.read_bytes() for f in (mw.dir / "logs").glob("mosswarden-2*.log")) if (mw.dir / "logs").exists() else b""
    wait_until(lambda: b"[CFD] up" in log(), 40, "the daemon's connector")
    return p, log


def run_value(mw):
    r = mw.run("query", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run", "/v", "mosswarden", program="reg.exe")
    return r.rc == 0


def test_elevated_install_takes_over_from_the_autostart_and_its_daemon(svc):
    mw = svc
    place_connector_for_install(mw, "[cloudflared]\nreuse=1\n")
    mw.place_fake_connector("print=up\n")
    r = mw.run("add", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run", "/v", "mosswarden", "/t", "REG_SZ",
               "/d", '"%s\\mosswarden.exe" --daemon' % mw.win_dir, "/f", program="reg.exe")
    assert r.rc == 0 and run_value(mw)
    daemon, log = start_daemon(mw)
    try:
        out = install_lines_ok(mw.run("install"))
        at = out.index("已清除登录自启项 HKCU\\...\\Run\\mosswarden（改由服务守护）")
        m = re.fullmatch(r"已停止后台守护（PID (\d+)）", out[at + 1])
        assert m, out
        assert daemon.wait(timeout=20) == 0
        assert b"\xe6\x94\xb6\xe5\x88\xb0\xe5\x81\x9c\xe6\xad\xa2\xe4\xbf\xa1\xe5\x8f\xb7" in log()  # 收到停止信号
        assert not run_value(mw)
        assert wait_state(mw, "RUNNING") == "RUNNING"
    finally:
        daemon.kill()
        daemon.wait()


def test_uninstall_ends_the_daemon_of_its_ini(svc):
    mw = svc
    mw.place_fake_connector("print=up\n")
    write_ini(mw, "[cloudflared]\nreuse=1\narch=%s\n" % MACHINE + sha_line())
    daemon, _ = start_daemon(mw)
    try:
        r = mw.run("uninstall")
        assert (r.rc, r.err) == (0, b"")
        out = lines(r.out)
        assert re.fullmatch(r"已停止后台守护（PID (\d+)）", out[0]) and out[1] == "服务未安装", out
        assert daemon.wait(timeout=20) == 0
        wait_until(lambda: not [c for c in live_commands_in(mw.dir) if b"cloudflared.exe" in c], 10, "no connector")
    finally:
        daemon.kill()
        daemon.wait()
