"""Emulated cameras without hardware: zelvik-emulator mounted on a temporary directory.

    from zelvik.emulator import Emulator
    with Emulator(["--cameras", "2"]) as emulator:   # sets ZELVIK_ROOT while it runs
        print(zelvik.cameras())
        emulator.control("unplug 1")

Close every camera before the emulator stops."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path


def _mounted(path):
    with open("/proc/self/mountinfo") as mountinfo:
        return any(line.split()[4] == str(path) for line in mountinfo)


class Emulator:
    """zelvik-emulator (`program`, default: ZELVIK_EMULATOR or the one on PATH) with `options`, mounted on a
    new temporary directory until stop(). As a context manager it also points ZELVIK_ROOT at the mount."""

    def __init__(self, options=(), program=None, directory=None):
        program = program or os.environ.get("ZELVIK_EMULATOR") or shutil.which("zelvik-emulator")
        if not program:
            raise FileNotFoundError("zelvik-emulator not found: set ZELVIK_EMULATOR or put it on PATH")
        self._own_directory = directory is None
        self._directory = Path(directory or tempfile.mkdtemp(prefix="zelvik-emulator-"))
        self.root = self._directory / "root"
        self.root.mkdir()
        self._saved_root = None
        self._process = subprocess.Popen([program, *(str(o) for o in options), str(self.root)],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # A bound against hanging only.
        deadline = time.monotonic() + 30
        while not (_mounted(self.root) and os.path.lexists(self.root / "sys/block/sdb")):
            if self._process.poll() is not None:
                message = self._process.stderr.read().decode(errors="replace")
                self._cleanup()
                raise RuntimeError(f"zelvik-emulator ended before mounting: {message}")
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"zelvik-emulator did not mount {self.root} within 30 s")
            time.sleep(0.01)

    def control(self, commands):
        """Fault commands ("unplug 1", "replug 1", "stall 1 3 500", ...) written to the control file."""
        with open(self.root / "control", "w") as control:
            control.write(commands + "\n")

    def status(self):
        """The control file's status: one line per camera."""
        return (self.root / "control").read_text()

    def stop(self):
        """SIGTERM and wait; returns what went wrong (empty when the program exited with status 0 and left
        nothing mounted). Whatever happens, no process and no mount are left."""
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
            fault += f"{'; ' if fault else ''}{self.root} was left mounted"
        self._cleanup()
        return fault

    def _cleanup(self):
        self._process.stderr.close()
        if self._own_directory and not _mounted(self.root):
            shutil.rmtree(self._directory, ignore_errors=True)

    def __enter__(self):
        self._saved_root = os.environ.get("ZELVIK_ROOT")
        os.environ["ZELVIK_ROOT"] = str(self.root)
        return self

    def __exit__(self, *exc):
        if self._saved_root is None:
            os.environ.pop("ZELVIK_ROOT", None)
        else:
            os.environ["ZELVIK_ROOT"] = self._saved_root
        fault = self.stop()
        if fault and exc[0] is None:
            raise RuntimeError(fault)
