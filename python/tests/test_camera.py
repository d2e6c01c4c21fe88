"""A simulated representative camera (product 0x1001) through the module."""
import os
import pathlib
import signal
import threading
import time

import numpy
import pytest

import tav_oru
from conftest import make_roi

RAW8_FRAME = 640 * 480
SENTINEL = 0xA5


def test_info_of_the_representative_camera(camera):
    info = camera.get_info()
    assert (info.max_width, info.max_height) == (6248, 4176)
    assert info.is_color and info.is_usb3 and info.has_cooler
    assert info.bayer == tav_oru.BayerPattern.RG
    assert info.supported_bins == {1, 2, 3, 4}
    assert info.supported_image_types == set(tav_oru.ImageType.__members__.values())
    assert info.bit_depth == 16
    assert info.pixel_size_um == pytest.approx(3.76)


def test_controls_and_their_limits(camera):
    controls = camera.get_controls()
    assert {"Gain", "Exposure", "WB_R", "WB_B", "Temperature", "CoolerOn"} <= set(controls)
    gain = controls["Gain"]
    assert (gain.min_value, gain.max_value, gain.default_value) == (0, 700, 200)
    assert gain.is_writable and gain.supports_auto
    assert not controls["Temperature"].is_writable


def test_controllable_is_a_snapshot_until_set_control(camera):
    before = camera.get_controls()["Gain"].value
    snapshot = camera.get_controls()["Gain"]
    snapshot.value = before + 50
    assert camera.get_controls()["Gain"].value == before
    camera.set_control("Gain", snapshot.value)
    assert camera.get_controls()["Gain"].value == before + 50
    camera.set_control("Gain", before)


@pytest.mark.parametrize("image_type, bins", [
    (tav_oru.ImageType.raw8, 1),
    (tav_oru.ImageType.rgb24, 2),
    (tav_oru.ImageType.raw16, 4),
    (tav_oru.ImageType.y8, 1),
])
def test_roi_round_trip(camera, image_type, bins):
    camera.set_roi(make_roi(image_type, width=320, height=240, bins=bins, start_x=16, start_y=8))
    roi = camera.get_roi()
    assert (roi.width, roi.height, roi.bins, roi.type) == (320, 240, bins, image_type)
    assert (roi.start_x, roi.start_y) == (0, 0)
    camera.set_roi(make_roi(tav_oru.ImageType.raw8))


@pytest.mark.parametrize("as_path", [str, pathlib.Path], ids=["str", "path-like"])
def test_dark_frame_path_accepts_text_and_path_objects(camera, tmp_path, as_path):
    missing = tmp_path / "dark.bmp"
    with pytest.raises(RuntimeError, match=f'^file not found: "{missing}"$'):
        camera.enable_dark_substract(as_path(missing))


def test_capture_refuses_a_size_below_one_frame(camera):
    image = numpy.zeros(RAW8_FRAME, dtype=numpy.uint8)
    with pytest.raises(RuntimeError, match="ORU_ERROR_BUFFER_TOO_SMALL"):
        camera.capture(image, RAW8_FRAME - 1)


def test_capture_fills_an_exact_uint8_array_after_a_refused_one(camera):
    image = numpy.full(RAW8_FRAME, SENTINEL, dtype=numpy.uint8)
    with pytest.raises(RuntimeError, match="ORU_ERROR_BUFFER_TOO_SMALL"):
        camera.capture(image, RAW8_FRAME - 1)
    camera.capture(image, RAW8_FRAME)
    assert numpy.count_nonzero(image != SENTINEL) > RAW8_FRAME // 2


@pytest.mark.parametrize("image, size", [
    (numpy.zeros(RAW8_FRAME - 1, dtype=numpy.uint8), RAW8_FRAME),
    (numpy.zeros(RAW8_FRAME, dtype=numpy.uint16), RAW8_FRAME),
    (numpy.zeros(RAW8_FRAME, dtype=numpy.int8), RAW8_FRAME),
    (numpy.zeros((960, 640), dtype=numpy.uint8)[::2], RAW8_FRAME),
    (numpy.zeros((640, 480), dtype=numpy.uint8, order="F"), RAW8_FRAME),
    (numpy.frombuffer(bytes(RAW8_FRAME), dtype=numpy.uint8), RAW8_FRAME),
], ids=["too-short", "uint16", "int8", "strided", "fortran-order", "read-only"])
def test_capture_refuses_arrays_it_cannot_fill_in_place(camera, image, size):
    with pytest.raises(ValueError, match="capture"):
        camera.capture(image, size)


@pytest.mark.parametrize("image_type, shape, dtype", [
    (tav_oru.ImageType.raw8, (240, 320), numpy.uint8),
    (tav_oru.ImageType.y8, (240, 320), numpy.uint8),
    (tav_oru.ImageType.rgb24, (240, 320, 3), numpy.uint8),
    (tav_oru.ImageType.raw16, (240, 320), numpy.uint16),
])
def test_capture_returns_an_array_shaped_for_the_roi(camera, image_type, shape, dtype):
    camera.set_roi(make_roi(image_type, width=320, height=240))
    frame = camera.capture()
    camera.set_roi(make_roi(tav_oru.ImageType.raw8))
    assert frame.shape == shape and frame.dtype == dtype
    assert frame.flags.c_contiguous


def test_other_threads_run_during_a_capture(camera):
    camera.set_control("Exposure", 2_000_000)
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    counter = threading.Thread(target=count)
    counter.start()
    started = time.monotonic()
    try:
        camera.capture()
    finally:
        ended = time.monotonic()
        stop.set()
        counter.join()
        camera.set_control("Exposure", 10_000)
    assert ended - started >= 1.5
    # With the interpreter lock held for the whole exposure there would be none.
    assert any(started + 0.5 < tick < ended - 0.5 for tick in ticks)


def test_ctrl_c_aborts_a_long_exposure_and_the_camera_stays_usable(camera):
    camera.set_control("Exposure", 60_000_000)
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            camera.capture()
    finally:
        timer.cancel()
        camera.set_control("Exposure", 10_000)
    # Not aborted, the capture would return after the full minute and the
    # pending signal would only then raise.
    assert time.monotonic() - started < 30
    assert camera.capture().shape == (480, 640)
