"""Several cameras: which is which, one handle per camera, and cameras that arrive and leave."""

import asyncio

import pytest

import zelvik

# A bound against hanging only: the library reports within a second.
HANG_GUARD = 10.0


def test_attached_cameras_have_indexes_names_and_serials_and_open_by_serial(start_emulator):
    start_emulator("--cameras", 2, "--fps", "max")
    listed = zelvik.attached()
    assert [(c.index, c.name, c.serial) for c in listed] == [(0, "ZelvikQ77RX_01", "Q77RX0001"),
                                                             (1, "ZelvikQ77RX_02", "Q77RX0002")]
    with zelvik.Camera(serial="Q77RX0002") as cam:
        assert (cam.index, cam.serial) == (1, "Q77RX0002")
        # Listing opens no camera, so it never disturbs an open one.
        assert zelvik.attached() == listed
        with pytest.raises(zelvik.ZelvikError) as raised:
            zelvik.Camera(index=1)
        assert raised.value.code == zelvik.NO_CAMERA
    with pytest.raises(zelvik.ZelvikError) as raised:
        zelvik.Camera(serial="Q77RX0009")
    assert raised.value.code == zelvik.NO_CAMERA


def test_a_camera_keeps_its_settings_when_the_numbers_move(start_emulator):
    emulator = start_emulator("--cameras", 2, "--fps", "max")
    # Stored for each camera: these handles keep what they set as the cameras' defaults.
    with zelvik.Camera(serial="Q77RX0001", store_settings=True) as first, \
            zelvik.Camera(serial="Q77RX0002", store_settings=True) as second:
        first.exposure_lines, second.exposure_lines = 600, 1600
    emulator.control("unplug 1")
    with zelvik.Camera(index=0) as cam:
        assert (cam.serial, cam.exposure_lines) == ("Q77RX0002", 1600)


def test_the_watcher_reports_removals_and_arrivals(start_emulator):
    emulator = start_emulator("--cameras", 2, "--fps", "max")
    with zelvik.Watcher(timeout=HANG_GUARD) as watcher:
        emulator.control("unplug 1")
        event = watcher.read()
        assert (event.kind, event.index, event.serial) == ("removed", 0, "Q77RX0001")
        assert zelvik.attached()[0].serial == "Q77RX0002"
        emulator.control("replug 1")
        event = watcher.read()
        assert (event.kind, event.index, event.serial) == ("arrived", 0, "Q77RX0001")
        assert watcher.read(timeout=0.5) is None


def test_the_watcher_serves_asyncio(start_emulator):
    emulator = start_emulator("--cameras", 1, "--fps", "max")

    async def follow(watcher):
        events = []
        async for event in watcher:
            events.append((event.kind, event.serial))
            if len(events) == 2:
                return events

    async def main():
        with zelvik.Watcher() as watcher:
            task = asyncio.ensure_future(follow(watcher))
            await asyncio.sleep(0.1)
            emulator.control("unplug 1")
            # The library looks at the disks a few times a second: a camera back before the next look
            # was never seen to leave.
            await asyncio.sleep(1.0)
            emulator.control("replug 1")
            return await asyncio.wait_for(task, HANG_GUARD)

    assert asyncio.run(main()) == [("removed", "Q77RX0001"), ("arrived", "Q77RX0001")]


def test_a_replugged_camera_streams_again_with_its_settings(start_emulator):
    emulator = start_emulator("--cameras", 1, "--fps", "max")
    with zelvik.Camera(store_settings=True) as cam:
        cam.bits, cam.roi, cam.exposure_lines = 8, (0, 0, 256, 64), 900
        with cam.stream(timeout=HANG_GUARD) as stream:
            stream.read()
            emulator.control("unplug 1")
            with pytest.raises(zelvik.ZelvikError) as raised:
                for _ in range(1000):
                    stream.read()
            assert raised.value.code == zelvik.CAMERA_LOST
    emulator.control("replug 1")
    with zelvik.Camera(serial="Q77RX0001") as cam:
        # The camera's analog settings are stored; the window and depth last for a handle.
        assert cam.exposure_lines == 900
        assert cam.read_register(9) == 900
        cam.bits, cam.roi = 8, (0, 0, 256, 64)
        with cam.stream(timeout=HANG_GUARD) as stream:
            assert stream.read().shape == (64, 256)
