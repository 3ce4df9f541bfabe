"""The Zelvik Q77RX camera from Python: frames as NumPy arrays.

    import zelvik
    print(zelvik.attached())            # index, name and serial of each camera attached
    with zelvik.Camera(serial="Q77RX0001") as cam:
        cam.bits = 24
        frame = cam.snap()              # (1944, 2592, 3) uint8, red-green-blue
        with cam.stream() as stream:
            for frame in stream:        # arrays as frames arrive
                ...
    with zelvik.Watcher() as watcher:   # cameras that arrive and leave; `async for` works too
        for event in watcher:
            print(event.kind, event.serial)
"""

from ._camera import (CAMERA_LOST, ERROR_TEXTS, NO_CAMERA, NOT_ALLOWED, Camera, CameraId, Frame, FrameMeta, Lost,
                      Stream, StreamStats, ZelvikError, attached, cameras)
from ._lib import library
from ._watch import CameraEvent, Watcher

__all__ = ["Camera", "CameraId", "CameraEvent", "Stream", "Frame", "FrameMeta", "Lost", "StreamStats", "Watcher",
           "ZelvikError", "ERROR_TEXTS", "NOT_ALLOWED", "NO_CAMERA", "CAMERA_LOST", "attached", "cameras",
           "library_version"]
__version__ = "1.0.0"


def library_version():
    """The loaded library's version number (Zelvik_GetDllVersion)."""
    return library().Zelvik_GetDllVersion()
