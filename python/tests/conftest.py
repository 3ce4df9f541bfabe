"""Emulated cameras for the tests: zelvik-emulator on a temporary mount point, found through ZELVIK_ROOT,
with the settings in a temporary XDG_CONFIG_HOME.

ZELVIK_EMULATOR names the emulator program and ZELVIK_SDK_LIBRARY the library (ctest sets both). Only a
missing /dev/fuse skips a test; a missing program or library fails it."""

import os
import signal
import stat
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import zelvik  # noqa: E402


def fuse_unavailable():
    """Why FUSE cannot be used here, or None."""
    try:
        info = os.stat("/dev/fuse")
    except OSError as error:
        return f"/dev/fuse is absent ({error.strerror})"
    return None if stat.S_ISCHR(info.st_mode) else "/dev/fuse is not a character device"


def _mounted(path):
    with open("/proc/self/mountinfo") as mountinfo:
        return any(line.split()[4] == str(path) for line in mountinfo)


class Emulator:
    """zelvik-emulator running on `root` until stop()."""

    def __init__(self, program, directory, options):
        self.root = directory / "root"
        self.root.mkdir()
        self._process = subprocess.Popen([program, *options, str(self.root)], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.PIPE)
        # A bound against hanging only.
        deadline = time.monotonic() + 30
        while not (_mounted(self.root) and os.path.lexists(self.root / "sys/block/sdb")):
            if self._process.poll() is not None:
                raise RuntimeError(f"zelvik-emulator ended before mounting: {self._process.stderr.read().decode()}")
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"zelvik-emulator did not mount {self.root} within 30 s")
            time.sleep(0.01)

    def control(self, commands):
        """Fault commands ("unplug 1", ...) written to the control file in one write."""
        with open(self.root / "control", "w") as control:
            control.write(commands + "\n")

    def status(self):
        """The control file's status: one line per camera."""
        return (self.root / "control").read_text()

    def stop(self):
        """SIGTERM; what went wrong (empty when the program exited with 0 and left nothing mounted)."""
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
        fault = ""
        try:
            status = self._process.wait(timeout=60)
            if status != 0:
                fault = f"zelvik-emulator ended with status {status}"
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
            fault = "zelvik-emulator did not end after SIGTERM"
        if _mounted(self.root):
            subprocess.run(["umount", "-l", str(self.root)], check=False)
            fault += f"; {self.root} was left mounted"
        return fault


@pytest.fixture(autouse=True)
def settings_home(tmp_path, monkeypatch):
    """Every test keeps its settings in its own directory, and sees no real disks."""
    home = tmp_path / "config"
    home.mkdir()
    monkeypatch.setenv("XDG_CONFIG_HOME", str(home))
    empty = tmp_path / "no-cameras"
    (empty / "sys/block").mkdir(parents=True)
    (empty / "dev").mkdir()
    monkeypatch.setenv("ZELVIK_ROOT", str(empty))
    return home


@pytest.fixture
def start_emulator(tmp_path, monkeypatch):
    """start_emulator(*options) mounts emulated cameras and points ZELVIK_ROOT at them. Cameras opened in
    a test must be closed before it ends (the emulator is stopped after the test)."""
    why = fuse_unavailable()
    if why:
        pytest.skip(why)
    program = os.environ.get("ZELVIK_EMULATOR")
    if not program or not os.access(program, os.X_OK):
        pytest.fail(f"ZELVIK_EMULATOR must name the zelvik-emulator program (it is {program!r})")
    started = []

    def start(*options):
        directory = tmp_path / f"emulator{len(started)}"
        directory.mkdir()
        emulator = Emulator(program, directory, [str(o) for o in options])
        started.append(emulator)
        monkeypatch.setenv("ZELVIK_ROOT", str(emulator.root))
        return emulator

    yield start
    faults = [fault for fault in (emulator.stop() for emulator in started) if fault]
    if faults:
        pytest.fail("; ".join(faults))


@pytest.fixture
def camera(start_emulator):
    """Camera 0 of one emulated camera showing the colour bars, paced like the sensor."""
    start_emulator()
    with zelvik.Camera() as cam:
        yield cam
