"""The executable carries our manifest (once) and a version block Explorer can show, all of one version."""
import re
import struct

from conftest import EXE, ROOT

# The one place the version is written down; everything the executable shows comes from it.
VERSION = re.search(r"project\(mosswarden VERSION (\d+)\.(\d+)\.(\d+)",
                    (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")).groups()
DOTTED = ".".join(VERSION)


def _align(offset, base):
    return offset + (-(offset - base) % 4)


def _node(data, at, base):
    """One VERSIONINFO node: (key, value, children, end); text values decoded, binary ones as bytes."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = _align(key_end + 2, base)
    if kind == 1:
        value = data[pos:pos + 2 * value_length].decode("utf-16-le").rstrip("\0")
        pos += 2 * value_length
    else:
        value = data[pos:pos + value_length]
        pos += value_length
    children = []
    pos = _align(pos, base)
    while pos < end:
        child = _node(data, pos, base)
        children.append(child)
        pos = _align(child[3], base)
    return key, value, children, end


def version_block(data):
    """The fixed file version as a tuple and the StringFileInfo strings of the one string table."""
    key = "VS_VERSION_INFO".encode("utf-16-le") + b"\0\0"
    assert data.count(key) == 1
    at = data.index(key) - 6
    name, fixed, children, _ = _node(data, at, at)
    assert name == "VS_VERSION_INFO"
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed)
    assert signature == 0xFEEF04BD
    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[2]:
                strings.update({k: v for k, v, _, _ in table[2]})
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), strings


def test_manifest_and_version_block():
    data = EXE.read_bytes()
    assert data.count(b"<assembly ") == 1
    for needle in (f'name="mosswarden.app" version="{DOTTED}.0"'.encode(), b'level="asInvoker"',
                   b"<dpiAware", b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                   b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                   b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        assert needle in data, needle
    fixed, strings = version_block(data)
    assert fixed == tuple(int(n) for n in VERSION) + (0,)
    assert strings["FileVersion"] == DOTTED
    assert strings["ProductVersion"] == DOTTED
    assert strings["ProductName"] == "mosswarden"
    assert strings["OriginalFilename"] == "mosswarden.exe"


def test_version_command_and_user_agent_carry_the_same_version(mw):
    r = mw.run("version")
    assert r.rc == 0
    assert r.out.startswith(f"mosswarden {DOTTED} (Win7 SP1 目标构建, 本进程 ".encode("utf-8")), r.out
    agent = f"mosswarden/{VERSION[0]}.{VERSION[1]} (Windows; cloudflared bootstrapper)\0"
    assert agent.encode("utf-16-le") in EXE.read_bytes()
