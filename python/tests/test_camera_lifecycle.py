"""Opening and closing the simulated camera from Python."""
import gc

import pytest

import tav_oru


def test_with_block_closes_the_camera():
    camera = tav_oru.Camera(0)
    with camera as entered:
        assert entered is camera
        assert entered.get_roi().width > 0
        name = camera.get_info().name
    with pytest.raises(tav_oru.CameraException, match="ORU_ERROR_CAMERA_CLOSED"):
        camera.get_roi()
    assert repr(camera) == f"<tav_oru.Camera 0: {name!r}, closed>"


def test_closing_again_leaves_a_newer_camera_alone():
    first = tav_oru.Camera(0)
    first.close()
    with tav_oru.Camera(0) as second:
        first.close()
        del first
        gc.collect()
        assert second.get_roi().width > 0
