"""Streaming: frames as they arrive, owned by Python, through a descriptor that poll loops and asyncio use."""

import asyncio
import ctypes
import hashlib
import time
import tracemalloc

import numpy as np
import pytest

import zelvik


def moving_camera(start_emulator, *options):
    """A camera on the moving scene (its stripes move 8 columns left per frame), a quarter of the sensor."""
    start_emulator("--scene", "moving", *options)
    cam = zelvik.Camera()
    cam.bits, cam.subsample = 24, 4
    return cam


def scene_steps(before, after):
    """How many frames of the moving scene lie between two frames: its stripes move 2 columns left per
    frame at a quarter of the sensor and repeat every 128 columns. None when `after` is no later frame of
    `before` (a torn or foreign frame)."""
    rows = slice(200, 240)
    for steps in range(1, 64):
        shift = 2 * steps
        if np.array_equal(after[rows, 16 : 600 - shift], before[rows, 16 + shift : 600]):
            return steps
    return None


def test_a_hundred_frames_arrive_in_order_without_duplicates(start_emulator):
    with moving_camera(start_emulator) as cam, cam.stream() as stream:
        frames = []
        for frame in stream:
            assert frame.shape == (486, 648, 3)
            frames.append(frame)
            if len(frames) == 100:
                break
        steps = [scene_steps(a, b) for a, b in zip(frames, frames[1:])]
        assert None not in steps
        # frames the stream passed over are counted
        assert sum(steps) - 99 >= stream.skipped
        assert stream.frames == 100


def test_frames_are_owned_by_python(start_emulator):
    with moving_camera(start_emulator, "--fps", "max") as cam, cam.stream() as stream:
        first = stream.read()
        kept = first.copy()
        later = [stream.read() for _ in range(10)]
        np.testing.assert_array_equal(first, kept)
        # new pictures did arrive (the moving scene repeats every 64 frames, so one of them may match)
        assert any(not np.array_equal(frame, kept) for frame in later)
    # also after the stream and the camera are gone
    np.testing.assert_array_equal(first, kept)


def test_frames_let_go_are_reused_instead_of_allocating_per_frame(start_emulator):
    with moving_camera(start_emulator, "--fps", "max") as cam, cam.stream() as stream:
        frame_bytes = 486 * 648 * 3
        stream.read()
        tracemalloc.start()
        try:
            for _ in range(30):
                frame = stream.read()
            grown = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert frame.shape == (486, 648, 3)
        assert grown < 4 * frame_bytes


def test_frames_come_at_the_stream_geometry_in_each_mode(start_emulator):
    start_emulator()
    with zelvik.Camera() as cam:
        for bits, shape, dtype in [(8, (60, 642), np.uint8), (16, (60, 642), np.uint16),
                                   (32, (60, 642, 3), np.uint8), (64, (60, 642, 3), np.uint16)]:
            cam.bits, cam.roi = bits, (0, 0, 642, 60)
            with cam.stream() as stream:
                frame = stream.read()
                assert (frame.shape, frame.dtype) == (shape, dtype)
                assert stream.shape == shape
                # the left bar is the same on every second row: no row was taken at a wrong stride
                np.testing.assert_array_equal(frame[2::2], np.broadcast_to(frame[0], frame[2::2].shape))


def test_asyncio_reads_frames_through_the_descriptor(start_emulator):
    async def collect(stream, count):
        loop = asyncio.get_running_loop()
        frames, done = [], loop.create_future()

        def ready():
            frame = stream.read_ready()
            if frame is not None:
                frames.append(frame)
            if len(frames) == count and not done.done():
                done.set_result(frames)

        loop.add_reader(stream.fileno(), ready)
        try:
            return await asyncio.wait_for(done, 30)
        finally:
            loop.remove_reader(stream.fileno())

    with moving_camera(start_emulator) as cam, cam.stream() as stream:
        frames = asyncio.run(collect(stream, 5))
    assert len({hashlib.sha1(f.tobytes()).digest() for f in frames}) == 5


def test_read_ready_does_not_wait(start_emulator):
    with moving_camera(start_emulator, "--fps", "1") as cam, cam.stream() as stream:
        stream.read()
        assert stream.read_ready() is None


def test_an_unplugged_camera_ends_the_stream_with_the_library_code(start_emulator):
    emulator = start_emulator()
    with zelvik.Camera() as cam:
        cam.bits, cam.subsample = 24, 4
        with cam.stream() as stream:
            stream.read()
            emulator.control("unplug 1")
            with pytest.raises(zelvik.ZelvikError) as raised:
                for _ in stream:
                    pass
            assert raised.value.code == zelvik.CAMERA_LOST == 13
            assert raised.value.text == "camera lost during streaming"


def test_one_stream_at_a_time_and_no_snap_while_streaming(camera):
    camera.subsample = 4
    with camera.stream():
        with pytest.raises(zelvik.ZelvikError):
            camera.stream()
        with pytest.raises(zelvik.ZelvikError):
            camera.snap()
    # stopped: both work again
    assert camera.snap().shape == (486, 648, 3)
    with camera.stream() as stream:
        assert stream.read().shape == (486, 648, 3)


def test_closing_the_camera_stops_its_stream(start_emulator):
    with moving_camera(start_emulator) as cam:
        stream = cam.stream()
        stream.read()
    assert list(stream) == []
    with pytest.raises(ValueError):
        stream.read_ready()


def test_no_frame_in_time_raises(start_emulator):
    with moving_camera(start_emulator, "--fps", "1") as cam, cam.stream(timeout=0.2) as stream:
        stream.read(timeout=5)
        with pytest.raises(zelvik.ZelvikError, match="no frame within"):
            stream.read()


def test_listing_cameras_while_streaming_leaves_the_stream_alone(start_emulator):
    emulator = start_emulator("--cameras", "2")
    with zelvik.Camera() as cam:
        cam.bits, cam.roi = 24, (5 * 324, 0, 324, 96)
        with cam.stream() as stream:
            stream.read()
            assert zelvik.cameras() == ["ZelvikQ77RX_01", "ZelvikQ77RX_02"]
            assert "window 1620,0 324x96" in emulator.status().splitlines()[0]
            for _ in range(3):
                frame = stream.read()
            red = frame[48, 162].astype(int)
            assert red[0] > 128 and red[1] < 25 and red[2] < 25


def counter_frame(frame):
    """The counter scene's frame number (mod 224) from its level 16 + 29 n mod 224."""
    level = int(frame[frame.shape[0] // 2, frame.shape[1] // 2])
    return next(n for n in range(224) if 16 + n * 29 % 224 == level)


def test_frames_carry_the_librarys_facts_and_the_stream_its_totals(start_emulator):
    # The counter scene names each frame in its pixels; a slow reader leaves frames to be passed over.
    start_emulator("--scene", "counter", "--fps", "40")
    with zelvik.Camera() as cam:
        cam.bits, cam.gray_mode, cam.roi = 8, "bayer", (0, 0, 64, 48)
        library = zelvik.library()
        with cam.stream() as stream:
            frames = []
            for frame in stream:
                assert isinstance(frame, zelvik.Frame) and frame.meta is not None
                frames.append((frame.meta, counter_frame(frame)))
                if len(frames) == 20:
                    break
                if len(frames) % 4 == 0:
                    time.sleep(0.2)
        stats = stream.stats
        c_stats = zelvik._lib.StreamStats(size=ctypes.sizeof(zelvik._lib.StreamStats))
        assert library.ZelvikStream_GetStats(cam._handle, ctypes.byref(c_stats)) == 1

    first = frames[0][0]
    offset = (frames[0][1] - first.sequence) % 224
    lost = zelvik.Lost(0, 0, 0, 0)
    for (before, _), (meta, pixels) in zip(frames, frames[1:]):
        # the sequence is the library's count of the camera's frames: the pixels name the same frame
        assert (meta.sequence + offset) % 224 == pixels
        assert meta.sequence - before.sequence - 1 == meta.lost.overwritten + meta.lost.dropped + meta.lost.not_taken
        assert before.time < meta.time <= time.monotonic()
        lost = zelvik.Lost(*(a + b for a, b in zip(lost, meta.lost)))
    assert first.sequence - 1 == sum(first.lost[:3])
    assert lost.not_taken >= stream.skipped > 0, "the pauses made the stream pass frames over"
    # the stream's totals are the library's, with the frames it passed over counted as not taken
    assert stats.read == c_stats.framesRead >= frames[-1][0].sequence
    assert (stats.overwritten, stats.dropped, stats.unread) == (
        c_stats.framesOverwritten, c_stats.framesDropped, c_stats.framesUnread)
    assert stats.not_taken == c_stats.framesNotTaken + stream.skipped
    assert stats.taken == 20 == stream.frames
    assert stats.processed == c_stats.framesProcessed == c_stats.framesHandedOut + c_stats.framesNotTaken
    # what the frames say they lost is what the stream lost before its last frame
    last = frames[-1][0]
    assert last.sequence - 20 == sum(lost[:3]) + sum(first.lost[:3])


def test_a_snapshot_is_frame_1_of_its_own_stream(camera):
    camera.subsample = 4
    for _ in range(2):
        frame = camera.snap()
        assert frame.meta.sequence == 1 and frame.meta.lost == (0, 0, 0, 0)
        assert frame.meta.time <= time.monotonic()
