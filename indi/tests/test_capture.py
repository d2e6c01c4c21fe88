"""Exposures of the ORU6200MC Pro through indiserver: full frame, subframe
with binning, the three capture formats, flip, and abort."""
import numpy
import pytest

DEVICE = "TAV ORU6200MC Pro"


def expose(server, seconds):
    return server.expose(DEVICE, seconds)


def frame(server):
    return [int(float(server.get(f"{DEVICE}.CCD_FRAME.{name}"))) for name in ("X", "Y", "WIDTH", "HEIGHT")]


def test_driver_lists_the_camera_under_its_name(server):
    assert server.get(f"{DEVICE}.DRIVER_INFO.DRIVER_EXEC") == "indi_oru_ccd"
    assert server.get(f"{DEVICE}.CCD_INFO.CCD_MAX_X") == "6248"
    assert server.get(f"{DEVICE}.CCD_INFO.CCD_MAX_Y") == "4176"
    assert server.get(f"{DEVICE}.CCD_CAPTURE_FORMAT.RAW16") == "On"
    assert server.get(f"{DEVICE}.CCD_CFA.CFA_TYPE") == "RGGB"
    assert server.get(f"{DEVICE}.CCD_CONTROLS.Gain") is not None
    assert server.get(f"{DEVICE}.CCD_COOLER.COOLER_OFF") == "On"


def test_full_frame_exposure_arrives_as_a_valid_fits_image(server):
    server.set(f"{DEVICE}.CCD_CONTROLS.Gain=120;Offset=12")
    header, data = expose(server, 1)
    assert data.shape == (4176, 6248)
    assert data.dtype == numpy.uint16
    assert data.std() > 0
    assert header["EXPTIME"] == pytest.approx(1.0)
    assert header["BAYERPAT"] == "RGGB"
    assert header["XBAYROFF"] == 0 and header["YBAYROFF"] == 0
    assert header["ROWORDER"] == "TOP-DOWN"
    assert header["XBINNING"] == 1
    assert header["GAIN"] == 120 and header["OFFSET"] == 12
    assert header["EGAIN"] > 0
    assert "SET-TEMP" in header and "CCD-TEMP" in header
    assert server.get(f"{DEVICE}.CCD_EXPOSURE._STATE") == "Ok"


def test_subframe_with_bin_2_reports_what_the_camera_applied(server):
    server.set(f"{DEVICE}.CCD_BINNING.HOR_BIN=2;VER_BIN=2")
    server.set(f"{DEVICE}.CCD_FRAME.X=101;Y=51;WIDTH=1001;HEIGHT=601")
    server.wait_for(f"{DEVICE}.CCD_FRAME._STATE", "Ok", 5)
    x, y, width, height = frame(server)
    # Aligned inside the request: binned widths in steps of 8, heights of 2.
    assert (width // 2) % 8 == 0 and (height // 2) % 2 == 0
    assert 1001 - 16 < width <= 1001 and 601 - 4 < height <= 601
    assert 0 <= 101 - x < 32 and 0 <= 51 - y < 8
    header, data = expose(server, 0.01)
    assert data.shape == (height // 2, width // 2)
    assert header["XBINNING"] == 2 and header["YBINNING"] == 2
    assert header["BAYERPAT"] == "RGGB"


@pytest.mark.parametrize("capture_format, dtype, planes", [("RAW8", numpy.uint8, 1), ("RGB24", numpy.uint8, 3)])
def test_capture_formats(server, capture_format, dtype, planes):
    server.set(f"{DEVICE}.CCD_CAPTURE_FORMAT.{capture_format}=On")
    server.wait_for(f"{DEVICE}.CCD_CAPTURE_FORMAT.{capture_format}", "On", 5)
    _, _, width, height = frame(server)
    header, data = expose(server, 0.01)
    binning = header["XBINNING"]
    shape = (height // binning, width // binning)
    assert data.shape == (shape if planes == 1 else (3, *shape))
    assert data.dtype == dtype
    # Only a mosaic carries a colour filter pattern.
    assert ("BAYERPAT" in header) == (planes == 1)


def test_colour_planes_are_red_green_blue(server):
    server.set(f"{DEVICE}.CCD_CAPTURE_FORMAT.RGB24=On")
    server.wait_for(f"{DEVICE}.CCD_CAPTURE_FORMAT.RGB24", "On", 5)
    # All red, then all blue: the white balance empties the other plane.
    server.set(f"{DEVICE}.CCD_CONTROLS.WB_R=99;WB_B=1;Gain=300")
    _, reddish = server.expose(DEVICE, 0.2)
    server.set(f"{DEVICE}.CCD_CONTROLS.WB_R=1;WB_B=99")
    _, bluish = server.expose(DEVICE, 0.2)
    assert reddish[0].mean() > 10 * max(reddish[2].mean(), 1)
    assert bluish[2].mean() > 10 * max(bluish[0].mean(), 1)


def test_flip_changes_the_pattern_that_goes_with_the_image(server):
    server.set(f"{DEVICE}.CCD_CAPTURE_FORMAT.RAW8=On")
    server.set(f"{DEVICE}.FLIP.FLIP_HORIZONTAL=On;FLIP_VERTICAL=Off")
    server.wait_for(f"{DEVICE}.CCD_CFA.CFA_TYPE", "GRBG", 5)
    header, _ = expose(server, 0.01)
    assert header["BAYERPAT"] == "GRBG"
    server.set(f"{DEVICE}.FLIP.FLIP_HORIZONTAL=Off;FLIP_VERTICAL=Off")
    server.wait_for(f"{DEVICE}.CCD_CFA.CFA_TYPE", "RGGB", 5)


def test_abort_returns_the_exposure_to_idle_and_the_camera_goes_on(server):
    server.set(f"{DEVICE}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE=5")
    server.wait_for(f"{DEVICE}.CCD_EXPOSURE._STATE", "Busy", 5)
    server.set(f"{DEVICE}.CCD_ABORT_EXPOSURE.ABORT=On")
    server.wait_for(f"{DEVICE}.CCD_EXPOSURE._STATE", "Idle", 5)
    _, data = expose(server, 0.01)
    assert data.size > 0
