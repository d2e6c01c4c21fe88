"""A simulated representative camera (product 0x1001) through the module."""
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy
import pytest

import tav_oru
from conftest import Ticker, environment_without_simulator, make_roi

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
    assert (roi.start_x, roi.start_y) == (16, 8)
    camera.set_roi(make_roi(tav_oru.ImageType.raw8))


def test_get_roi_reports_the_start_the_camera_uses_and_set_roi_keeps_it(camera):
    # The camera puts a window's left edge on a 16-column grid.
    camera.set_roi(make_roi(tav_oru.ImageType.raw8, start_x=1001, start_y=501))
    used = camera.get_roi()
    assert (used.start_x, used.start_y) == (992, 500)
    camera.set_roi(used)
    again = camera.get_roi()
    assert (again.start_x, again.start_y, again.width, again.height) == (992, 500, 640, 480)
    camera.set_roi(make_roi(tav_oru.ImageType.raw8))


def test_set_control_returns_the_value_the_camera_applied(camera):
    gain = camera.get_control("Gain")
    try:
        assert camera.set_control("Gain", gain.max_value + 1000) == gain.max_value
        assert camera.get_control("Gain").value == gain.max_value
        assert camera.set_control("Gain", 123) == 123
    finally:
        camera.set_control("Gain", gain.value)


def test_electrons_per_adu_follow_the_gain(camera):
    before = camera.get_control("Gain").value
    try:
        camera.set_control("Gain", 0)
        unity = camera.get_info().elec_per_adu
        camera.set_control("Gain", 200)
        # Gain in 0.1 dB: 20 dB amplify ten times.
        assert camera.get_info().elec_per_adu == pytest.approx(unity / 10, rel=1e-4)
    finally:
        camera.set_control("Gain", before)


def test_identity_modes_and_presets(camera):
    serial = camera.get_serial_number()
    assert len(serial) == 16 and int(serial, 16) > 0
    camera.set_user_id("scope-1")
    assert camera.get_user_id() == b"scope-1"
    camera.set_user_id(b"\x01\x02")
    assert camera.get_user_id() == b"\x01\x02"
    with pytest.raises(ValueError, match="at most 8 bytes"):
        camera.set_user_id("123456789")
    assert camera.get_user_id() == b"\x01\x02"
    assert camera.get_supported_modes()[0] == tav_oru.CameraMode.normal
    assert camera.get_camera_mode() == tav_oru.CameraMode.normal
    presets = camera.get_gain_offset_presets()
    assert (presets.offset_highest_dr, presets.offset_unity_gain, presets.gain_lowest_rn,
            presets.offset_lowest_rn) == (10, 10, 300, 50)
    assert (presets.low_gain, presets.medium_gain, presets.high_gain, presets.high_offset) \
        == (0, 100, 300, 50)


def test_trigger_outputs_keep_their_settings(camera):
    camera.set_trigger_output(tav_oru.TriggerOutput.PINB, False, 1500, 250)
    config = camera.get_trigger_output(tav_oru.TriggerOutput.PINB)
    assert (config.pin_high, config.delay_us, config.duration_us) == (False, 1500, 250)
    camera.set_trigger_output(tav_oru.TriggerOutput.PINB, True, 0, 0)


SOFT_TRIGGER_PROBE = """
import time
import tav_oru
with tav_oru.Camera(0) as camera:
    print(" ".join(mode.name for mode in camera.get_supported_modes()))
    camera.set_roi(tav_oru.ROI(width=640, height=480, bins=1, type=tav_oru.ImageType.raw8))
    camera.set_control("Exposure", 2000)
    camera.set_camera_mode(tav_oru.CameraMode.soft_edge)
    print(camera.get_camera_mode().name)
    try:
        with camera.stream(timeout_ms=500) as stream:
            next(stream)
    except tav_oru.CameraException as error:
        print(error.code_name)
    with camera.stream(timeout_ms=3000) as stream:
        time.sleep(0.5)
        for _ in range(3):
            camera.send_soft_trigger(True)
            camera.send_soft_trigger(False)
            print(next(stream).number)
"""


def test_soft_triggers_deliver_one_frame_each(oru_sim, tmp_path):
    result = subprocess.run([str(oru_sim), "--camera", "oru462mc", "--", sys.executable, "-c",
                             SOFT_TRIGGER_PROBE],
                            env=dict(environment_without_simulator(), HOME=str(tmp_path)),
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert {"normal", "soft_edge"} <= set(lines[0].split())
    assert lines[1:] == ["soft_edge", "ORU_ERROR_TIMEOUT", "0", "1", "2"]


def test_readable_reprs(camera):
    assert repr(camera) == f"<tav_oru.Camera 0: {camera.get_info().name!r}, camera ID 0>"
    roi = make_roi(tav_oru.ImageType.raw16, width=320, height=240, bins=2, start_x=16, start_y=8)
    assert repr(roi) == ("ROI(start_x=16, start_y=8, width=320, height=240, bins=2, "
                         "type=ImageType.raw16)")
    copy = eval(repr(roi), {"ROI": tav_oru.ROI, "ImageType": tav_oru.ImageType})
    assert repr(copy) == repr(roi)
    info = repr(camera.get_info())
    assert info.startswith(f"CameraInfo(name={camera.get_info().name!r}, camera_id=0, ")
    assert "bayer=BayerPattern.RG" in info and "pixel_size_um=3.76," in info
    gain = camera.get_control("Gain")
    assert repr(gain) == (f"Controllable(name='Gain', value={gain.value}, min_value=0, "
                          "max_value=700, default_value=200, is_writable=True, "
                          f"is_auto={gain.is_auto}, supports_auto=True)")


@pytest.mark.parametrize("as_path", [str, pathlib.Path], ids=["str", "path-like"])
def test_dark_frame_path_accepts_text_and_path_objects(camera, tmp_path, as_path):
    missing = tmp_path / "dark.bmp"
    with pytest.raises(tav_oru.CameraError, match=f'^file not found: "{missing}"$'):
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


def capture_one(camera):
    camera.capture()


def stream_one(camera):
    with camera.stream(timeout_ms=10_000) as stream:
        next(stream)


@pytest.mark.parametrize("wait", [capture_one, stream_one], ids=["capture", "stream"])
def test_other_threads_run_while_a_frame_is_awaited(camera, wait):
    camera.set_control("Exposure", 1_500_000)
    try:
        with Ticker() as ticker:
            wait(camera)
    finally:
        camera.set_control("Exposure", 10_000)
    assert ticker.ended - ticker.started >= 1.0
    # With the interpreter lock held for the whole wait there would be none.
    assert ticker.ran_inside(0.3)


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
