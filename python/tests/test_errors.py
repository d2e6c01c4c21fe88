"""The exception family, as raised by the simulated camera and as built from Python."""
import numpy
import pytest

import tav_oru
from conftest import make_roi

# Every family member, the built-in errors it also is, and the ones it is not.
FAMILY = [
    (tav_oru.CameraError, {RuntimeError}, {ValueError, KeyError}),
    (tav_oru.CameraException, {tav_oru.CameraError}, {ValueError, KeyError}),
    (tav_oru.CameraValueError, {tav_oru.CameraException, ValueError}, {KeyError}),
    (tav_oru.ControllableException, {tav_oru.CameraError}, {ValueError, KeyError}),
    (tav_oru.UnknownControlError, {tav_oru.ControllableException, KeyError}, {ValueError}),
    (tav_oru.ROIException, {tav_oru.CameraError, ValueError}, {KeyError}),
]


@pytest.mark.parametrize("error, bases, not_bases", FAMILY,
                         ids=[error.__name__ for error, _, _ in FAMILY])
def test_the_family_tree(error, bases, not_bases):
    assert issubclass(error, tav_oru.CameraError) and issubclass(error, RuntimeError)
    assert all(issubclass(error, base) for base in bases)
    assert not any(issubclass(error, base) for base in not_bases)


def test_errors_built_from_python_carry_their_code():
    error = tav_oru.CameraException("failed to set the ROI", 2, 8, False)
    assert (error.code, error.code_name, error.camera_index) == (8, "ORU_ERROR_INVALID_SIZE", 2)
    assert str(error) == ("ORU Camera: (camera index: 2) failed to set the ROI "
                          "(error code: 8: ORU_ERROR_INVALID_SIZE)")
    # The texts name codes up to 16; the attribute names every code.
    error = tav_oru.CameraException("failed to set camera mode", 0, 17, False)
    assert str(error).endswith("(error code: 17: )")
    assert error.code_name == "ORU_ERROR_INVALID_MODE"
    plain = tav_oru.CameraError("something failed")
    assert (str(plain), plain.code, plain.code_name) == ("something failed", None, None)
    assert tav_oru.ControllableException("Gain", 700, 0, 600).name == "Gain"


def test_an_unknown_control_is_a_key_error_that_names_the_valid_ones(camera):
    with pytest.raises(KeyError) as raised:
        camera.set_control("gian", 100)
    error = raised.value
    assert isinstance(error, tav_oru.UnknownControlError)
    assert error.name == "gian" and error.closest == "Gain"
    assert error.valid_names == sorted(camera.get_controls())
    assert str(error).startswith("no such controllable: gian (did you mean 'Gain'? ")
    assert all(name in str(error) for name in error.valid_names)
    with pytest.raises(tav_oru.UnknownControlError) as raised:
        camera.get_control("Zzzzzzzz")
    assert raised.value.closest is None and "did you mean" not in str(raised.value)


def test_writing_a_read_only_control_raises(camera):
    with pytest.raises(tav_oru.ControllableException,
                       match="^failed to change the value of Temperature: not writable$"):
        camera.set_control("Temperature", 100)


def test_a_failed_camera_call_raises_camera_exception_with_its_code(camera):
    with pytest.raises(tav_oru.CameraException) as raised:
        camera.capture(numpy.zeros(640 * 480, dtype=numpy.uint8), 640 * 480 - 1)
    error = raised.value
    assert (error.code, error.code_name, error.camera_index) \
        == (13, "ORU_ERROR_BUFFER_TOO_SMALL", 0)
    assert str(error) == ("ORU Camera: (camera index: 0) failed to read image after capture "
                          "(error code: 13: ORU_ERROR_BUFFER_TOO_SMALL)")
    assert not isinstance(error, ValueError)


@pytest.mark.parametrize("roi, error, text", [
    (make_roi(tav_oru.ImageType.raw8, width=641), tav_oru.ROIException,
     "ROI width%8 should be 0 (not the case for 641)"),
    (make_roi(tav_oru.ImageType.raw8, bins=5), tav_oru.ROIException,
     "unsupported number of bin(s): 5"),
    (make_roi(tav_oru.ImageType.raw8, width=6248, height=4176, bins=2), tav_oru.CameraValueError,
     "ORU Camera: (camera index: 0) failed to set the ROI (error code: 8: ORU_ERROR_INVALID_SIZE)"),
], ids=["width", "bins", "larger-than-the-sensor"])
def test_a_roi_the_camera_cannot_take_is_a_value_error(camera, roi, error, text):
    with pytest.raises(ValueError) as raised:
        camera.set_roi(roi)
    assert type(raised.value) is error and str(raised.value) == text
    camera.set_roi(make_roi(tav_oru.ImageType.raw8))


def test_plain_failures_are_camera_errors_without_a_code(camera, tmp_path):
    with pytest.raises(tav_oru.CameraError) as raised:
        camera.enable_dark_substract(tmp_path / "missing.bmp")
    assert raised.value.code is None and str(raised.value).startswith("file not found: ")


ENUMERATIONS = [
    (tav_oru.BayerPattern, 4, [5, -1]),
    (tav_oru.ImageType, 3, [4, 9, -1]),
    (tav_oru.GuideDirection, 3, [4]),
    (tav_oru.CameraMode, 6, [7, -1]),
    (tav_oru.TriggerOutput, 1, [2]),
]


@pytest.mark.parametrize("enumeration, last, outside", ENUMERATIONS,
                         ids=[enumeration.__name__ for enumeration, _, _ in ENUMERATIONS])
def test_enumerations_refuse_numbers_outside_their_members(enumeration, last, outside):
    assert [int(enumeration(value)) for value in range(last + 1)] == list(range(last + 1))
    for value in outside:
        with pytest.raises(ValueError, match=f"^{value} is not a valid {enumeration.__name__}$"):
            enumeration(value)
