"""The supervisor end to end: the "run", "daemon" and "service" hostings around the connector stand-in."""
import os
import pty
import re
import select
import signal
import subprocess
import time
import uuid

import pytest

from conftest import ARCH, WINE_RUN, stand_in_sha_line, winpath, wine_env

# The stand-in has the bitness of the build under test, which "auto" would not pick on a 64-bit Wine.
ARCH_LINE = "arch=386\r\n" if ARCH == "x86" else "arch=amd64\r\n"
TOKEN = "eyJhIjoiY29uZmlndXJlZC10b2tlbi0xMjM0NTY3ODkwIn0"


def write_ini(mw, tunnel="", supervisor="", cloudflared=""):
    text = (
        "[cloudflared]\r\nreuse=1\r\n" + ARCH_LINE + stand_in_sha_line() + cloudflared +
        "[tunnel]\r\n" + tunnel +
        "[supervisor]\r\nrestart_delay=1\r\nmax_restart_delay=4\r\n" + supervisor
    )
    (mw.dir / "mosswarden.ini").write_bytes(text.encode("utf-8"))


def log_text(mw, name=None):
    logs = mw.dir / "logs"
    files = [logs / name] if name else sorted(logs.glob("mosswarden*.log")) if logs.exists() else []
    return "".join(f.read_bytes().decode("utf-8", "replace") for f in files if f.exists())


def wait_for(predicate, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def wait_log(mw, pattern, count=1, timeout=40, name=None):
    wait_for(lambda: log_text(mw, name).count(pattern) >= count, timeout, repr(pattern))


def live_processes_in(folder):
    """Live (not defunct) processes whose command line names the folder."""
    found = []
    needle = str(folder).encode()
    wneedle = winpath(folder).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cmd = open(f"/proc/{pid}/cmdline", "rb").read()
            state = open(f"/proc/{pid}/stat", "rb").read().rsplit(b")", 1)[1].split()[0]
        except OSError:
            continue
        if state != b"Z" and (needle in cmd or wneedle in cmd):
            found.append((pid, cmd))
    return found


def assert_nothing_left(mw):
    wait_for(lambda: not live_processes_in(mw.dir), 10, "no process of the test folder")


def log_lines(mw, name=None):
    """(time in seconds, level, text) of each log line."""
    out = []
    for line in log_text(mw, name).splitlines():
        m = re.match(r"\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3}) \[(\w+)\] (.*)$", line)
        if m:
            h, mi, s, ms = (int(x) for x in m.groups()[:4])
            out.append((h * 3600 + mi * 60 + s + ms / 1000.0, m.group(5), m.group(6)))
    return out


class PtyRun:
    """mosswarden.exe under a pseudo-terminal, so that Ctrl+C reaches its console handler."""

    def __init__(self, mw, *args, env=None):
        self.output = b""
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(mw.dir)
            os.execve(str(WINE_RUN), [str(WINE_RUN), str(mw.exe), *args], wine_env(env))

    def pump(self, seconds=0.2):
        end = time.time() + seconds
        while time.time() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    self.output += os.read(self.fd, 65536)
                except OSError:
                    return

    def ctrl_c_and_key(self, mw, timeout=30):
        os.write(self.fd, b"\x03")
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.pump(0.3)
            if "mosswarden 已退出" in log_text(mw):
                os.write(self.fd, b"x")
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                self.pump(0.2)
                return os.waitstatus_to_exitcode(status)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        raise AssertionError("run did not end after Ctrl+C and a key")

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        except (OSError, ChildProcessError):
            pass

    def wait_log(self, mw, pattern, count=1, timeout=40):
        def seen():
            self.pump(0.05)
            return log_text(mw).count(pattern) >= count
        wait_for(seen, timeout, repr(pattern))


@pytest.fixture
def pty_run():
    runs = []

    def start(mw, *args, env=None):
        runs.append(PtyRun(mw, *args, env=env))
        return runs[-1]

    yield start
    for run in runs:
        run.kill()


def test_run_passes_the_token_by_environment_restarts_after_exits_and_stops_on_ctrl_c(mw, pty_run):
    token_file, args_file, pid_file = mw.dir / "token.txt", mw.dir / "args.txt", mw.dir / "grand.txt"
    mw.place_fake_connector(
        f"token={winpath(token_file)}\nargs={winpath(args_file)}\n"
        "print=INF Registered tunnel connection connIndex=0\nsleep=300\nexit=1\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    run = pty_run(mw, "run", env={"TUNNEL_TOKEN": "stale-inherited-token"})
    run.wait_log(mw, "退出码 1（0x00000001）", count=2)
    # From now on the connector stays up and starts a grandchild that shares its output pipe.
    (mw.dir / "fakecfd.txt").write_text(
        f"grandchild=600000\ngrandpid={winpath(pid_file)}\nprint=staying up\n", encoding="utf-8")
    run.wait_log(mw, "[CFD] staying up")
    assert run.ctrl_c_and_key(mw) == 0

    assert token_file.read_text() == TOKEN
    assert args_file.read_bytes().decode() == f'"{winpath(mw.dir)}\\cloudflared.exe" --no-autoupdate tunnel run'
    text = log_text(mw)
    assert TOKEN not in text and TOKEN[:20] not in text
    assert text.count("(token 通过环境变量 TUNNEL_TOKEN 传入，不出现在命令行里)") >= 3
    assert text.count("已生成 ") == 1
    lines = log_lines(mw)
    waits = [t for _, lvl, t in lines if t.endswith("秒后重启")]
    assert waits[:2] == ["1 秒后重启", "1 秒后重启"]
    # The restart comes after the fixed delay, not at once.
    for i, (when, _, t) in enumerate(lines):
        if t == "1 秒后重启":
            nxt = next(w for w, _, u in lines[i:] if u.startswith("启动: "))
            assert nxt - when >= 0.9
    assert [t for _, _, t in lines[-2:]] == ["收到停止信号，退出", "mosswarden 已退出"]
    # Wine renders the console through the terminal's locale, which is not installed here: Chinese
    # shows as "?", so only the shape of "退出码 0" and the prompt line after it can be checked.
    assert re.search(rb"\?\?\? 0\r\r\n.*\?{6}", run.output, re.S), run.output[-300:]
    assert pid_file.read_text().strip() not in ("", "0")
    assert_nothing_left(mw)


def test_extra_args_reach_the_connector_before_run_and_no_line_carries_the_token(mw, pty_run):
    # The template's own example: the stand-in, like the real connector, rejects these flags after
    # "run" with "Incorrect Usage" and prints the token as the --token flag's default.
    args_file = mw.dir / "args.txt"
    mw.place_fake_connector(
        f"args={winpath(args_file)}\nprint=INF token seen: {TOKEN}\n"
        f"print=   --token value  (default: \"{TOKEN}\") [$TUNNEL_TOKEN] {TOKEN}\nprint=up\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\nextra_args=--loglevel debug --edge-ip-version 4\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "[CFD] up")
    assert run.ctrl_c_and_key(mw) == 0
    assert args_file.read_bytes().decode().endswith(" --no-autoupdate tunnel --loglevel debug --edge-ip-version 4 run")
    text = log_text(mw)
    assert "Incorrect Usage" not in text
    assert TOKEN not in text and TOKEN[:20] not in text
    masked = f"{TOKEN[:6]}...{TOKEN[-4:]} (len={len(TOKEN)})"
    assert f"[CFD] INF token seen: {masked}" in text
    assert f'(default: "{masked}") [$TUNNEL_TOKEN] {masked}' in text
    assert TOKEN.encode() not in run.output
    assert_nothing_left(mw)


def test_the_stand_in_rejects_tunnel_flags_after_run_and_shows_the_token_as_the_real_connector_does(mw):
    mw.place_fake_connector("print=up\nexit=0\n")
    result = mw.run("tunnel", "run", "--loglevel", "debug", program=mw.dir / "cloudflared.exe",
                    env={"TUNNEL_TOKEN": TOKEN})
    assert result.rc == 0
    err = result.err_text
    assert err.startswith("Incorrect Usage: flag provided but not defined: -loglevel\n")
    assert f'(default: "{TOKEN}") [$TUNNEL_TOKEN]' in err and "up" not in err.split("\n")


def test_provisioning_failures_back_off_then_a_connector_starts(mw, pty_run):
    # No connector and a download URL that refuses at once: provisioning fails without network.
    write_ini(mw, cloudflared="url=http://127.0.0.1:9/cloudflared.exe\r\n", tunnel=f"token={TOKEN}\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "秒后重试", count=4, timeout=90)
    mw.place_fake_connector("print=up\n")
    run.wait_log(mw, "[CFD] up", timeout=60)
    assert run.ctrl_c_and_key(mw) == 0
    retries = [t for _, lvl, t in log_lines(mw) if lvl == "ERROR" and t.endswith("秒后重试")]
    assert retries[:4] == ["1 秒后重试", "2 秒后重试", "4 秒后重试", "4 秒后重试"]
    assert_nothing_left(mw)


def test_saving_the_ini_restarts_the_connector_with_the_new_settings(mw, pty_run):
    args_file = mw.dir / "args.txt"
    mw.place_fake_connector(f"args={winpath(args_file)}\nprint=up\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "[CFD] up")
    time.sleep(1.1)  # a new time stamp even on coarse file times
    (mw.dir / "mosswarden.ini").write_bytes(
        ("[cloudflared]\r\nreuse=1\r\n" + ARCH_LINE + stand_in_sha_line() + "[tunnel]\r\nmode=config\r\ntunnel_id=0c8f3e4a-1111-2222-3333-444455556666\r\n"
         "extra_args=--loglevel debug\r\n[supervisor]\r\nrestart_delay=2\r\n").encode())
    run.wait_log(mw, "[CFD] up", count=2, timeout=40)
    assert run.ctrl_c_and_key(mw) == 0

    texts = [t for _, _, t in log_lines(mw)]
    i = texts.index("检测到 mosswarden.ini 变化，重启 cloudflared")
    assert texts[i + 1:i + 3] == ["cloudflared 退出，退出码 0（0x00000000）", "2 秒后重启"]
    yml = f"{winpath(mw.dir)}\\config.yml"
    starts = [t for t in texts if t.startswith("启动: ")]
    assert starts[-1].endswith(f'--no-autoupdate tunnel --config "{yml}" --loglevel debug run')
    assert args_file.read_bytes().decode().endswith(f'tunnel --config "{yml}" --loglevel debug run')
    assert texts.count("已生成 " + yml) == 1
    assert_nothing_left(mw)


def test_an_ini_held_open_when_its_change_is_noticed_keeps_the_old_settings(mw, pty_run):
    ini = mw.dir / "mosswarden.ini"
    # The first run locks the INI while changing it, and keeps it locked for a while.
    mw.place_fake_connector(f"print=up\nsleep=500\nholdfile={winpath(ini)}\nsleep=4000\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\nextra_args=--old\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "重新加载配置失败，继续用旧配置: ")
    (mw.dir / "fakecfd.txt").write_text("print=second\n", encoding="utf-8")
    run.wait_log(mw, "[CFD] second")
    assert run.ctrl_c_and_key(mw) == 0
    texts = [t for _, _, t in log_lines(mw)]
    warn = next(t for t in texts if t.startswith("重新加载配置失败"))
    assert "读取配置失败: " in warn and winpath(ini) in warn
    assert [t for t in texts if t.startswith("启动: ")][-1].endswith("tunnel --old run")
    assert_nothing_left(mw)


def test_service_typed_into_a_console_runs_in_the_foreground(mw, pty_run):
    mw.place_fake_connector("grandchild=600000\nprint=up\n")
    write_ini(mw)
    run = pty_run(mw, "--service")
    run.wait_log(mw, "[CFD] up")
    assert run.ctrl_c_and_key(mw) == 0
    assert "token 为空：cloudflared 会立即退出，填好 token 之前隧道不会启动。" in log_text(mw)
    assert re.search(rb"\?\?\? 0\r\r\n", run.output), run.output[-300:]
    assert_nothing_left(mw)


def test_daemon_killed_takes_its_connector_and_grandchild_along(mw):
    mw.place_fake_connector("grandchild=600000\nprint=up\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    p = subprocess.Popen([str(WINE_RUN), str(mw.exe), "daemon"], cwd=mw.dir, env=wine_env(),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_log(mw, "[CFD] up")
        assert len(live_processes_in(mw.dir)) >= 3  # mosswarden, connector, grandchild
    finally:
        p.kill()
        p.wait()
    assert_nothing_left(mw)


def test_run_with_an_unreadable_ini_fails_before_supervising(mw):
    (mw.dir / "mosswarden.ini").mkdir()  # exists, but cannot be read as a file
    r = mw.run("run")
    assert r.rc == 2
    assert r.err_text.startswith("准备配置失败: ")
    assert not (mw.dir / "logs").exists() or "mosswarden 启动" not in log_text(mw)


def sc(*args):
    p = subprocess.run([str(WINE_RUN), "sc.exe", *args], env=wine_env(), capture_output=True, timeout=60)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def test_service_under_the_service_manager_warns_without_registration_and_stops(mw):
    name = "mwsup-" + uuid.uuid4().hex[:10]
    mw.place_fake_connector("grandchild=600000\nprint=waiting\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n", supervisor="heartbeat_warn_sec=30\r\n")
    rc, out = sc("create", name, "binPath=", f'"{winpath(mw.exe)}" --service')
    assert rc == 0, out
    try:
        rc, out = sc("start", name)
        assert rc == 0, out
        log = "mosswarden-service.log"
        wait_log(mw, "[CFD] waiting", name=log)
        wait_log(mw, '秒未看到 "Registered tunnel connection"，隧道可能没通', name=log, timeout=60)
        rc, out = sc("stop", name)
        assert rc == 0 and "STOP_PENDING" in out, out
        wait_for(lambda: "STOPPED" in sc("query", name)[1], 15, "STOPPED")
    finally:
        sc("stop", name)
        sc("delete", name)
    lines = log_lines(mw, "mosswarden-service.log")
    texts = [t for _, _, t in lines]
    warn = next(t for t in texts if t.startswith("已 "))
    assert 30 <= int(warn.split()[1]) <= 35
    assert texts[-2:] == ["收到停止信号，退出", "mosswarden 已退出"]
    assert TOKEN not in log_text(mw, "mosswarden-service.log")
    assert_nothing_left(mw)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_a_connector_that_exits_before_registering_backs_off_and_gets_the_token_hint(mw, pty_run):
    runlog = mw.dir / "runs.txt"
    mw.place_fake_connector(f"runlog={winpath(runlog)}\nprint=Provided Tunnel token is not valid.\nexit=255\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n", supervisor=f"metrics=127.0.0.1:{free_port()}\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "秒后重启", count=4)
    assert run.ctrl_c_and_key(mw) == 0
    texts = [t for _, _, t in log_lines(mw)]
    waits = [t for t in texts if t.endswith("秒后重启")]
    assert waits[:4] == ["1 秒后重启", "2 秒后重启", "4 秒后重启", "4 秒后重启"]
    hint = "看起来是认证/注册失败：token 复制不全、隧道已删除，或该 token 属于别的隧道"
    # Once per run: one hint for each start.
    assert texts.count(hint) == runlog.read_text().count("run ")
    assert "cloudflared 退出，退出码 255（0x000000FF）" in texts
    assert_nothing_left(mw)


def test_a_tunnel_that_stays_unready_is_restarted_and_health_tells_its_state(mw, pty_run):
    port = free_port()
    mw.place_fake_connector("print=INF Registered tunnel connection connIndex=0\nsleep=2000\nready=4\nsleep=7000\nready=0\n")
    write_ini(mw, tunnel=f"token={TOKEN}\r\n", supervisor=f"metrics=127.0.0.1:{port}\r\nunready_restart_sec=30\r\n")
    r = mw.run("health")
    assert (r.rc, r.err) == (2, b"")
    assert r.out_text.startswith(f"健康: 未运行（127.0.0.1:{port} 没有应答: ")
    run = pty_run(mw, "run")
    run.wait_log(mw, "隧道可用连接: 0 → 4", timeout=30)
    r = mw.run("health")
    assert (r.rc, r.out_text) == (0, "健康: 就绪（4 条连接）\r\n")
    run.wait_log(mw, "隧道可用连接: 4 → 0", timeout=30)
    r = mw.run("health")
    assert (r.rc, r.out_text) == (1, "健康: 未就绪（0 条连接）\r\n")
    run.wait_log(mw, "没有可用连接，重启 cloudflared", timeout=60)
    run.wait_log(mw, "cloudflared 已启动，PID", count=2, timeout=30)
    assert run.ctrl_c_and_key(mw) == 0
    lines = log_lines(mw)
    texts = [t for _, _, t in lines]
    assert f"[CFD] INF Starting metrics server on 127.0.0.1:{port}/metrics" in log_text(mw)
    when_ready = next(w for w, _, t in lines if t == "隧道可用连接: 0 → 4")
    warn_at, warn = next((w, t) for w, _, t in lines if t.endswith("没有可用连接，重启 cloudflared"))
    seconds = int(warn.split()[1])
    # The last ready answer came at most one poll before "4 → 0"; detection within the limit plus a poll.
    assert 30 <= seconds <= 36, warn
    assert warn_at - when_ready <= 30 + 7 + 6
    i = texts.index(warn)
    assert texts[i + 1] == "cloudflared 退出，退出码 0（0x00000000）"
    assert texts[i + 2] == "1 秒后重启"
    assert_nothing_left(mw)


def test_an_ini_saved_while_provisioning_keeps_failing_is_used_at_once(mw, pty_run):
    write_ini(mw, cloudflared="url=http://127.0.0.1:9/cloudflared.exe\r\n", tunnel=f"token={TOKEN}\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "4 秒后重试", timeout=60)
    mw.place_fake_connector("print=up\n")
    time.sleep(1.1)
    write_ini(mw, tunnel=f"token={TOKEN}\r\n")
    run.wait_log(mw, "[CFD] up", timeout=8)
    assert run.ctrl_c_and_key(mw) == 0
    lines = log_lines(mw)
    saved_seen = next(w for w, _, t in lines if t == "检测到 mosswarden.ini 变化，重新加载配置")
    up = next(w for w, _, t in lines if t == "up")
    assert up - saved_seen < 3
    assert_nothing_left(mw)


def test_status_shows_the_running_tunnel_from_the_supervisors_state(mw, pty_run):
    import base64
    tunnel_id = "0c8f3e4a-1111-2222-3333-444455556666"
    token = base64.b64encode(('{"a":"0123456789abcdef","t":"%s","s":"c2VjcmV0"}' % tunnel_id).encode()).decode()
    port = free_port()
    mw.place_fake_connector("print=INF Registered tunnel connection connIndex=0\nready=3\n")
    write_ini(mw, tunnel=f"token={token}\r\n", supervisor=f"metrics=127.0.0.1:{port}\r\n")
    run = pty_run(mw, "run")
    run.wait_log(mw, "隧道可用连接: 0 → 3", timeout=30)
    r = mw.run("status")
    out = r.out_text.split("\r\n")
    assert "隧道 ID: " + tunnel_id in out
    assert token not in r.out_text
    at = next(i for i, line in enumerate(out) if line.startswith("守护进程: PID "))
    assert re.fullmatch(r"cloudflared 进程: PID \d+，已运行 0:00:\d\d", out[at + 1]), out[at + 1]
    assert out[at + 2:at + 4] == ["隧道可用连接: 3", "近一小时重启: 0 次"]
    assert run.ctrl_c_and_key(mw) == 0
    assert mw.run("status").out_text.count("守护进程: 未运行") == 1
    assert_nothing_left(mw)
