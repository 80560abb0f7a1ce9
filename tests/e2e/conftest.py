"""Runs the real mosswarden.exe under Wine, from a copy in a fresh folder, and returns raw bytes."""
import hashlib
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


STAND_IN_BYTES = 1100 * 1024


def padded_stand_in(pad_to=STAND_IN_BYTES):
    """The connector stand-in padded past 1 MiB (the loader ignores the overlay)."""
    data = FAKECFD.read_bytes()
    return data + b"\0" * max(0, pad_to - len(data))


def stand_in_sha_line():
    """The INI line that makes the placed stand-in pass the checksum proof of a reused connector."""
    return "sha256=%s\r\n" % hashlib.sha256(padded_stand_in()).hexdigest()


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

    def place_fake_connector(self, script="", name="cloudflared.exe", pad_to=STAND_IN_BYTES):
        """Puts the connector stand-in beside the INI, padded past 1 MiB, with its script. A reused
        connector must match the checksum: INIs of such tests carry stand_in_sha_line()."""
        target = self.dir / name
        target.write_bytes(padded_stand_in(pad_to))
        (self.dir / "fakecfd.txt").write_text(script, encoding="utf-8")
        return target


@pytest.fixture
def mw(tmp_path):
    folder = tmp_path / "app"
    folder.mkdir()
    return Mosswarden(folder)
