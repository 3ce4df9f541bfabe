"""The library's own tables (error texts, filter values, colour modes, the sensor), asked once from the
loaded library: the package keeps no copy of them."""

import collections
import ctypes
import functools
from collections.abc import Mapping

from . import _lib
from ._lib import library

Filter = collections.namedtuple("Filter", "index name tool_name range_checked min max")
ColorMode = collections.namedtuple("ColorMode", "bits reported_depth color samples_per_pixel bits_per_sample")
Sensor = collections.namedtuple("Sensor", "width height min_width min_height")

# Error codes are small numbers; the library names every one it reports.
_ERROR_CODES = range(256)


def _record(kind):
    record = kind()
    record.size = ctypes.sizeof(kind)
    return record


@functools.lru_cache(maxsize=None)
def filters():
    """The filter values by the name of their property exports ("ExposureTime"), in index order."""
    found = {}
    index = 1
    while True:
        info = _record(_lib.FilterInfo)
        if not library().ZelvikLib_FilterInfo(index, ctypes.byref(info)):
            return found
        name = info.name.decode()
        found[name] = Filter(info.index, name, info.toolName.decode(), bool(info.rangeChecked), info.min, info.max)
        index += 1


@functools.lru_cache(maxsize=None)
def color_modes():
    """The colour modes in the library's order (8, 16, 24, 32, 48, 64 bits)."""
    found = []
    while True:
        info = _record(_lib.ColorModeInfo)
        if not library().ZelvikLib_ColorMode(len(found), ctypes.byref(info)):
            return tuple(found)
        found.append(ColorMode(info.bits, info.reportedDepth, bool(info.color), info.samplesPerPixel,
                               info.bitsPerSample))


def color_mode(bits):
    """The colour mode of `bits` bits per pixel; ValueError for bits no mode has."""
    for mode in color_modes():
        if mode.bits == bits:
            return mode
    raise ValueError(f"no colour mode has {bits} bits per pixel (the modes: {[m.bits for m in color_modes()]})")


@functools.lru_cache(maxsize=None)
def sensor():
    info = _record(_lib.SensorInfo)
    library().ZelvikLib_SensorInfo(ctypes.byref(info))
    return Sensor(info.width, info.height, info.minWidth, info.minHeight)


def line_period_us(width, subsample):
    """Microseconds one sensor line takes for a window `width` wide (before subsampling) at the library's
    subsample 0..2, as the library counts the exposure."""
    return library().ZelvikLib_LinePeriodUs(int(width), int(subsample))


class ErrorTexts(Mapping):
    """Error code -> what it means, as the library words it; read from the library on first use."""

    def _texts(self):
        return _error_texts()

    def __getitem__(self, code):
        return self._texts()[code]

    def __iter__(self):
        return iter(self._texts())

    def __len__(self):
        return len(self._texts())

    def __repr__(self):
        return repr(dict(self._texts()))


@functools.lru_cache(maxsize=None)
def _error_texts():
    lib = library()
    return {code: lib.ZelvikLib_ErrorText(code).decode() for code in _ERROR_CODES if lib.ZelvikLib_ErrorText(code)}
