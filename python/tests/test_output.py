"""Still images and AVI recordings written by the library. These need its still-image and recording
output; ctest runs them as python_output_tests."""

import struct

import numpy as np
import pytest
from PIL import Image

import zelvik

pytestmark = pytest.mark.needs_output

BAR_WIDTH = 2592 // 8


@pytest.mark.parametrize("name, exact", [("frame.png", True), ("frame.bmp", True), ("frame.tif", True),
                                         ("frame.jpg", False), ("frame.jpeg", False)])
def test_save_writes_the_last_frame_in_the_format_of_the_extension(camera, tmp_path, name, exact):
    camera.bits = 24
    camera.roi = (0, 0, 2592, 64)
    frame = camera.snap()
    path = tmp_path / name
    camera.save(path)
    with Image.open(path) as image:
        assert image.size == (2592, 64)
        saved = np.asarray(image.convert("RGB")).astype(int)
    if exact:
        np.testing.assert_array_equal(saved, frame)
    else:
        assert np.abs(saved - frame).mean() < 8
    red = saved[32, 5 * BAR_WIDTH + BAR_WIDTH // 2]
    assert red[0] > 128 and red[1] < 40 and red[2] < 40


def test_save_raw_writes_the_pixel_memory(camera, tmp_path):
    camera.bits = 8
    camera.roi = (0, 0, 642, 10)
    frame = camera.snap()
    camera.save(tmp_path / "frame.raw")
    data = (tmp_path / "frame.raw").read_bytes()
    assert len(data) == 644 * 10  # rows padded to 4 bytes
    np.testing.assert_array_equal(np.frombuffer(data, np.uint8).reshape(10, 644)[:, :642], frame)


def test_jpeg_quality_sets_the_compression(camera, tmp_path):
    camera.bits = 24
    camera.snap()
    sizes = []
    for quality in ("high", "normal", "low"):
        path = tmp_path / f"{quality}.jpg"
        camera.save(path, quality=quality)
        with Image.open(path) as image:
            assert image.format == "JPEG"
        sizes.append(path.stat().st_size)
    assert sizes[0] > sizes[1] > sizes[2]


def avi_header(path):
    data = path.read_bytes()
    riff, size, avi = struct.unpack_from("<4sI4s", data, 0)
    main = struct.unpack_from("<14I", data, 32)  # avih: ... total frames at 4, width at 8, height at 9
    return riff, size, avi, main, len(data)


def test_record_writes_a_finished_avi_of_the_stream(camera, tmp_path):
    camera.bits = 24
    camera.subsample = 4
    path = tmp_path / "clip.avi"
    camera.record(path, 1.0)
    riff, size, avi, main, length = avi_header(path)
    assert (riff, avi) == (b"RIFF", b"AVI ")
    assert size == length - 8
    assert main[4] >= 5  # frames
    assert (main[8], main[9]) == (648, 486)
    # the camera is idle again
    assert camera.snap().shape == (486, 648, 3)


def test_record_without_waiting_returns_while_recording(camera, tmp_path):
    camera.subsample = 4
    path = tmp_path / "clip.avi"
    camera.record(path, 30.0, wait=False)
    assert path.exists()
    camera.close()  # stops early: the file is finished with the frames recorded so far
    riff, size, avi, main, length = avi_header(path)
    assert size == length - 8
