"""Cameras that arrive and leave, as events for a loop that polls or for asyncio."""

import asyncio
import ctypes
import select

from . import _lib
from ._camera import CameraId, ZelvikError, _Closing
from ._lib import MSG_CAMERA_ARRIVED, MSG_CAMERA_REMOVED, library


class CameraEvent(tuple):
    """`kind` ("arrived" or "removed") and the camera: `index` (its index then), `serial`, `identity`."""

    __slots__ = ()

    def __new__(cls, kind, camera):
        return super().__new__(cls, (kind, camera))

    kind = property(lambda self: self[0])
    camera = property(lambda self: self[1])
    index = property(lambda self: self[1].index)
    serial = property(lambda self: self[1].serial)

    def __repr__(self):
        return f"CameraEvent({self.kind!r}, index={self.index}, serial={self.serial!r})"


class Watcher(_Closing):
    """Reports each camera that arrives or leaves from the moment it is made (the library notices within a
    second). Iterate it for events (each waits as read() does), poll its fileno() and call read_ready(),
    or in asyncio `async for event in watcher`. close() (or the end of a `with` block) stops it."""

    def __init__(self, timeout=None):
        self._lib = library()
        self.timeout = timeout
        self._queue = self._lib.ZelvikMsg_CreateQueue()
        if not self._queue:
            raise ZelvikError(None, "no message queue", action="watching the cameras")
        if not self._lib.ZelvikCam_Watch(self._queue):
            self._lib.ZelvikMsg_DestroyQueue(self._queue)
            self._queue = 0
            raise ZelvikError(None, "the library refused to watch", action="watching the cameras")

    def fileno(self):
        """A descriptor that is readable while events wait."""
        self._open()
        return self._lib.ZelvikMsg_Fd(self._queue)

    def read_ready(self):
        """The events that have arrived (a list, empty when none); never waits."""
        self._open()
        events, message = [], _lib.Message()
        while self._lib.ZelvikMsg_Get(self._queue, ctypes.byref(message), 0) == 1:
            if message.message not in (MSG_CAMERA_ARRIVED, MSG_CAMERA_REMOVED):
                continue
            entry = _lib.CameraEntry(size=ctypes.sizeof(_lib.CameraEntry))
            self._lib.ZelvikCam_Describe(int(message.wParam), ctypes.byref(entry))
            camera = CameraId(int(message.lParam), entry.name.decode(), entry.serial.decode(),
                              entry.identity.decode())
            events.append(CameraEvent("arrived" if message.message == MSG_CAMERA_ARRIVED else "removed", camera))
        return events

    def read(self, timeout=None):
        """The next event, waiting up to timeout seconds (the watcher's timeout, or without limit, when
        None); None when none came in time."""
        limit = self.timeout if timeout is None else timeout
        if not hasattr(self, "_pending"):
            self._pending = []
        if not self._pending:
            ready = select.select([self.fileno()], [], [], limit)[0]
            if ready:
                self._pending = self.read_ready()
        return self._pending.pop(0) if self._pending else None

    def __iter__(self):
        return self

    def __next__(self):
        if not self._queue:
            raise StopIteration
        event = self.read()
        if event is None:
            raise StopIteration
        return event

    def __aiter__(self):
        return self

    async def __anext__(self):
        if not self._queue:
            raise StopAsyncIteration
        if not hasattr(self, "_pending"):
            self._pending = []
        while not self._pending:
            loop = asyncio.get_running_loop()
            ready = loop.create_future()
            fd = self.fileno()
            loop.add_reader(fd, lambda: ready.done() or ready.set_result(None))
            try:
                await ready
            finally:
                loop.remove_reader(fd)
            self._pending = self.read_ready()
        return self._pending.pop(0)

    def _open(self):
        if not self._queue:
            raise ValueError("the watcher is closed")

    def close(self):
        """Stops the events. Calling it again does nothing."""
        if getattr(self, "_queue", 0):
            self._lib.ZelvikCam_Unwatch(self._queue)
            self._lib.ZelvikMsg_DestroyQueue(self._queue)
            self._queue = 0
