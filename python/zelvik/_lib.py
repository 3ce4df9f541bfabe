"""Loading libZelvikSdk_USB3_Q77RX.so and declaring the C functions the package calls."""

import ctypes
import os
import threading

LIBRARY_NAME = "libZelvikSdk_USB3_Q77RX.so.1"
LIBRARY_VARIABLE = "ZELVIK_SDK_LIBRARY"

MSG_CAMERA_FRAME = 0x8002
MSG_CAMERA_ERROR = 0x8003
MSG_CAMERA_ARRIVED = 0x8004
MSG_CAMERA_REMOVED = 0x8005

HWND = ctypes.c_size_t  # uintptr_t
_int = ctypes.c_int
_pint = ctypes.POINTER(ctypes.c_int)


class FrameInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("bitsPerPixel", ctypes.c_int32),
        ("frameRate", ctypes.c_int32),
        ("buffer", ctypes.c_void_p),
    ]


class CameraInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("maxWidth", ctypes.c_int32),
        ("maxHeight", ctypes.c_int32),
        ("globalGainMin", ctypes.c_int32),
        ("globalGainMax", ctypes.c_int32),
        ("colorGainMin", ctypes.c_int32),
        ("colorGainMax", ctypes.c_int32),
        ("exposureMin", ctypes.c_int32),
        ("exposureMax", ctypes.c_int32),
    ]


class FilterInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("index", ctypes.c_int32),
        ("rangeChecked", ctypes.c_int32),
        ("min", ctypes.c_int32),
        ("max", ctypes.c_int32),
        ("name", ctypes.c_char_p),
        ("toolName", ctypes.c_char_p),
    ]


class ColorModeInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("bits", ctypes.c_int32),
        ("reportedDepth", ctypes.c_int32),
        ("color", ctypes.c_int32),
        ("samplesPerPixel", ctypes.c_int32),
        ("bitsPerSample", ctypes.c_int32),
    ]


class SensorInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("minWidth", ctypes.c_int32),
        ("minHeight", ctypes.c_int32),
    ]


class FrameFacts(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
        ("sequence", ctypes.c_uint64),
        ("arrivalNs", ctypes.c_int64),
        ("lostOverwritten", ctypes.c_uint32),
        ("lostDropped", ctypes.c_uint32),
        ("lostNotTaken", ctypes.c_uint32),
        ("lostUnread", ctypes.c_uint32),
        ("totalOverwritten", ctypes.c_uint64),
        ("totalDropped", ctypes.c_uint64),
        ("totalNotTaken", ctypes.c_uint64),
        ("totalUnread", ctypes.c_uint64),
    ]


class StreamStats(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("streaming", ctypes.c_int32),
        ("framesRead", ctypes.c_uint64),
        ("framesUnread", ctypes.c_uint64),
        ("framesOverwritten", ctypes.c_uint64),
        ("framesDropped", ctypes.c_uint64),
        ("framesProcessed", ctypes.c_uint64),
        ("framesHandedOut", ctypes.c_uint64),
        ("framesNotTaken", ctypes.c_uint64),
        ("recordProcessed", ctypes.c_uint32),
        ("recordWritten", ctypes.c_uint32),
        ("recordSkipped", ctypes.c_uint32),
        ("recordQueued", ctypes.c_uint32),
        ("recording", ctypes.c_int32),
        ("reserved", ctypes.c_uint32),
    ]


class CameraEntry(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("number", ctypes.c_int32),
        ("id", ctypes.c_int32),
        ("present", ctypes.c_int32),
        ("name", ctypes.c_char * 16),
        ("serial", ctypes.c_char * 64),
        ("identity", ctypes.c_char * 256),
    ]


class Message(ctypes.Structure):
    _fields_ = [
        ("message", ctypes.c_uint32),
        ("wParam", ctypes.c_size_t),
        ("lParam", ctypes.c_ssize_t),
    ]


# name: (result type, argument types). Every camera function takes the handle first.
_PROTOTYPES = {
    "Zelvik_GetDllVersion": (_int, []),
    "Zelvik_Initialize": (_int, [HWND]),
    "Zelvik_Release": (_int, [_int]),
    "Zelvik_GetLastError": (_int, [_int]),
    "Zelvik_CallBackPreview": (_int, [_int, HWND, ctypes.c_void_p, _int, _int]),
    "Zelvik_StopPreview": (_int, [_int]),
    "Zelvik_SnapShot": (_int, [_int, ctypes.c_void_p, _int, _int]),
    "Zelvik_SaveImage": (_int, [_int, ctypes.c_char_p, _int]),
    "Zelvik_Record": (_int, [_int, ctypes.c_char_p, _int, _int]),
    "Zelvik_SetCaptureWindowEx": (_int, [_int] * 7),
    "Zelvik_GetCaptureWindowEx": (_int, [_int] + [_pint] * 6),
    "Zelvik_Width": (_int, [_int]),
    "Zelvik_Height": (_int, [_int]),
    "Zelvik_SetColorMode": (_int, [_int, _int]),
    "Zelvik_GetColorMode": (_int, [_int]),
    "Zelvik_SetSubSample": (_int, [_int, _int]),
    "Zelvik_GetSubSample": (_int, [_int]),
    "Zelvik_GetRealExposureTime": (_int, [_int, _pint]),
    "Zelvik_SetDeviceNumber": (_int, [_int, _int]),
    "Zelvik_EnumDevice": (_int, [_int, ctypes.c_char_p]),
    "Zelvik_GetCameraInfo": (_int, [_int, ctypes.POINTER(CameraInfo)]),
    "Zelvik_SetMirrorV": (_int, [_int, _int]),
    "Zelvik_GetMirrorV": (_int, [_int]),
    "Zelvik_SetMirrorH": (_int, [_int, _int]),
    "Zelvik_GetMirrorH": (_int, [_int]),
    "Zelvik_SetAutoIris": (_int, [_int, _int]),
    "Zelvik_GetAutoIris": (_int, [_int, _pint]),
    "Zelvik_ReadRegisterEx": (_int, [_int, _int, _pint]),
    "Zelvik_SetFilterValue": (_int, [_int, _int, _int]),
    "Zelvik_GetFilterValue": (_int, [_int, _int, _pint]),
    "ZelvikLib_ErrorName": (ctypes.c_char_p, [_int]),
    "ZelvikLib_ErrorText": (ctypes.c_char_p, [_int]),
    "ZelvikLib_FilterInfo": (_int, [_int, ctypes.POINTER(FilterInfo)]),
    "ZelvikLib_ColorMode": (_int, [_int, ctypes.POINTER(ColorModeInfo)]),
    "ZelvikLib_SensorInfo": (_int, [ctypes.POINTER(SensorInfo)]),
    "ZelvikLib_LinePeriodUs": (ctypes.c_double, [_int, _int]),
    "ZelvikFrame_GetFacts": (_int, [_int, ctypes.c_void_p, ctypes.POINTER(FrameFacts)]),
    "ZelvikStream_GetStats": (_int, [_int, ctypes.POINTER(StreamStats)]),
    "ZelvikCam_List": (_int, [_int, ctypes.POINTER(CameraEntry), _int]),
    "ZelvikCam_Describe": (_int, [_int, ctypes.POINTER(CameraEntry)]),
    "ZelvikCam_GetOpen": (_int, [_int, ctypes.POINTER(CameraEntry)]),
    "ZelvikCam_SelectSerial": (_int, [_int, ctypes.c_char_p]),
    "ZelvikCam_Watch": (_int, [HWND]),
    "ZelvikCam_Unwatch": (_int, [HWND]),
    "ZelvikMsg_CreateQueue": (HWND, []),
    "ZelvikMsg_Get": (_int, [HWND, ctypes.POINTER(Message), _int]),
    "ZelvikMsg_Fd": (_int, [HWND]),
    "ZelvikMsg_Dropped": (_int, [HWND]),
    "ZelvikMsg_DestroyQueue": (_int, [HWND]),
}

_lock = threading.Lock()
_library = None


def library():
    """The loaded library with its prototypes declared; OSError when it cannot be found."""
    global _library
    with _lock:
        if _library is None:
            _library = _load()
        return _library


def _load():
    path = os.environ.get(LIBRARY_VARIABLE)
    try:
        lib = ctypes.CDLL(path or LIBRARY_NAME)
    except OSError as error:
        where = f"{LIBRARY_VARIABLE}={path}" if path else f"the loader path (or set {LIBRARY_VARIABLE})"
        raise OSError(f"cannot load the Zelvik camera library from {where}: {error}") from error
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    return lib
