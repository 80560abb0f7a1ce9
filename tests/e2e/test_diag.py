"""Diagnostics: "clientcmd", "tlsfix", "checknet" and "selftest", black box under Wine."""
import re
import socket
import sys

import pytest

from conftest import ARCH, ROOT

CLIENT_LINES = [
    "在【另一台电脑】（你要用来连过去的那台）上执行：",
    "",
    "  1) 装一份 cloudflared（Win10/11 直接用最新版即可）",
    "  2) 建本地隧道口：",
    "       cloudflared access rdp --hostname {host} --url rdp://localhost:{port}",
    "  3) 另开一个窗口连桌面：",
    "       mstsc /v:127.0.0.1:{port}",
    "",
    "说明：",
    "  - access 进程要一直开着，关掉就断；建议做成开机自启",
    "  - 本地端口故意不用 3389，避免和客户端自己的远程桌面服务撞车",
    "  - 首次连接会弹浏览器，用 Access 策略里放行的身份登录一次，令牌会缓存",
    "  - 走 SSH 就把 rdp 换成 ssh，端口换成 22，然后 ssh -p {port} user@127.0.0.1",
]


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("utf-8")


@pytest.mark.parametrize("args, host, port", [
    (["clientcmd"], "rdp.example.com", "13389"),
    (["--clientcmd", "rdp-host", "--port", "40000"], "rdp-host", "40000"),
    (["CLIENTCMD", "--port", "abc"], "rdp.example.com", "13389"),
    (["clientcmd", "--PORT", "40000"], "40000", "13389"),
    (["clientcmd", "主机.example.com", "--ini", "x.ini"], "x.ini", "13389"),
])
def test_clientcmd_prints_the_13_lines(mw, args, host, port):
    r = mw.run(*args)
    assert (r.rc, r.err) == (0, b"")
    assert r.out == crlf(line.format(host=host, port=port) for line in CLIENT_LINES)
    assert not (mw.dir / "mosswarden.ini").exists()


# (key, value name, data) that tlsfix writes; the x86 build writes its own (32-bit) registry view.
TLS_VALUES = [
    (r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings", "SecureProtocols", 0xA80),
    (r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\WinHttp", "DefaultSecureProtocols", 0xA00),
    (r"HKLM\SYSTEM\CurrentControlSet\Control\SecurityProviders\SCHANNEL\Protocols\TLS 1.2\Client", "Enabled", 1),
    (r"HKLM\SYSTEM\CurrentControlSet\Control\SecurityProviders\SCHANNEL\Protocols\TLS 1.2\Client",
     "DisabledByDefault", 0),
]
VIEW = "/reg:64" if ARCH == "x64" else "/reg:32"


def reg_dword(mw, key, name):
    r = mw.run("query", key, "/v", name, VIEW, program="reg.exe")
    assert r.rc == 0, r.out + r.err
    m = re.search(r"^\s*" + re.escape(name) + r"\s+(REG_\w+)\s+0x([0-9a-fA-F]+)\s*$", r.out.decode("utf-8"), re.M)
    assert m, r.out
    return m.group(1), int(m.group(2), 16)


def test_tlsfix_writes_the_dwords_and_reports_the_same_twice(mw):
    # Other values first, so the read-back proves this run wrote them.
    for key, name, data in TLS_VALUES:
        r = mw.run("add", key, "/v", name, "/t", "REG_DWORD", "/d", str(data ^ 0x7), "/f", VIEW, program="reg.exe")
        assert r.rc == 0, r.err
    expected = crlf([
        "已写入:",
        "  + HKCU Internet Settings\\SecureProtocols = 0xA80 (TLS1.0/1.1/1.2)",
        "  + HKLM ...\\WinHttp\\DefaultSecureProtocols = 0xA00 (TLS1.1/1.2)",
        "  + HKLM SCHANNEL\\Protocols\\TLS 1.2\\Client Enabled=1, DisabledByDefault=0",
        "",
        "写完后建议重启一次系统，再用 --checknet 复验；Windows 7 的 WinHTTP 要装了更新 KB3140245 才认这些设置。",
    ])
    for word in ("tlsfix", "--tlsfix"):
        r = mw.run(word)
        assert (r.rc, r.out, r.err) == (0, expected, b"")
        for key, name, data in TLS_VALUES:
            assert reg_dword(mw, key, name) == ("REG_DWORD", data), name


def test_tlsfix_creates_the_winhttp_key_in_both_registry_views(mw):
    key, name, data = TLS_VALUES[1]
    for view in ("/reg:64", "/reg:32"):
        mw.run("delete", key, "/f", view, program="reg.exe")
    r = mw.run("tlsfix")
    assert r.rc == 0
    for view in ("/reg:64", "/reg:32"):
        q = mw.run("query", key, "/v", name, view, program="reg.exe")
        assert q.rc == 0, (view, q.out + q.err)
        assert re.search(r"REG_DWORD\s+0x0*a00\b", q.out.decode("utf-8"), re.I), (view, q.out)


BITS = {"x64": ("x64", "amd64", "Windows 7 build 7601 (x64, 32/64: native)"),
        "x86": ("x86", "386", "Windows 7 build 7601 (x64, 32/64: native, WOW64)")}


@pytest.mark.parametrize("word", ["selftest", "--selftest"])
def test_selftest_passes_all_10_checks_and_creates_the_ini(mw, word):
    bits, machine, os_text = BITS[ARCH]
    r = mw.run(word)
    assert (r.rc, r.err) == (0, b"")
    text = r.out.decode("utf-8")
    ini = mw.win_dir + "\\mosswarden.ini"
    yml_line = re.search(r"^\[ OK \] config\.yml 生成 — (\d+) 字节\r$", text, re.M)
    assert yml_line and int(yml_line.group(1)) > 0
    assert r.out == crlf([
        "== 环境 ==",
        "[ OK ] 操作系统 >= Windows 7 — " + os_text,
        "[ OK ] 本进程位数 — " + bits,
        "       需要的 cloudflared 资产: cloudflared-windows-amd64.exe",
        "       管理员: 是",
        "       程序目录: " + mw.win_dir,
        "",
        "== SHA256 实现 ==",
        "[ OK ] 向量 1 — e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
        "[ OK ] 向量 2 — ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        "[ OK ] 向量 3 — d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592",
        "[ OK ] 文件摘要 == 内存摘要 — ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        "",
        "== PE 头识别 ==",
        "[ OK ] 识别本程序机器类型 — " + machine,
        "",
        "== 配置 / YAML ==",
        "[ OK ] ini 就绪 — " + ini,
        "[ OK ] ini 解析 — mode=token, version=2023.10.0",
        "[ OK ] config.yml 生成 — %s 字节" % yml_line.group(1),
        "       cloudflared: " + mw.win_dir + "\\cloudflared.exe（未下载）",
        # Wine reads the Unix mode (0644) of the INI it wrote as a DACL that lets everyone read.
        "       警告: " + ini + " 可被非管理员读取（WD）",
        "",
        "全部通过。",
    ])
    assert r.out.count(b"[ OK ] ") == 10
    assert (mw.dir / "mosswarden.ini").is_file()
    assert not (mw.dir / ".sha_probe.tmp").exists()
    assert not (mw.dir / "config.yml").exists()


def test_selftest_sees_a_present_connector(mw):
    mw.place_fake_connector()
    r = mw.run("selftest")
    assert r.rc == 0
    assert ("       cloudflared: " + mw.win_dir + "\\cloudflared.exe（已存在）\r\n").encode("utf-8") in r.out


def test_selftest_with_a_directory_as_ini_fails_the_two_ini_checks(mw):
    folder = mw.dir / "conf.d"
    folder.mkdir()
    path = mw.win_dir + "\\conf.d"
    r = mw.run("selftest", "--ini", path)
    assert r.rc == 1
    assert r.err == crlf([
        "[FAIL] ini 就绪 — " + path,
        "[FAIL] ini 解析 — 读取配置失败: " + path,
        "2 项失败。",
    ])
    assert r.out.count(b"[ OK ] ") == 7
    assert r.out.endswith(crlf(["== 配置 / YAML ==", ""]))
    assert "config.yml 生成".encode("utf-8") not in r.out + r.err
    assert b"cloudflared: " not in r.out
    assert not (mw.dir / ".sha_probe.tmp").exists()


TRACE = b"fl=1f1\nh=127.0.0.1\nip=127.0.0.1\ntls=off\n"
NO_PROXY = "代理: 未配置 proxy=，使用 WinHTTP 默认设置"


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    sys.path.insert(0, str(ROOT / "tests" / "support"))
    from http_fault_server import FaultServer
    root = tmp_path_factory.mktemp("www")
    (root / "trace.txt").write_bytes(TRACE)
    (root / "b200.txt").write_bytes(b"x" * 199 + b"y")
    (root / "b201.txt").write_bytes(b"x" * 200 + b"z")
    with FaultServer(root=str(root)) as srv:
        yield srv


def checknet_ok(r, proxy_line=NO_PROXY):
    """Exit code 0, nothing on stderr, the proxy line first; returns (status, byte count, excerpt bytes)."""
    assert (r.rc, r.err) == (0, b""), r.err
    first = crlf([proxy_line])
    assert r.out.startswith(first), r.out[:300]
    m = re.match(rb"HTTP (\d+)\xef\xbc\x8c(\d+) \xe5\xad\x97\xe8\x8a\x82\xef\xbc\x8c\xe8\x80\x97\xe6\x97\xb6 \d+ ms\r\n"
                 rb"\xe5\x93\x8d\xe5\xba\x94\xe7\x89\x87\xe6\xae\xb5: (.*)\Z", r.out[len(first):], re.S)
    assert m, r.out[:300]
    return int(m.group(1)), int(m.group(2)), m.group(3)


@pytest.mark.parametrize("name, size, excerpt", [
    # The excerpt ends with the body's own LF: no further line end.
    ("trace.txt", len(TRACE), TRACE),
    ("b200.txt", 200, b"x" * 199 + b"y\r\n"),
    ("b201.txt", 201, b"x" * 200 + b"\r\n"),
])
def test_checknet_200_prints_status_size_and_excerpt(mw, server, name, size, excerpt):
    status, count, shown = checknet_ok(mw.run("checknet", server.url("/static/" + name)))
    assert (status, count, shown) == (200, size, excerpt)


def test_checknet_follows_a_redirect_and_reports_the_final_200(mw, server):
    target = server.url("/static/trace.txt")
    status, count, _ = checknet_ok(mw.run("--checknet", server.url("/static/b200.txt?redirect=" + target)))
    assert (status, count) == (200, len(TRACE))


def test_checknet_empty_body(mw, server):
    status, count, shown = checknet_ok(mw.run("checknet", server.url("/file/0")))
    assert (status, count, shown) == (200, 0, b"\r\n")


def test_checknet_204_has_no_body(mw, server):
    status, count, shown = checknet_ok(mw.run("checknet", server.url("/file/10?status=204")))
    assert (status, count, shown) == (204, 0, b"\r\n")


def test_checknet_reads_a_10_mib_body_only_to_just_over_4_mib(mw, server):
    status, count, _ = checknet_ok(mw.run("checknet", server.url("/file/%d" % (10 * 1024 * 1024))))
    assert status == 200
    assert 4 * 1024 * 1024 < count <= 4 * 1024 * 1024 + 65536


@pytest.mark.parametrize("make_url, lines", [
    (lambda s: s.url("/static/missing.txt"),
     ["请求失败: HTTP 状态码 404", "网络是通的，服务器返回了 HTTP 404：检查 URL 是否正确"]),
    (lambda s: s.url("/static/trace.txt?status=403"),
     ["请求失败: HTTP 状态码 403", "网络是通的，服务器返回了 HTTP 403：检查 URL 是否正确"]),
    (lambda s: "127.0.0.1:%d/static/trace.txt" % s.port, ["请求失败: URL 解析失败: 127.0.0.1:{port}/static/trace.txt"]),
    (lambda s: "ftp://127.0.0.1:%d/x" % s.port, ["请求失败: URL 解析失败: ftp://127.0.0.1:{port}/x"]),
])
def test_checknet_failures_print_the_error_and_the_advice_that_fits(mw, server, make_url, lines):
    r = mw.run("checknet", make_url(server))
    assert (r.rc, r.out) == (1, crlf([NO_PROXY]))
    assert r.err == crlf(line.format(port=server.port) for line in lines)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_checknet_connection_refused_reads_as_such_without_tls_advice(mw, server):
    r = mw.run("checknet", "http://127.0.0.1:%d/" % free_port())
    assert (r.rc, r.out) == (1, crlf([NO_PROXY]))
    assert r.err == crlf(["请求失败: 12029: 无法连接到服务器", "连不上服务器：检查网络和防火墙；可在 INI 里配 proxy= 走代理"])


def test_checknet_uses_the_ini_proxy_and_says_so(mw, server):
    proxy = "http://127.0.0.1:%d" % server.proxy_port
    (mw.dir / "mosswarden.ini").write_text("[cloudflared]\r\nproxy=%s\r\n" % proxy, encoding="utf-8")
    status, count, _ = checknet_ok(mw.run("checknet", server.url("/static/trace.txt?tag=cn-proxy")),
                                   proxy_line="代理: 使用配置 " + proxy)
    assert (status, count) == (200, len(TRACE))
    assert len(server.proxy_log("cn-proxy")) == 1, "the request passed the proxy"

    # A proxy that refuses: the advice names the proxy, not the server.
    (mw.dir / "mosswarden.ini").write_text("[cloudflared]\r\nproxy=127.0.0.1:%d\r\n" % free_port(), encoding="utf-8")
    r = mw.run("checknet", server.url("/static/trace.txt"))
    assert r.rc == 1
    assert r.err.decode("utf-8").split("\r\n")[1] == "连不上代理：检查 INI 里的 proxy= 地址和端口，以及代理程序是否在运行"


def test_checknet_with_only_options_uses_the_default_url(mw):
    # No network here: the default https URL cannot be reached, whatever the WinHTTP error.
    r = mw.run("checknet", "--ini", "x.ini")
    assert (r.rc, r.out) == (1, crlf([NO_PROXY]))
    lines = r.err.decode("utf-8").split("\r\n")
    assert lines[0].startswith("请求失败: ") and not lines[0].startswith("请求失败: 请求失败: ")
    assert "先跑 --tlsfix" not in r.err.decode("utf-8")
    assert not (mw.dir / "x.ini").exists()


def test_a_winhttp_dll_planted_beside_the_program_is_not_loaded(mw, server):
    # Not a DLL at all: were it loaded (a static import looks in the program's folder first), the
    # program could not start.
    (mw.dir / "winhttp.dll").write_bytes(b"MZ planted, not a library" + b"\0" * 4096)
    status, count, _ = checknet_ok(mw.run("checknet", server.url("/file/0")))
    assert (status, count) == (200, 0)
