"""Frame files written from made-up frames; no camera."""
import datetime

import numpy
import pytest
from astropy.io import fits
from PIL import Image

from tav_oru import cli
from tav_oru.image_files import FrameDescription, write_frame, writer_for

STARTED = datetime.datetime(2026, 1, 2, 3, 4, 5, 678000, tzinfo=datetime.timezone.utc)
# Bytes as the camera delivers them: blue, green, red.
BGR = numpy.array([[[1, 2, 3], [4, 5, 6]], [[7, 8, 9], [10, 11, 12]]], dtype=numpy.uint8)
RAW16 = numpy.array([[0, 1, 255], [256, 40000, 65535]], dtype=numpy.uint16)


def describe(image_type, **extra):
    return FrameDescription(camera_name="ORU test camera", image_type=image_type,
                            exposure_us=2_500_000, bins=2, date_obs=STARTED, **extra)


def read_fits(path):
    return fits.getdata(path)


def read_png(path):
    return numpy.asarray(Image.open(path))


READERS = {
    ".fits": (read_fits, lambda rgb: numpy.moveaxis(rgb, 2, 0)),
    ".png": (read_png, lambda rgb: rgb),
    ".npy": (numpy.load, lambda rgb: rgb),
}


@pytest.mark.parametrize("extension", sorted(READERS))
def test_colour_frames_are_written_in_rgb_order(tmp_path, extension):
    read, layout = READERS[extension]
    path = tmp_path / f"frame{extension}"
    write_frame(path, BGR, describe("rgb24"))
    numpy.testing.assert_array_equal(read(path), layout(BGR[..., ::-1]))


@pytest.mark.parametrize("extension", sorted(READERS))
def test_sixteen_bit_frames_keep_every_value(tmp_path, extension):
    read, _ = READERS[extension]
    path = tmp_path / f"frame{extension}"
    write_frame(path, RAW16, describe("raw16"))
    numpy.testing.assert_array_equal(read(path), RAW16)


def test_fits_header_keywords(tmp_path):
    path = tmp_path / "frame.fits"
    write_frame(path, RAW16, describe("raw16", gain=120, pixel_size_um=3.76, bayer="RGGB",
                                      temperature_c=-9.5))
    header = fits.getheader(path)
    assert header["EXPTIME"] == 2.5
    assert (header["XBINNING"], header["YBINNING"]) == (2, 2)
    assert header["GAIN"] == 120
    assert header["INSTRUME"] == "ORU test camera"
    assert header["DATE-OBS"] == "2026-01-02T03:04:05.678"
    assert header["BAYERPAT"] == "RGGB"
    assert header["CCD-TEMP"] == -9.5
    assert header["XPIXSZ"] == pytest.approx(7.52)


def test_unknown_values_leave_their_keywords_out(tmp_path):
    path = tmp_path / "frame.fits"
    write_frame(path, BGR, describe("rgb24"))
    header = fits.getheader(path)
    assert not {"GAIN", "BAYERPAT", "CCD-TEMP", "XPIXSZ"} & set(header)


@pytest.mark.parametrize("name", ["frame.jpg", "frame", "frame.fits.gz"])
def test_unknown_extensions_are_refused(tmp_path, name):
    with pytest.raises(ValueError, match="unknown file type"):
        writer_for(tmp_path / name)


@pytest.mark.parametrize("index, count, name", [
    (0, 1, "sky.fits"),
    (0, 3, "sky-0001.fits"),
    (2, 3, "sky-0003.fits"),
])
def test_frame_numbers_go_before_the_extension(tmp_path, index, count, name):
    assert cli.numbered_path(tmp_path / "sky.fits", index, count) == tmp_path / name
