"""The Zelvik Q77RX camera from Python: frames as NumPy arrays.

    import zelvik
    print(zelvik.cameras())
    with zelvik.Camera(index=0) as cam:
        cam.bits = 24
        frame = cam.snap()              # (1944, 2592, 3) uint8, red-green-blue
        with cam.stream() as stream:
            for frame in stream:        # arrays as frames arrive
                ...
"""

from ._camera import (CAMERA_LOST, ERROR_TEXTS, NO_CAMERA, NOT_ALLOWED, Camera, Frame, FrameMeta, Lost, Stream,
                      StreamStats, ZelvikError, cameras)
from ._lib import library

__all__ = ["Camera", "Stream", "Frame", "FrameMeta", "Lost", "StreamStats", "ZelvikError", "ERROR_TEXTS",
           "NOT_ALLOWED", "NO_CAMERA", "CAMERA_LOST", "cameras", "library_version"]
__version__ = "1.0.0"


def library_version():
    """The loaded library's version number (Zelvik_GetDllVersion)."""
    return library().Zelvik_GetDllVersion()
