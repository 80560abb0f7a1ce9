"""The command line: dispatch, usage text, version lines and the console output rules."""
import pytest

from conftest import ARCH

USAGE = [
    "mosswarden —— Win7 可用的 cloudflared 引导 + 守护程序",
    "",
    "用法: mosswarden.exe [命令] [--ini 路径]",
    "",
    "  (无参数)      建 ini、装依赖、注册服务并启动（需要管理员）",
    "  --install     同上",
    "  --uninstall   停止并删除服务，同时清掉登录自启项",
    "  --start       启动服务",
    "  --stop        停止服务",
    "  --restart     重启服务",
    "  --status      查看服务/二进制/日志尾部",
    "  --health      隧道健康一行：就绪退出码 0，未就绪 1，未运行 2（给脚本/监控用）",
    "  --run         前台运行守护循环（Ctrl+C 退出，排障用）",
    "  --daemon      后台运行守护循环（隐藏窗口，非管理员场景由 Run 键拉起）",
    "  --ensure      只下载 cloudflared + 生成 config.yml，不装服务",
    "  --download    强制重新下载 cloudflared",
    "  --tlsfix      写入 Win7 的 TLS1.2 注册表项（下载 https 报错时用）",
    "  --checknet [url]  用 WinHTTP 拉一次小文件，验证出网/TLS",
    "  --selftest    本机自检：SHA256 向量、PE 识别、ini/YAML 往返",
    "  --clientcmd <hostname> [--port 13389]  打印另一台电脑要执行的连接命令",
    "  --yaml        重新生成 config.yml",
    "  --ini         生成默认 mosswarden.ini（已存在则不覆盖）",
    "  --service     服务内部入口，不要手动调用",
    "  --version     版本信息",
    "",
    "无人值守安装: --install --token-file <文件> [--quiet]",
    "  --token-file  从文件读 token 写进 ini（不打印 token）",
    "  --quiet       不打印进度和提示，只在出错时写标准错误",
    "  --ini 路径    用别处的 ini；--install 注册的服务/自启项也带上它",
    "",
    "退出码: 0 成功；1 未知命令、参数不对、网络检查或自检失败；2 ini 读写失败；",
    "        3 cloudflared 落地或 config.yml 失败；4 写登录自启失败；",
    "        5 服务操作失败或未达到预期状态；6 已有 mosswarden 在守护同一个 ini",
    "",
]


def usage_bytes(mw):
    lines = USAGE + ["默认配置文件: " + mw.win_dir + "\\mosswarden.ini"]
    return "".join(line + "\r\n" for line in lines).encode("utf-8")


@pytest.mark.parametrize("word", ["help", "--help", "-h", "/?", "HELP", "-H", "--Help"])
def test_help_forms_print_usage_exactly(mw, word):
    r = mw.run(word)
    assert (r.rc, r.err) == (0, b"")
    assert r.out == usage_bytes(mw)


def test_help_names_the_default_ini_even_with_ini_option(mw):
    r = mw.run("help", "--ini", "D:\\x.ini")
    assert r.rc == 0
    assert r.out == usage_bytes(mw)


def test_unknown_word_is_reported_folded_then_usage_and_exit_1(mw):
    r = mw.run("FooBar")
    assert r.rc == 1
    assert r.err == "未知命令: foobar\r\n".encode("utf-8")
    assert r.out == usage_bytes(mw)


@pytest.mark.parametrize("word", ["version", "--version", "VERSION"])
def test_version_lines(mw, word):
    r = mw.run(word)
    assert r.rc == 0
    if ARCH == "x64":
        expected = ("mosswarden 1.1.0 (Win7 SP1 目标构建, 本进程 x64)\r\n"
                    "Windows 7 build 7601 (x64, 32/64: native)\r\n")
    else:
        expected = ("mosswarden 1.1.0 (Win7 SP1 目标构建, 本进程 x86)\r\n"
                    "Windows 7 build 7601 (x64, 32/64: native, WOW64)\r\n")
    assert r.out == expected.encode("utf-8")
    assert not r.out.startswith(b"\xef\xbb\xbf")

