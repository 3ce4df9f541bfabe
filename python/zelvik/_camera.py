"""Cameras, their settings and their frames as NumPy arrays."""

import ctypes
import difflib
import numbers
import os
import select
import sys
import time
from typing import NamedTuple

import numpy as np

from . import _lib, _tables
from ._lib import MSG_CAMERA_FRAME, library

# What each error code means, as the library words it (a read-only mapping, asked from the library).
ERROR_TEXTS = _tables.ErrorTexts()

# The public header's error codes the package names.
NOT_ALLOWED, NO_CAMERA, MEMORY, TRANSFER, CAMERA_LOST = 1, 2, 5, 8, 13

# Subsampling as a factor, by the library's value (0 full, 1 half, 2 quarter).
_FACTORS = (1, 2, 4)

_FORMATS = {".bmp": 0, ".raw": 1, ".png": 5, ".tif": 6, ".tiff": 6}
_JPEG_QUALITY = {"high": 2, "normal": 3, "low": 4}


class ZelvikError(Exception):
    """A failure of the camera library: `code` is the library's error code (None when the library
    failed without giving one) and `text` what it means."""

    def __init__(self, code, text=None, action=None):
        self.code = code
        self.text = text or _error_text(code)
        self.action = action
        where = f"{action}: " if action else ""
        number = f" (error {code})" if code is not None else ""
        super().__init__(f"{where}{self.text}{number}")


def _error_text(code):
    try:
        return ERROR_TEXTS.get(code, "failed without a reported reason")
    except OSError:  # no library to ask
        return "failed without a reported reason"


def _pop_error(lib, handle):
    """The newest error code other than 0 on the handle's stack, which is emptied; None when there is none.
    Code 0 is reported by every processed frame while automatic exposure is off, so it never names the
    reason of a failure."""
    found = None
    for _ in range(20):
        code = lib.Zelvik_GetLastError(handle)
        if code != 0 and found is None:
            found = code
    return found


def frame_geometry(width, height, bits):
    """(shape, dtype, stride, channels) of a frame of the library's layout: rows padded to 4 bytes,
    colour as blue, green, red (and a fourth sample in the 32- and 64-bit modes)."""
    mode = _tables.color_mode(bits)
    channels = mode.samples_per_pixel
    dtype = np.uint16 if mode.bits_per_sample == 16 else np.uint8
    stride = (width * (bits // 8) + 3) & ~3
    shape = (height, width, 3) if mode.color else (height, width)
    return shape, dtype, stride, channels


def to_array(buffer, width, height, bits, order="RGB"):
    """The frame in `buffer` (the library's layout, top row first) as an array of shape (h, w) for gray or
    (h, w, 3) in `order` ("RGB" or "BGR") for colour: a view of `buffer`, never a copy. Rows the library
    padded to 4 bytes and the fourth sample of the 32- and 64-bit modes are left out by the view's strides,
    and red-green-blue order is a view whose channel stride is negative (np.ascontiguousarray makes a
    compact copy for code that needs one)."""
    shape, dtype, stride, channels = frame_geometry(width, height, bits)
    rows = np.frombuffer(buffer, dtype=np.uint8, count=stride * height).reshape(height, stride)
    samples = rows[:, : width * (bits // 8)].view(dtype)
    if channels == 1:
        return samples
    pixels = samples.reshape(height, width, channels)
    if order == "RGB":
        return pixels[..., 2::-1]
    if order == "BGR":
        return pixels[..., :3]
    raise ValueError(f"channel order {order!r} is not 'RGB' or 'BGR'")


class Lost(NamedTuple):
    """Frames lost before a frame, by where: read and replaced in the library's ring before its frame path
    took them; dropped because the capture window changed under them; processed but not taken (handed to
    no one, or passed over by the stream, which takes the newest frame); and the camera's frames the
    library never read (an estimate, not counted in the sequence). The first three are exact."""
    overwritten: int
    dropped: int
    not_taken: int
    unread: int


class FrameMeta(NamedTuple):
    """What the library knows of a frame: `sequence` numbers every frame it read from the camera since the
    stream started (1 first), `time` is when its read finished on time.monotonic()'s clock, `lost` the
    frames lost between the frame taken before it and this one (so sequence - previous sequence - 1 =
    lost.overwritten + lost.dropped + lost.not_taken)."""
    sequence: int
    time: float
    lost: Lost


class StreamStats(NamedTuple):
    """Where the frames of a stream went, counted since it started. Exact but for `unread`: frames read
    from the camera (`read`), the camera's frames never read (`unread`, estimated), read frames replaced
    in the ring (`overwritten`), dropped, processed, processed frames not taken (`not_taken`: handed to
    no one, or passed over by the stream) and frames the stream handed out (`taken`)."""
    read: int
    unread: int
    overwritten: int
    dropped: int
    processed: int
    not_taken: int
    taken: int


class Frame(np.ndarray):
    """A frame as an array (a NumPy ndarray in every respect) with `meta`, its FrameMeta (None for arrays
    made from it by arithmetic, which are no frame of the camera's)."""

    meta = None

    def __array_finalize__(self, obj):
        self.meta = getattr(obj, "meta", None)


def _facts(lib, handle, buffer=None):
    """The library's facts of the frame handed out last, or of the frame in `buffer`; None without one."""
    facts = _lib.FrameFacts(size=ctypes.sizeof(_lib.FrameFacts))
    pointer = buffer.ctypes.data if buffer is not None else None
    return facts if lib.ZelvikFrame_GetFacts(handle, pointer, ctypes.byref(facts)) == 1 else None


_NO_TOTALS = _lib.FrameFacts()


def _meta(facts, previous):
    """The FrameMeta of a frame whose facts are `facts`, taken after the frame of `previous` (facts, or
    None for the stream's first); frames the library handed out in between count as not taken."""
    before = previous or _NO_TOTALS
    overwritten = facts.totalOverwritten - before.totalOverwritten
    dropped = facts.totalDropped - before.totalDropped
    # Frames neither replaced nor dropped were processed and not taken: by no one, or passed over here.
    not_taken = facts.sequence - before.sequence - 1 - overwritten - dropped
    lost = Lost(overwritten, dropped, not_taken, facts.totalUnread - before.totalUnread)
    return FrameMeta(facts.sequence, facts.arrivalNs / 1e9, lost)


class CameraId(tuple):
    """One attached camera: `index` (what Camera(index=...) takes now: its place among the cameras attached,
    in drive order), `name` ("ZelvikQ77RX_01"), `serial` (stays the camera's when others come and go) and
    `identity` (its disk's identity string)."""

    __slots__ = ()
    _FIELDS = ("index", "name", "serial", "identity")

    def __new__(cls, index, name, serial, identity):
        return super().__new__(cls, (index, name, serial, identity))

    index = property(lambda self: self[0])
    name = property(lambda self: self[1])
    serial = property(lambda self: self[2])
    identity = property(lambda self: self[3])

    def __repr__(self):
        return f"CameraId(index={self.index}, name={self.name!r}, serial={self.serial!r})"


def _entry(entry):
    return CameraId(entry.number, entry.name.decode(), entry.serial.decode(), entry.identity.decode())


def attached():
    """The cameras attached now, in index order (CameraId each); opens none of them."""
    lib = library()
    room = 4
    while True:
        entries = (_lib.CameraEntry * room)()
        for entry in entries:
            entry.size = ctypes.sizeof(_lib.CameraEntry)
        count = lib.ZelvikCam_List(0, entries, room)
        if count < 0:
            raise ZelvikError(None, action="listing the cameras")
        if count <= room:
            return [_entry(entries[i]) for i in range(count)]
        room = count


def cameras():
    """Names of the attached cameras ("ZelvikQ77RX_01", ...); the position in the list is the index that
    Camera() takes. An empty list when there is none. Opens no camera."""
    return [camera.name for camera in attached()]


def _filter_index(name):
    """The index of the library's filter value whose property exports are Zelvik_Set<name>/Get<name>."""
    return _tables.filters()[name].index


def _integer(setting, value):
    """value as an int; TypeError naming the setting for anything but an integer (a float is never cut)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{setting} takes an integer, not {value!r}")
    return int(value)


def _number(setting, value):
    """value as a float; TypeError naming the setting for anything but a real number."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{setting} takes a number, not {value!r}")
    return float(value)


def _in_range(setting, value, low, high, unit=""):
    if not low <= value <= high:
        raise ValueError(f"{setting} {value}{unit} is out of range {low}..{high}{unit}")


# A camera property kept in the library's filter table, named as its property exports name it
# ("ExposureTime"), as an int or scaled (`scale` library units make 1.0). Its documentation states the
# range the library gives.
class _Filter:

    def __init__(self, name, scale=None, doc=None):
        self.name, self.scale, self._doc = name, scale, doc
        self.attribute = name

    def __set_name__(self, owner, attribute):
        self.attribute = attribute

    def range(self):
        """(low, high) a set takes, in the property's units; None when the library takes any value."""
        entry = _tables.filters()[self.name]
        if not entry.range_checked:
            return None
        return (entry.min / self.scale, entry.max / self.scale) if self.scale else (entry.min, entry.max)

    @property
    def __doc__(self):
        try:
            entry = _tables.filters()[self.name]
        except OSError:  # no library to ask
            return self._doc
        low, high = (entry.min / self.scale, entry.max / self.scale) if self.scale else (entry.min, entry.max)
        return f"{self._doc} {low}..{high} (filter value {entry.index}, {self.name})."

    def __get__(self, camera, owner=None):
        if camera is None:
            return self
        value = camera._get_filter(_filter_index(self.name))
        return value / self.scale if self.scale else value

    def __set__(self, camera, value):
        value = _number(self.attribute, value) if self.scale else _integer(self.attribute, value)
        limits = self.range()
        if limits is not None:
            _in_range(self.attribute, value, *limits)
        camera._set_filter(self.attribute, _filter_index(self.name), round(value * self.scale) if self.scale else value)


class _Closing:
    """close() at the end of a `with` block and when collected."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


class Camera(_Closing):
    """One camera, open until close() or the end of a `with` block.

    Settings are properties; frames come from snap() (one frame) or stream() (frames as they arrive).
    Setting a name the camera does not have raises AttributeError; a value of the wrong type TypeError, one
    out of the setting's range ValueError, both naming the setting.

    The settings a script changes are its own: close() puts back the stored settings the camera opened
    with, so the next program starts from them. With store_settings=True they become every later
    program's defaults instead, as the library keeps them for a C application."""

    def __init__(self, index=0, serial=None, *, store_settings=False):
        """Opens camera `index` (its place among the cameras attached now), or the camera with `serial`.
        Raises ZelvikError NO_CAMERA when there is no such camera or another program has it open."""
        self._lib = library()
        self._handle = 0
        self._stream = None
        self._opened_with = None
        index = _integer("camera index", index)
        if index < 0:
            raise ValueError(f"camera index {index}: cameras are numbered from 0, as zelvik.cameras() lists them")
        self.index = index
        self.store_settings = bool(store_settings)
        self._handle = self._lib.Zelvik_Initialize(0)
        if self._handle == 0:
            raise ZelvikError(MEMORY, action="opening the camera")
        # What opening reported (stored settings missing, ...) is not a failure to open.
        _pop_error(self._lib, self._handle)
        try:
            if serial is None:
                self._call(f"opening camera {index}", self._lib.Zelvik_SetDeviceNumber, int(index),
                           missing=NO_CAMERA)
            else:
                self._call(f"opening camera {serial}", self._lib.ZelvikCam_SelectSerial, str(serial).encode(),
                           missing=NO_CAMERA)
            opened = _lib.CameraEntry(size=ctypes.sizeof(_lib.CameraEntry))
            self._call("reading the camera's identity", self._lib.ZelvikCam_GetOpen, ctypes.byref(opened))
            self.id = _entry(opened)
            self.index, self.serial = self.id.index, self.id.serial
            info = _lib.CameraInfo(size=ctypes.sizeof(_lib.CameraInfo))
            self._call("reading the camera information", self._lib.Zelvik_GetCameraInfo, ctypes.byref(info))
            self.info = {name: getattr(info, name) for name, _ in info._fields_ if name != "size"}
            self._opened_with = self._stored_settings()
        except BaseException:
            self.close()
            raise

    # The attributes of an instance besides the properties; any other name is refused.
    _FIELDS = frozenset(("index", "serial", "id", "info", "store_settings"))

    def __setattr__(self, name, value):
        if not name.startswith("_") and name not in self._FIELDS:
            attribute = getattr(type(self), name, None)
            if attribute is None:
                raise AttributeError(_unknown_setting(type(self), name))
            if not hasattr(attribute, "__set__"):
                raise AttributeError(f"Camera.{name} cannot be set")
        object.__setattr__(self, name, value)

    # ---- life ----
    def close(self):
        """Stops streaming, puts back the stored settings the camera opened with (unless store_settings)
        and closes the camera. Calling it again does nothing."""
        if self._stream is not None:
            self._stream.close()
        if self._handle:
            if not self.store_settings and self._opened_with is not None:
                self._restore_settings(self._opened_with)
            self._lib.Zelvik_Release(self._handle)
            self._handle = 0

    # What the library stores when a handle is released: the filter values (the packed Bayer gains aside,
    # which the three gains hold), the mirrors and the automatic control. Read through the public getters.
    _PACKED = "BayerGainRGB"

    def _stored_settings(self):
        ok = ctypes.c_int(0)
        values = {}
        for name, entry in _tables.filters().items():
            if name != self._PACKED:
                values[name] = self._lib.Zelvik_GetFilterValue(self._handle, entry.index, ctypes.byref(ok))
        values["MirrorH"] = self._lib.Zelvik_GetMirrorH(self._handle)
        values["MirrorV"] = self._lib.Zelvik_GetMirrorV(self._handle)
        values["AutoIris"] = self._lib.Zelvik_GetAutoIris(self._handle, ctypes.byref(ok))
        return values

    def _restore_settings(self, values):
        """Writes back every value that differs from `values`, in an order in which none undoes another:
        the mirrors (they move the Bayer phase) and the automatic control first, the global gain before the
        colour gains it sets, the Bayer mode last. Failures are not raised: the camera is being closed."""
        now = self._stored_settings()
        lib, handle = self._lib, self._handle
        for name, setter in (("MirrorH", lib.Zelvik_SetMirrorH), ("MirrorV", lib.Zelvik_SetMirrorV),
                             ("AutoIris", lib.Zelvik_SetAutoIris)):
            if now[name] != values[name]:
                setter(handle, values[name])
        filters = _tables.filters()
        order = ["GlobalGain"] + [name for name in filters if name not in ("GlobalGain", "BayerMode", self._PACKED)]
        for name in order + ["BayerMode"]:
            current = lib.Zelvik_GetFilterValue(handle, filters[name].index, ctypes.byref(ctypes.c_int(0)))
            if current != values[name]:
                lib.Zelvik_SetFilterValue(handle, filters[name].index, values[name])
        _pop_error(lib, handle)

    @property
    def closed(self):
        return self._handle == 0

    # ---- calls ----
    def _call(self, action, function, *arguments, missing=None):
        """Calls function(handle, *arguments); a result of 0 raises ZelvikError with the reported code."""
        if not self._handle:
            raise ValueError("the camera is closed")
        result = function(self._handle, *arguments)
        if result == 0:
            code = _pop_error(self._lib, self._handle)
            raise ZelvikError(code if code is not None else missing, action=action)
        return result

    def _value(self, function):
        """A getter's answer, where 0 is a value like any other."""
        if not self._handle:
            raise ValueError("the camera is closed")
        return function(self._handle)

    def _get_with_ok(self, action, function, *arguments):
        if not self._handle:
            raise ValueError("the camera is closed")
        ok = ctypes.c_int(0)
        value = function(self._handle, *arguments, ctypes.byref(ok))
        if ok.value != 1:
            raise ZelvikError(_pop_error(self._lib, self._handle), action=action)
        return value

    def _get_filter(self, index):
        return self._get_with_ok(f"reading filter value {index}", self._lib.Zelvik_GetFilterValue, index)

    def _set_filter(self, setting, index, value):
        self._call(f"setting {setting} to {value}", self._lib.Zelvik_SetFilterValue, index, value)

    # ---- geometry and format ----
    @property
    def bits(self):
        """Bits per pixel of the frames: 8 (gray), 16 (gray, 10-bit samples), 24, 32 (colour), 48, 64
        (colour, 10-bit samples). Takes effect when a capture starts."""
        depth = self._value(self._lib.Zelvik_GetColorMode)
        return next(mode.bits for mode in _tables.color_modes() if mode.reported_depth == depth)

    @bits.setter
    def bits(self, value):
        value = _integer("bits", value)
        modes = tuple(mode.bits for mode in _tables.color_modes())
        if value not in modes:
            raise ValueError(f"bits {value} is not one of {modes}")
        self._call(f"setting {value} bits per pixel", self._lib.Zelvik_SetColorMode, value)

    @property
    def roi(self):
        """The sensor window (x, y, width, height) before subsampling."""
        values = [ctypes.c_int(0) for _ in range(6)]
        self._call("reading the window", self._lib.Zelvik_GetCaptureWindowEx, *[ctypes.byref(v) for v in values])
        _, x, width, _, y, height = (v.value for v in values)
        return (x, y, width, height)

    @roi.setter
    def roi(self, window):
        try:
            x, y, width, height = (_integer("roi", v) for v in window)
        except (TypeError, ValueError):
            raise TypeError(f"roi takes four integers (x, y, width, height), not {window!r}") from None
        sensor = _tables.sensor()
        # The library keeps a window it refuses; a refused window is never handed to it.
        if not (0 <= x and 0 <= y and sensor.min_width <= width and sensor.min_height <= height
                and x + width <= sensor.width and y + height <= sensor.height):
            raise ValueError(f"roi {window} is not inside the {sensor.width} x {sensor.height} sensor "
                             f"or smaller than {sensor.min_width} x {sensor.min_height}")
        # The colour mosaic repeats every two pixels. A window that starts on an odd column or row, or with a
        # mirror on ends on one (the sensor then reads it from that end), begins on another colour than the
        # Bayer mode names, and every colour comes out wrong.
        if x % 2 or y % 2 or width % 2 or height % 2:
            raise ValueError(f"roi {window}: x, y, width and height must be even, so that the window starts on "
                             "the colour the Bayer mode names (the colour mosaic repeats every 2 pixels)")
        self._call(f"setting the window {window}", self._lib.Zelvik_SetCaptureWindowEx,
                   sensor.width, x, width, sensor.height, y, height)

    @property
    def subsample(self):
        """Subsampling factor: 1 (full), 2 or 4, in both directions."""
        return _FACTORS[self._value(self._lib.Zelvik_GetSubSample)]

    @subsample.setter
    def subsample(self, factor):
        factor = _integer("subsample", factor)
        if factor not in _FACTORS:
            raise ValueError(f"subsample {factor} is not one of {_FACTORS}")
        self._call(f"setting subsampling {factor}", self._lib.Zelvik_SetSubSample, _FACTORS.index(factor))

    @property
    def size(self):
        """(width, height) of the frames: the window after subsampling."""
        factor = self.subsample
        width = self._call("reading the width", self._lib.Zelvik_Width)
        height = self._call("reading the height", self._lib.Zelvik_Height)
        return (width // factor, height // factor)

    @property
    def shape(self):
        """Shape of the arrays that snap() and stream() give with the current settings."""
        width, height = self.size
        return frame_geometry(width, height, self.bits)[0]

    def _frame_bytes(self):
        width, height = self.size
        bits = self.bits
        return width, height, bits, frame_geometry(width, height, bits)[2] * height

    # ---- sensor ----
    @property
    def exposure_us(self):
        """Exposure in microseconds; the sensor exposes whole line periods, so a set value is rounded to
        the nearest line (read it back for the exposure in effect)."""
        return self._get_with_ok("reading the exposure", self._lib.Zelvik_GetRealExposureTime)

    @exposure_us.setter
    def exposure_us(self, microseconds):
        microseconds = _number("exposure_us", microseconds)
        width = self._call("reading the width", self._lib.Zelvik_Width)
        line_us = _tables.line_period_us(width, self._value(self._lib.Zelvik_GetSubSample))
        # The sensor exposes 1 to the filter value's maximum of line periods.
        high = type(self).exposure_lines.range()[1]
        lines = round(microseconds / line_us)
        if not 1 <= lines <= high:
            raise ValueError(f"exposure_us {microseconds:g} is out of range {line_us:.1f}..{high * line_us:.0f} at "
                             f"this window (1..{high} lines of {line_us:.2f} us)")
        self.exposure_lines = lines

    exposure_lines = _Filter("ExposureTime", doc="Exposure in line periods,")
    gain = _Filter("GlobalGain", doc="Global analog gain (also sets the four colour gains; 16 is unity),")
    gamma = _Filter("Gamma", scale=100, doc="Gamma (1.0 is linear),")
    brightness = _Filter("Brightness", doc="Brightness")
    contrast = _Filter("Contrast", doc="Contrast")
    hue = _Filter("Hue", doc="Hue")
    saturation = _Filter("Saturation", doc="Saturation")
    sharpness = _Filter("Sharpness", doc="Sharpness")
    bayer_mode = _Filter("BayerMode", doc="Bayer phase of the window's first pixel,")

    _WHITE_BALANCE = ("BayerGainRed", "BayerGainGreen", "BayerGainBlue")

    @property
    def white_balance(self):
        """White balance gains (red, green, blue) as factors (1.0 leaves a channel as it is), each within
        the range the library gives BayerGainRed, BayerGainGreen and BayerGainBlue, divided by 100."""
        return tuple(self._get_filter(_filter_index(name)) / 100 for name in self._WHITE_BALANCE)

    @white_balance.setter
    def white_balance(self, gains):
        try:
            red, green, blue = (_number("white_balance", gain) for gain in gains)
        except ValueError:
            raise TypeError(f"white_balance takes three gains (red, green, blue), not {gains!r}") from None
        for name, gain in zip(self._WHITE_BALANCE, (red, green, blue)):
            entry = _tables.filters()[name]
            _in_range("white_balance", gain, entry.min / 100, entry.max / 100)
        for name, gain in zip(self._WHITE_BALANCE, (red, green, blue)):
            self._set_filter("white_balance", _filter_index(name), round(gain * 100))

    @property
    def auto_white_balance(self):
        """True: the white balance is measured and applied on every frame."""
        return bool(self._get_filter(_filter_index("BayerGainAuto")))

    @auto_white_balance.setter
    def auto_white_balance(self, on):
        self._set_filter("auto_white_balance", _filter_index("BayerGainAuto"), 1 if on else 0)

    _GRAY = ("bayer", "site-gains", "luminance")

    @property
    def gray_mode(self):
        """What 8-bit frames show: "bayer" (the sensor's colour mosaic as read), "site-gains" (the mosaic
        with per-site gains) or "luminance" (gray from the colour picture). 16-bit frames always carry the
        mosaic."""
        return self._GRAY[self._get_filter(_filter_index("GrayMode"))]

    @gray_mode.setter
    def gray_mode(self, mode):
        if mode not in self._GRAY:
            raise ValueError(f"gray_mode {mode!r} is not one of {self._GRAY}")
        self._set_filter("gray_mode", _filter_index("GrayMode"), self._GRAY.index(mode))

    _AUTO = ("off", "exposure", "gain")

    @property
    def auto_exposure(self):
        """Automatic control: "off", "exposure" or "gain"."""
        return self._AUTO[self._get_with_ok("reading the automatic control", self._lib.Zelvik_GetAutoIris)]

    @auto_exposure.setter
    def auto_exposure(self, mode):
        if mode not in self._AUTO:
            raise ValueError(f"auto_exposure {mode!r} is not one of {self._AUTO}")
        self._call(f"setting automatic control {mode}", self._lib.Zelvik_SetAutoIris, self._AUTO.index(mode))

    @property
    def mirror(self):
        """(horizontal, vertical) mirroring."""
        return (bool(self._lib.Zelvik_GetMirrorH(self._handle)), bool(self._lib.Zelvik_GetMirrorV(self._handle)))

    @mirror.setter
    def mirror(self, flags):
        try:
            horizontal, vertical = (bool(f) for f in flags)
        except (TypeError, ValueError):
            raise TypeError(f"mirror takes two flags (horizontal, vertical), not {flags!r}") from None
        current_h, current_v = self.mirror
        # Each call moves the Bayer phase, so a flag is only sent when it changes.
        if horizontal != current_h:
            self._call("setting horizontal mirroring", self._lib.Zelvik_SetMirrorH, int(horizontal))
        if vertical != current_v:
            self._call("setting vertical mirroring", self._lib.Zelvik_SetMirrorV, int(vertical))

    def read_register(self, register):
        """A 16-bit sensor register."""
        return self._get_with_ok(f"reading register {register:#x}", self._lib.Zelvik_ReadRegisterEx, register)

    # ---- frames ----
    def snap(self, order="RGB"):
        """One new frame, taken now: an array of shape (h, w) for gray or (h, w, 3) in `order` ("RGB", or
        "BGR" as OpenCV takes it); uint8 in the 8-, 24- and 32-bit modes, uint16 with 10-bit samples in the
        16-, 48- and 64-bit modes. The array owns its memory (through its base); it is a Frame, whose `meta`
        holds its facts (a snapshot is a stream of one frame: sequence 1)."""
        if order not in ("RGB", "BGR"):
            raise ValueError(f"channel order {order!r} is not 'RGB' or 'BGR'")
        if self._stream is not None:
            raise ZelvikError(NOT_ALLOWED, action="snap while streaming (take the stream's next frame)")
        width, height, bits, size = self._frame_bytes()
        buffer = np.empty(size, np.uint8)
        self._call("taking a frame", self._lib.Zelvik_SnapShot, buffer.ctypes.data, size, 1)
        frame = to_array(buffer, width, height, bits, order).view(Frame)
        facts = _facts(self._lib, self._handle, buffer)
        frame.meta = _meta(facts, None) if facts is not None else None
        return frame

    def stream(self, timeout=10.0, order="RGB"):
        """Starts streaming and returns the Stream: iterate it for frames as they arrive (each an array as
        snap() gives), or use its fileno() with a poll loop or asyncio's add_reader. Only one stream runs
        at a time; close it (or leave its `with` block) to stop."""
        if self._stream is not None:
            raise ZelvikError(NOT_ALLOWED, action="a stream is already running")
        if order not in ("RGB", "BGR"):
            raise ValueError(f"channel order {order!r} is not 'RGB' or 'BGR'")
        self._stream = Stream(self, timeout, order)
        return self._stream

    def save(self, path, quality="high"):
        """Writes the last frame taken (by snap() or a stream) to path; the format follows the extension:
        .bmp, .raw (the pixel memory as it stands), .jpg/.jpeg (quality "high", "normal" or "low"), .png,
        .tif/.tiff."""
        extension = os.path.splitext(os.fspath(path))[1].lower()
        if extension in (".jpg", ".jpeg"):
            if quality not in _JPEG_QUALITY:
                raise ValueError(f"JPEG quality {quality!r} is not one of {tuple(_JPEG_QUALITY)}")
            form = _JPEG_QUALITY[quality]
        elif extension in _FORMATS:
            form = _FORMATS[extension]
        else:
            raise ValueError(f"no image format for the extension {extension!r} of {path}")
        self._call(f"saving {path}", self._lib.Zelvik_SaveImage, os.fsencode(path), form)

    def record(self, path, seconds, wait=True):
        """Records an AVI file of 24-bit frames for `seconds`, counted from the first recorded frame.
        With wait (the default) returns once the file is finished and the camera idle again; otherwise at
        once, with the recording running (close() or a later call stops it early; the file is then
        finished with the frames recorded so far)."""
        if self._stream is not None:
            raise ZelvikError(NOT_ALLOWED, action="record while a stream is running")
        self._call(f"recording {path}", self._lib.Zelvik_Record, os.fsencode(path), round(seconds * 1000), 0)
        if not wait:
            return
        try:
            # The header's RIFF size stays 0 until the file is finished; a bound against waiting forever
            # when no frame ever arrives.
            deadline = time.monotonic() + seconds + 15.0
            while not _riff_finished(path):
                if time.monotonic() > deadline:
                    raise ZelvikError(None, "the recording did not finish", action=f"recording {path}")
                time.sleep(0.05)
        finally:
            # Joins the recording thread, which finishes the file before it ends.
            self._lib.Zelvik_StopPreview(self._handle)


def _unknown_setting(cls, name):
    """What to say about a setting the class does not have: the nearest names, and every one it has."""
    settable = sorted(n for n in dir(cls) if not n.startswith("_") and hasattr(getattr(cls, n, None), "__set__"))
    near = difflib.get_close_matches(name, settable, n=3, cutoff=0.5)
    near += [n for n in settable if (name in n or n in name) and n not in near]
    hint = f"; did you mean {' or '.join(near)}?" if near else ""
    return f"{cls.__name__} has no setting {name!r}{hint} (the settings: {', '.join(settable)})"


def _riff_finished(path):
    try:
        with open(path, "rb") as file:
            header = file.read(8)
    except OSError:
        return False
    return len(header) == 8 and int.from_bytes(header[4:8], "little") != 0


class Stream(_Closing):
    """Frames of a streaming camera as they arrive.

    The library copies each frame into a buffer this stream gave it and then posts a frame message to a
    queue. When a message arrives the stream hands the library a new buffer and a second queue, and from
    then on the library never touches the first buffer again: that buffer becomes the frame, owned by
    Python. Messages that came before the change all belong to the first buffer, which holds the newest of
    their frames (older ones were overwritten: see `skipped`).

    Buffers are reused once nothing outside the stream refers to them any more (no frame array of theirs
    is alive), so a loop that lets each frame go allocates nothing per frame."""

    def __init__(self, camera, timeout, order="RGB"):
        self._camera = camera
        self._handle = camera._handle
        self._lib = camera._lib
        self.timeout = timeout
        self._order = order
        self._buffers = []  # every buffer of this stream; a frame array keeps its buffer alive
        self.frames = 0   # frames handed out
        self.skipped = 0  # frames the library delivered that were overwritten before they were taken
        self.failed = 0   # frames the library could not read from the camera (error 8)
        self.arrival = None  # time.monotonic() when the last frame handed out was seen
        self._facts = None  # the library's facts of the last frame handed out
        self._queues = []
        self._epoll = select.epoll()
        self._width, self._height, self._bits, self._size = camera._frame_bytes()
        self._running = False
        try:
            for _ in range(2):
                queue = self._lib.ZelvikMsg_CreateQueue()
                if not queue:
                    raise ZelvikError(MEMORY, action="creating a message queue")
                self._queues.append(queue)
                self._epoll.register(self._lib.ZelvikMsg_Fd(queue), select.EPOLLIN)
            self._current = 0
            self._buffer = self._free_buffer()
            camera._call("starting to stream", self._lib.Zelvik_CallBackPreview, self._queues[0],
                         self._buffer.ctypes.data, self._size, 1)
            self._running = True
        except BaseException:
            self.close()
            raise

    def fileno(self):
        """A descriptor that becomes readable when a frame (or a failure) waits: for select, poll and
        asyncio's loop.add_reader(stream.fileno(), ...), whose callback then calls read_ready()."""
        return self._epoll.fileno()

    @property
    def shape(self):
        return frame_geometry(self._width, self._height, self._bits)[0]

    def read_ready(self):
        """The next frame if one has arrived, else None; never waits. Raises ZelvikError when the camera
        was lost or a frame could not be delivered."""
        if not self._running:
            raise ValueError("the stream is closed")
        message = _lib.Message()
        queue = self._queues[self._current]
        waiting = select.poll()
        waiting.register(self._lib.ZelvikMsg_Fd(queue), select.POLLIN)
        if not waiting.poll(0):
            return None
        buffer = self._buffer
        following = 1 - self._current
        self._buffer = self._free_buffer()
        self._camera._call("handing the library the next frame buffer", self._lib.Zelvik_CallBackPreview,
                           self._queues[following], self._buffer.ctypes.data, self._size, 1)
        self._current = following
        delivered, errors = 0, []
        while self._lib.ZelvikMsg_Get(queue, ctypes.byref(message), 0) == 1:
            if message.message != MSG_CAMERA_FRAME:
                continue
            if message.lParam == 0:
                delivered += 1
            else:
                errors.append(message.lParam)
        self.failed += errors.count(TRANSFER)
        for code in errors:
            if code != TRANSFER:
                self._running = False
                raise ZelvikError(code, action="streaming")
        if delivered == 0:
            return None
        self.skipped += delivered - 1
        self.frames += 1
        self.arrival = time.monotonic()
        frame = to_array(buffer, self._width, self._height, self._bits, self._order).view(Frame)
        # The library never writes this buffer again: its facts are those of the frame it holds.
        facts = _facts(self._lib, self._camera._handle, buffer)
        if facts is not None:
            frame.meta = _meta(facts, self._facts)
            self._facts = facts
        return frame

    @property
    def stats(self):
        """The stream's totals (StreamStats), as the library counts them, with the frames this stream passed
        over counted as not taken. Readable while streaming and after close() (until the camera streams
        again)."""
        handle = self._camera._handle if self._camera is not None else self._handle
        stats = _lib.StreamStats(size=ctypes.sizeof(_lib.StreamStats))
        if not handle or self._lib.ZelvikStream_GetStats(handle, ctypes.byref(stats)) != 1:
            raise ValueError("the camera is closed")
        return StreamStats(stats.framesRead, stats.framesUnread, stats.framesOverwritten, stats.framesDropped,
                           stats.framesProcessed, stats.framesNotTaken + self.skipped, self.frames)

    def _free_buffer(self):
        """A buffer no frame array refers to (a frame's base is its buffer): the only references left are
        the list's, the loop's and getrefcount's argument. The buffer the library holds is never one."""
        for buffer in self._buffers:
            if buffer is not self._buffer and sys.getrefcount(buffer) == 3:
                return buffer
        buffer = np.empty(self._size, np.uint8)
        self._buffers.append(buffer)
        return buffer

    def read(self, timeout=None):
        """The next frame, waiting up to timeout seconds (the stream's timeout when None); raises
        ZelvikError when none arrived in time."""
        limit = self.timeout if timeout is None else timeout
        deadline = time.monotonic() + limit
        while True:
            frame = self.read_ready()
            if frame is not None:
                return frame
            left = deadline - time.monotonic()
            if left <= 0:
                raise ZelvikError(None, f"no frame within {limit} s", action="streaming")
            self._epoll.poll(left)

    def __iter__(self):
        return self

    def __next__(self):
        if not self._running:
            raise StopIteration
        return self.read()

    def close(self):
        """Stops streaming; frames already handed out stay valid."""
        if self._camera is None:
            return
        camera, self._camera = self._camera, None
        self._running = False
        if camera._handle:
            # Once streaming has stopped the library holds no buffer of this stream.
            self._lib.Zelvik_StopPreview(camera._handle)
            _pop_error(self._lib, camera._handle)
        for queue in self._queues:
            self._lib.ZelvikMsg_DestroyQueue(queue)
        self._queues = []
        self._epoll.close()
        camera._stream = None

