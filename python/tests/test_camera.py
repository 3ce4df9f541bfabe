"""Finding and opening cameras, their settings, and single frames."""

import numpy as np
import pytest

import zelvik
from zelvik import _lib

BAR_WIDTH = 2592 // 8  # eight colour bars over the sensor's width: white, yellow, ..., red (6th), blue, gray


@pytest.mark.parametrize("count", [1, 2, 4])
def test_cameras_lists_every_attached_camera(start_emulator, count):
    start_emulator("--cameras", count)
    assert zelvik.cameras() == [f"ZelvikQ77RX_{i:02d}" for i in range(1, count + 1)]


def test_no_camera_is_an_empty_list_and_opening_raises_the_library_code():
    assert zelvik.cameras() == []
    with pytest.raises(zelvik.ZelvikError) as raised:
        zelvik.Camera()
    assert raised.value.code == zelvik.NO_CAMERA == 2
    assert raised.value.text == "camera not present"
    assert "camera not present (error 2)" in str(raised.value)


def test_an_index_past_the_attached_cameras_raises(start_emulator):
    start_emulator("--cameras", 2)
    with pytest.raises(zelvik.ZelvikError) as raised:
        zelvik.Camera(index=2)
    assert raised.value.code == 2


@pytest.mark.parametrize("index, error, says", [
    (-1, ValueError, "numbered from 0"), ("0", TypeError, "camera index takes an integer"),
    (0.0, TypeError, "camera index takes an integer"),
])
def test_an_index_that_names_no_camera_is_refused_before_the_library_is_asked(start_emulator, index, error, says):
    start_emulator()
    with pytest.raises(error, match=says):
        zelvik.Camera(index)


def test_a_library_that_cannot_be_loaded_raises_naming_the_variable(monkeypatch, tmp_path):
    monkeypatch.setattr(_lib, "_library", None)
    monkeypatch.setenv(_lib.LIBRARY_VARIABLE, str(tmp_path / "missing.so"))
    with pytest.raises(OSError, match="ZELVIK_SDK_LIBRARY="):
        zelvik.cameras()


def test_a_closed_camera_refuses_calls_and_closes_twice(camera):
    camera.close()
    camera.close()
    assert camera.closed
    with pytest.raises(ValueError):
        camera.gain


ROUND_TRIPS = [
    ("bits", 8, 8), ("bits", 16, 16), ("bits", 48, 48), ("bits", 64, 64),
    ("gain", 40, 40),
    ("gamma", 0.8, 0.8),
    ("white_balance", (1.2, 0.9, 1.5), (1.2, 0.9, 1.5)),
    ("auto_white_balance", True, True),
    ("roi", (16, 8, 640, 480), (16, 8, 640, 480)),
    ("subsample", 4, 4),
    ("exposure_lines", 500, 500),
    ("mirror", (True, False), (True, False)),
    ("auto_exposure", "gain", "gain"),
    ("gray_mode", "luminance", "luminance"), ("gray_mode", "bayer", "bayer"),
    ("brightness", -20, -20), ("contrast", 30, 30), ("saturation", 40, 40), ("sharpness", 7, 7),
]


@pytest.mark.parametrize("name, value, expected", ROUND_TRIPS)
def test_settings_read_back_as_set(camera, name, value, expected):
    setattr(camera, name, value)
    assert getattr(camera, name) == expected


STORED = ("gain", "gamma", "white_balance", "exposure_lines", "mirror", "auto_exposure", "brightness", "bayer_mode",
          "gray_mode")


def test_a_scripts_settings_are_its_own_unless_it_stores_them(start_emulator):
    start_emulator()
    changes = {"gain": 33, "gamma": 1.3, "white_balance": (1.1, 1.0, 0.7), "exposure_lines": 500,
               "mirror": (True, True), "auto_exposure": "gain", "brightness": -20, "gray_mode": "luminance"}
    with zelvik.Camera() as cam:
        stored = {name: getattr(cam, name) for name in STORED}
        for name, value in changes.items():
            setattr(cam, name, value)
        assert cam.bayer_mode != stored["bayer_mode"], "the mirrors moved the Bayer phase"
    # The next program starts from what was stored, not from the script's settings.
    with zelvik.Camera(store_settings=True) as cam:
        assert {name: getattr(cam, name) for name in STORED} == stored
        for name, value in changes.items():
            setattr(cam, name, value)
    with zelvik.Camera() as cam:
        assert {name: getattr(cam, name) for name in changes} == changes


def test_exposure_in_microseconds_lands_on_the_nearest_line(camera):
    line_us = (2592 + 916) / 96
    camera.exposure_us = 2000
    assert camera.exposure_lines == round(2000 / line_us)
    assert abs(camera.exposure_us - 2000) <= line_us / 2 + 1


# A refusal names the setting and what it takes; nothing reaches the library.
@pytest.mark.parametrize("name, value, error, says", [
    ("bits", 12, ValueError, "(8, 16, 24, 32, 48, 64)"), ("bits", 24.0, TypeError, "integer"),
    ("gain", 64, ValueError, "0..63"), ("gain", -1, ValueError, "0..63"), ("gain", 1.5, TypeError, "integer"),
    ("gain", "4", TypeError, "integer"), ("gamma", 2.5, ValueError, "0.0..2.0"), ("gamma", "1", TypeError, "number"),
    ("white_balance", (1.0, 2.5, 1.0), ValueError, "0.0..2.0"), ("white_balance", (1.0, 1.0), TypeError, "three"),
    ("exposure_lines", 16384, ValueError, "0..16383"), ("exposure_lines", 500.5, TypeError, "integer"),
    ("exposure_us", -5, ValueError, "out of range 36.5.."), ("exposure_us", 1e9, ValueError, "1..16383 lines"),
    ("brightness", 256, ValueError, "-255..255"), ("bayer_mode", 4, ValueError, "0..3"),
    ("roi", (2000, 0, 640, 480), ValueError, "inside"), ("roi", (0, 0, 2, 480), ValueError, "smaller"),
    ("roi", (0.5, 0, 640, 480), TypeError, "four integers"), ("subsample", 3, ValueError, "(1, 2, 4)"),
    ("auto_exposure", "on", ValueError, "'off'"), ("gray_mode", "gray", ValueError, "'luminance'"),
    ("mirror", True, TypeError, "two flags"),
])
def test_a_refused_setting_raises_naming_it_and_leaves_the_old_value(camera, name, value, error, says):
    before = getattr(camera, name)
    with pytest.raises(error) as raised:
        setattr(camera, name, value)
    assert name.split("_")[0] in str(raised.value) and says in str(raised.value)
    assert getattr(camera, name) == before


@pytest.mark.parametrize("name, suggested", [("exposure", "exposure_us"), ("global_gain", "gain"), ("fps", None)])
def test_a_setting_the_camera_does_not_have_is_refused_not_created(camera, name, suggested):
    with pytest.raises(AttributeError) as raised:
        setattr(camera, name, 2000)
    assert f"no setting {name!r}" in str(raised.value)
    if suggested:
        assert f"did you mean {suggested}" in str(raised.value)
    assert not hasattr(camera, name)
    with pytest.raises(AttributeError, match="cannot be set"):
        camera.snap = None


def test_settings_reach_the_sensor(camera):
    camera.gain = 40
    camera.exposure_lines = 500
    camera.roi = (16, 8, 640, 480)
    camera.subsample = 2
    camera.mirror = (False, True)
    camera.snap()
    register = camera.read_register
    assert register(0x35) == 40
    assert register(9) == 500
    # window start is offset by 54 rows and 16 columns, its size is stored less one
    assert (register(1), register(2), register(3), register(4)) == (8 + 54, 16 + 16, 479, 639)
    assert (register(0x22), register(0x23)) == (1, 1)
    assert register(0x20) & 0x8000


@pytest.mark.parametrize("bits, shape, dtype, top", [
    (8, (64, 2592), np.uint8, 255),
    (16, (64, 2592), np.uint16, 1023),
    (24, (64, 2592, 3), np.uint8, 255),
    (32, (64, 2592, 3), np.uint8, 255),
    (48, (64, 2592, 3), np.uint16, 1023),
    (64, (64, 2592, 3), np.uint16, 1023),
])
def test_snap_gives_the_frame_of_each_colour_mode(camera, bits, shape, dtype, top):
    camera.bits = bits
    camera.roi = (0, 0, 2592, 64)
    frame = camera.snap()
    assert frame.shape == shape and frame.dtype == dtype
    assert frame.max() <= top and frame.mean() > top / 8
    assert camera.shape == shape


@pytest.mark.parametrize("bits", [24, 32, 48, 64])
@pytest.mark.parametrize("order", ["RGB", "BGR"])
def test_colour_frames_come_in_the_order_asked(camera, bits, order):
    camera.bits = bits
    camera.roi = (0, 0, 2592, 64)
    frame = camera.snap(order=order).astype(np.int64)
    if order == "BGR":
        frame = frame[..., ::-1]
    centre = BAR_WIDTH // 2
    gray = frame[32, centre]
    red = frame[32, 5 * BAR_WIDTH + centre]
    full = 255 if bits in (24, 32) else 1023
    assert abs(gray[0] - gray[1]) < full // 20 and abs(gray[1] - gray[2]) < full // 20
    assert gray[0] > full // 2
    assert red[0] > full // 2 and red[1] < full // 10 and red[2] < full // 10


@pytest.mark.parametrize("bits", [8, 16, 24, 32, 48])
def test_rows_padded_by_the_library_are_cut_off(camera, bits):
    # a width whose rows the library pads to 4 bytes; the bars are vertical, so a frame whose rows were
    # taken at the wrong stride would shear and its rows would differ
    camera.bits = bits
    camera.roi = (0, 0, 2 * BAR_WIDTH - 2, 40)
    frame = camera.snap()
    assert frame.shape[:2] == (40, 2 * BAR_WIDTH - 2)
    for row in range(4, 34, 2):
        np.testing.assert_array_equal(frame[row], frame[2])
        np.testing.assert_array_equal(frame[row + 1], frame[3])


@pytest.mark.parametrize("mode, expected_rows", [
    ("bayer", ([0, 191], [0, 0])),        # red sites, then blue and green 2 sites of the red bar
    ("luminance", ([57, 57], [57, 57])),  # 30 % of red
])
def test_gray_mode_chooses_mosaic_or_luminance(camera, mode, expected_rows):
    camera.bits, camera.gray_mode = 8, mode
    camera.roi = (5 * BAR_WIDTH + 40, 0, 64, 16)
    frame = camera.snap()
    assert [list(frame[8, 8:10]), list(frame[9, 8:10])] == [list(r) for r in expected_rows]


def test_bgr_frames_of_unpadded_rows_are_compact_for_opencv(camera):
    camera.bits = 24
    camera.roi = (0, 0, 640, 48)
    frame = camera.snap(order="BGR")
    assert frame.flags.c_contiguous and frame.flags.writeable
    np.testing.assert_array_equal(camera.snap(order="RGB"), frame[..., ::-1])


# The colour bars keep their colours for every window the package takes, mirrored or not: x, y, width and
# height even. Windows that would start (or, mirrored, end) on an odd column or row are refused: they give
# yellow as (191, 95, 191) and swap red and blue.
BARS = {1: (1, 1, 0), 5: (1, 0, 0), 6: (0, 0, 1)}  # yellow, red, blue


@pytest.mark.parametrize("roi", [(0, 0, 2592, 64), (2, 0, 2590, 64), (0, 2, 2592, 64), (2, 2, 2588, 62),
                                 (324, 10, 1944, 40)])
@pytest.mark.parametrize("mirror", [(False, False), (True, False), (False, True)])
def test_every_window_the_package_takes_keeps_the_colours(camera, roi, mirror):
    camera.bits, camera.mirror, camera.roi = 24, mirror, roi
    frame = camera.snap()
    x, _, width, height = roi
    for bar, colour in BARS.items():
        column = bar * BAR_WIDTH + BAR_WIDTH // 2 - x
        if not 0 <= column < width:
            continue
        if mirror[0]:
            column = width - 1 - column
        pixel = frame[height // 2, column]
        assert all(p > 128 if on else p < 60 for p, on in zip(pixel, colour)), (bar, tuple(pixel))


@pytest.mark.parametrize("roi", [(1, 0, 2590, 64), (0, 1, 2592, 64), (1, 1, 2590, 64), (0, 0, 2591, 64),
                                 (0, 0, 2592, 63)])
def test_a_window_on_an_odd_column_or_row_is_refused_with_why(camera, roi):
    before = camera.roi
    with pytest.raises(ValueError, match="must be even"):
        camera.roi = roi
    assert camera.roi == before


def test_snap_follows_the_window_and_subsampling(camera):
    camera.bits = 24
    camera.roi = (5 * BAR_WIDTH, 0, BAR_WIDTH, 96)
    camera.subsample = 2
    frame = camera.snap()
    assert frame.shape == (48, BAR_WIDTH // 2, 3)
    red = frame[24, BAR_WIDTH // 4].astype(int)
    assert red[0] > 128 and red[1] < 25 and red[2] < 25


def test_two_cameras_at_once_keep_their_own_settings(start_emulator):
    start_emulator("--cameras", 2)
    with zelvik.Camera(index=0) as first, zelvik.Camera(index=1) as second:
        for cam, gain in ((first, 8), (second, 16)):
            cam.bits, cam.roi, cam.gain = 8, (0, 0, 2592, 64), gain
        dark, bright = first.snap(), second.snap()
        assert abs(2 * float(dark.mean()) - float(bright.mean())) < 0.05 * float(bright.mean())
        with first.stream() as a, second.stream() as b:
            for _ in range(5):
                assert a.read().mean() < b.read().mean()


@pytest.mark.parametrize("name, quality", [("frame.gif", "high"), ("frame", "high"), ("frame.jpg", "best")])
def test_save_refuses_what_it_cannot_write_before_calling_the_library(camera, tmp_path, name, quality):
    with pytest.raises(ValueError):
        camera.save(tmp_path / name, quality=quality)
    assert not (tmp_path / name).exists()
