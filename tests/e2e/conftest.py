"""Runs the real mosswarden.exe under Wine, from a copy in a fresh folder, and returns raw bytes."""
import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
ARCH = os.environ.get("MW_ARCH", "x64")
BUILD = Path(os.environ["MW_BUILD_DIR"]) if os.environ.get("MW_BUILD_DIR") else ROOT / "build" / ("win64" if ARCH == "x64" else "win32")
WINE_RUN = ROOT / "scripts" / "wine-run"
EXE = BUILD / "src" / "app" / "mosswarden.exe"
FAKECFD = BUILD / "tests" / "support" / "fakecfd.exe"


def winpath(path):
    """The Wine (Windows) form of a Linux path."""
    return "Z:" + str(path).replace("/", "\\")


def wine_env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["LC_ALL"] = env.get("LC_ALL", "zh_CN.UTF-8")
    if extra:
        env.update(extra)
    return env


@dataclass
class Result:
    rc: int
    out: bytes
    err: bytes

    @property
    def out_text(self):
        return self.out.decode("utf-8")

    @property
    def err_text(self):
        return self.err.decode("utf-8")


def _closer(fds):
    def close():
        for fd in fds:
            try:
                os.close(fd)
            except OSError:
                pass
    return close


class Mosswarden:
    def __init__(self, folder):
        self.dir = folder
        self.exe = folder / "mosswarden.exe"
        shutil.copy(EXE, self.exe)

    @property
    def win_dir(self):
        return winpath(self.dir)

    def run(self, *args, close_stdout=False, close_stderr=False, env=None, timeout=120, program=None):
        """Runs the program with the given arguments; returns exit code and raw stdout/stderr bytes."""
        cmd = [str(WINE_RUN), str(program or self.exe), *args]
        closed = [fd for fd, yes in ((1, close_stdout), (2, close_stderr)) if yes]
        p = subprocess.run(
            cmd,
            cwd=self.dir,
            env=wine_env(env),
            stdin=subprocess.DEVNULL,
            stdout=None if close_stdout else subprocess.PIPE,
            stderr=None if close_stderr else subprocess.PIPE,
            preexec_fn=_closer(closed) if closed else None,
            timeout=timeout,
        )
        return Result(p.returncode, p.stdout or b"", p.stderr or b"")

    def place_fake_connector(self, script="", name="cloudflared.exe", pad_to=1100 * 1024):
        """Puts the connector stand-in beside the INI, padded past 1 MiB, with its script."""
        target = self.dir / name
        data = FAKECFD.read_bytes()
        if len(data) < pad_to:
            data += b"\0" * (pad_to - len(data))
        target.write_bytes(data)
        (self.dir / "fakecfd.txt").write_text(script, encoding="utf-8")
        return target


@pytest.fixture
def mw(tmp_path):
    folder = tmp_path / "app"
    folder.mkdir()
    return Mosswarden(folder)
