"""Emulated cameras for the tests: zelvik-emulator on a temporary mount point, found through ZELVIK_ROOT,
with the settings in a temporary XDG_CONFIG_HOME.

ZELVIK_EMULATOR names the emulator program and ZELVIK_SDK_LIBRARY the library (ctest sets both). Only a
missing /dev/fuse skips a test; a missing program or library fails it."""

import os
import stat
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import zelvik  # noqa: E402
from zelvik.emulator import Emulator  # noqa: E402


def fuse_unavailable():
    """Why FUSE cannot be used here, or None."""
    try:
        info = os.stat("/dev/fuse")
    except OSError as error:
        return f"/dev/fuse is absent ({error.strerror})"
    return None if stat.S_ISCHR(info.st_mode) else "/dev/fuse is not a character device"


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
        emulator = Emulator(options, program=program, directory=directory)
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
