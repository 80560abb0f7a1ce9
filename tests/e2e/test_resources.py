"""The executable carries our manifest (once) and a version block Explorer can show."""
from conftest import EXE


def test_manifest_and_version_block():
    data = EXE.read_bytes()
    assert data.count(b"<assembly ") == 1
    for needle in (b'name="mosswarden.app" version="1.0.0.0"', b'level="asInvoker"',
                   b"<dpiAware", b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                   b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                   b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        assert needle in data, needle
    assert "VS_VERSION_INFO".encode("utf-16-le") in data
    assert "ProductVersion".encode("utf-16-le") + b"\0\0" in data or "ProductVersion".encode("utf-16-le") in data
    assert "1.1.0".encode("utf-16-le") in data
    assert "mosswarden".encode("utf-16-le") in data
