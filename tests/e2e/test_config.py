"""The "ini" and "yaml" commands: the default INI on disk, config.yml, encodings and exit codes."""
import pytest

from conftest import winpath, wine_env

BOM = b"\xef\xbb\xbf"
HEADER = "# 由 mosswarden 生成，每次启动会覆盖；要改请改 mosswarden.ini"
DEFAULT_YML = [HEADER, "no-autoupdate: true", "loglevel: info", "ingress:", "  - service: http_status:404"]


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("utf-8")


def check_template(data):
    assert data.startswith(BOM + b"; " + b"=" * 60 + b"\r\n")
    assert data.count(b"\r\n") == 86
    assert data.endswith(b"\r\nunready_restart_sec=300\r\n")
    assert b"\n" not in data.replace(b"\r\n", b"")


@pytest.mark.parametrize("word", ["ini", "--ini", "INI"])
def test_ini_writes_the_template_once_then_reports_it_exists(mw, word):
    ini = mw.dir / "mosswarden.ini"
    path = mw.win_dir + "\\mosswarden.ini"
    r = mw.run(word)
    assert (r.rc, r.err) == (0, b"")
    assert r.out == ("已写入默认配置: " + path + "\r\n").encode("utf-8")
    check_template(ini.read_bytes())

    ini.write_bytes(b"[tunnel]\r\nmode=config\r\n")
    r = mw.run(word)
    assert (r.rc, r.err) == (0, b"")
    assert r.out == ("配置已存在: " + path + "\r\n").encode("utf-8")
    assert ini.read_bytes() == b"[tunnel]\r\nmode=config\r\n"


@pytest.mark.parametrize("args, chosen", [
    (["ini", "--ini", "{a}"], "a"),
    (["--ini", "{a}"], "a"),
    (["ini", "--INI", "{a}", "--ini", "{b}"], "a"),
    (["ini", "x", "--ini", "{b}"], "b"),
    (["ini", "--ini"], "default"),
])
def test_ini_option_positions(mw, tmp_path, args, chosen):
    paths = {"a": tmp_path / "new" / "sub" / "a.ini", "b": tmp_path / "b.ini", "default": mw.dir / "mosswarden.ini"}
    argv = [arg.format(a=winpath(paths["a"]), b=winpath(paths["b"])) for arg in args]
    r = mw.run(*argv)
    assert r.rc == 0, r.err
    assert r.out == ("已写入默认配置: " + winpath(paths[chosen]) + "\r\n").encode("utf-8")
    assert [name for name, p in paths.items() if p.exists()] == [chosen]
    check_template(paths[chosen].read_bytes())


def test_ini_onto_a_directory_exits_2(mw):
    (mw.dir / "taken.ini").mkdir()
    path = mw.win_dir + "\\taken.ini"
    r = mw.run("ini", "--ini", path)
    assert (r.rc, r.out) == (2, b"")
    assert r.err == ("无法写入默认配置: " + path + "\r\n").encode("utf-8")


@pytest.mark.parametrize("word", ["yaml", "--yaml", "YAML"])
def test_yaml_with_defaults_writes_and_prints_five_lines(mw, word):
    r = mw.run(word)
    assert (r.rc, r.err) == (0, b"")
    target = mw.win_dir + "\\config.yml"
    assert r.out == ("已生成 " + target + "\r\n").encode("utf-8") + crlf(DEFAULT_YML)
    assert (mw.dir / "config.yml").read_bytes() == crlf(DEFAULT_YML)
    check_template((mw.dir / "mosswarden.ini").read_bytes())
    assert (mw.dir / "logs").is_dir()


INI_TEXT = (
    "; 中文注释，全角标点\r\n"
    "[Tunnel]\r\n"
    "mode = Config ; 本地托管\r\n"
    "tunnel_id=中文隧道\r\n"
    "credentials=c.json\r\n"
    "[routes]\r\n"
    "3_hostname=a.example.com\r\n"
    "3_service=tcp://localhost:3389\r\n"
    "3_http_host_header=it's\r\n"
    "7_service=tcp://localhost:22\r\n"
)


def encode(text, encoding):
    if encoding == "utf-16-le":
        return b"\xff\xfe" + text.encode("utf-16-le")
    if encoding == "utf-16-be":
        return b"\xfe\xff" + text.encode("utf-16-be")
    return text.encode(encoding)


@pytest.mark.parametrize("encoding", ["utf-8-sig", "utf-8", "utf-16-le", "utf-16-be", "gbk"])
def test_every_notepad_encoding_gives_the_same_config_yml(mw, tmp_path, encoding):
    if encoding == "gbk" and not wine_env()["LC_ALL"].startswith("zh_CN"):
        pytest.skip("the ANSI code page is GBK only with LC_ALL=zh_CN.UTF-8")
    folder = tmp_path / "cfg"
    folder.mkdir()
    (folder / "m.ini").write_bytes(encode(INI_TEXT, encoding))
    r = mw.run("yaml", "--ini", winpath(folder / "m.ini"))
    assert (r.rc, r.err) == (0, b""), r.err.decode("utf-8", "replace")
    expected = crlf([
        HEADER,
        "no-autoupdate: true",
        "loglevel: info",
        "tunnel: '中文隧道'",
        "credentials-file: '" + winpath(folder / "c.json") + "'",
        "ingress:",
        "  - hostname: 'a.example.com'",
        "    service: 'tcp://localhost:3389'",
        "    originRequest:",
        "      httpHostHeader: 'it''s'",
        "  # 跳过缺少 hostname 的条目 2",
        "  - service: http_status:404",
    ])
    assert (folder / "config.yml").read_bytes() == expected
    assert r.out == ("已生成 " + winpath(folder / "config.yml") + "\r\n").encode("utf-8") + expected


def test_yaml_exits_2_when_the_ini_cannot_be_prepared(mw):
    (mw.dir / "dir.ini").mkdir()
    path = mw.win_dir + "\\dir.ini"
    r = mw.run("yaml", "--ini", path)
    assert (r.rc, r.out) == (2, b"")
    assert r.err == ("无法写入默认配置: " + path + "\r\n").encode("utf-8")
    assert not (mw.dir / "config.yml").exists()


def test_yaml_exits_3_when_config_yml_cannot_be_written(mw):
    (mw.dir / "mosswarden.ini").write_bytes(b"[tunnel]\r\nconfig_file=missing\\dir\\c.yml\r\n")
    r = mw.run("yaml")
    assert (r.rc, r.out) == (3, b"")
    assert r.err == ("写入 config.yml 失败: " + mw.win_dir + "\\missing\\dir\\c.yml\r\n").encode("utf-8")


def test_a_value_with_a_control_character_is_refused_with_its_section_and_key(mw):
    ini = mw.dir / "mosswarden.ini"
    ini.write_bytes(b"[tunnel]\r\nmode=config\r\ntunnel_id=abc\x1b[2Jdef\r\n")
    r = mw.run("yaml")
    assert r.rc == 2, r.out
    assert r.err == ("配置 [tunnel] tunnel_id 的值含控制字符，拒绝加载: " + mw.win_dir + "\\mosswarden.ini\r\n").encode("utf-8")
    assert not (mw.dir / "config.yml").exists()
