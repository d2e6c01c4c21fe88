"""Writing captured frames to FITS, PNG or NumPy files, chosen by extension.

Frames arrive as ``Camera.capture()`` returns them; colour frames (bytes blue,
green, red) are written in red, green, blue order.
"""
from __future__ import annotations

import dataclasses
import datetime
import pathlib
from typing import Callable, Optional

import numpy

# FITS names of the mosaic phases, by the module's BayerPattern names.
BAYER_KEYWORDS = {"RG": "RGGB", "BG": "BGGR", "GR": "GRBG", "GB": "GBRG"}

MJD_ZERO = datetime.datetime(1858, 11, 17, tzinfo=datetime.timezone.utc)

# IMAGETYP values as INDI and the calibration tools write them, by frame kind.
FRAME_TYPES = {"light": "Light Frame", "dark": "Dark Frame", "flat": "Flat Field",
               "bias": "Bias Frame"}


def shifted_pattern(pattern: str, x_offset: int, y_offset: int) -> str:
    """The mosaic ("RGGB" and the like) seen from column x_offset, row y_offset."""
    rows = [pattern[:2], pattern[2:]]
    if y_offset % 2:
        rows.reverse()
    if x_offset % 2:
        rows = [row[::-1] for row in rows]
    return "".join(rows)


@dataclasses.dataclass
class FrameDescription:
    """What the camera was doing when it took a frame."""

    camera_name: str
    image_type: str  # "raw8", "rgb24", "raw16" or "y8"
    exposure_us: int
    bins: int
    date_obs: datetime.datetime  # start of the exposure, UTC
    gain: Optional[int] = None
    pixel_size_um: Optional[float] = None
    bayer: Optional[str] = None  # "RGGB" and the like, for raw frames of colour cameras
    # Where the mosaic starts in the frame (column, row), when bayer is set.
    bayer_offset: tuple[int, int] = (0, 0)
    temperature_c: Optional[float] = None
    frame_type: str = "light"  # a key of FRAME_TYPES
    egain: Optional[float] = None  # electrons per ADU of the frame's samples
    offset: Optional[int] = None
    set_temperature_c: Optional[float] = None  # cooler set point, when the cooler is on
    cooler_power_percent: Optional[float] = None  # when the cooler is on
    object_name: Optional[str] = None
    telescope: Optional[str] = None
    filter_name: Optional[str] = None
    focal_length_mm: Optional[float] = None
    aperture_mm: Optional[float] = None
    observer: Optional[str] = None


def to_rgb(frame: numpy.ndarray) -> numpy.ndarray:
    """The frame with colour pixels in red, green, blue order; grey frames unchanged."""
    if frame.ndim == 3:
        return numpy.ascontiguousarray(frame[..., ::-1])
    return frame


def fits_header_values(description: FrameDescription) -> dict:
    """FITS keyword -> (value, comment), for the keywords that are known."""
    values = {
        "ROWORDER": ("TOP-DOWN", "first row of the data is the top of the image"),
        "IMAGETYP": (FRAME_TYPES[description.frame_type], "type of frame"),
        "BUNIT": ("adu", "unit of the pixel values"),
        "EXPTIME": (description.exposure_us / 1e6, "exposure time [s]"),
        "XBINNING": (description.bins, "binning factor along rows"),
        "YBINNING": (description.bins, "binning factor along columns"),
        "INSTRUME": (description.camera_name, "camera model"),
        "DATE-OBS": (description.date_obs.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3],
                     "start of the exposure (UTC)"),
        "MJD-OBS": ((description.date_obs - MJD_ZERO) / datetime.timedelta(days=1),
                    "start of the exposure (modified Julian date)"),
    }
    if description.gain is not None:
        values["GAIN"] = (description.gain, "camera gain setting")
    if description.egain is not None:
        values["EGAIN"] = (description.egain, "electrons per ADU [e-/ADU]")
    if description.offset is not None:
        values["OFFSET"] = (description.offset, "camera offset setting")
    if description.pixel_size_um is not None:
        binned = description.pixel_size_um * description.bins
        values["XPIXSZ"] = (binned, "binned pixel width [um]")
        values["YPIXSZ"] = (binned, "binned pixel height [um]")
    if description.bayer is not None:
        values["BAYERPAT"] = (description.bayer, "colour mosaic of the sensor")
        values["XBAYROFF"] = (description.bayer_offset[0], "column where the mosaic starts")
        values["YBAYROFF"] = (description.bayer_offset[1], "row where the mosaic starts")
    if description.temperature_c is not None:
        values["CCD-TEMP"] = (description.temperature_c, "sensor temperature [C]")
    if description.set_temperature_c is not None:
        values["SET-TEMP"] = (description.set_temperature_c, "cooler set point [C]")
    if description.cooler_power_percent is not None:
        values["COOLPOWR"] = (description.cooler_power_percent, "cooler power [%]")
    for keyword, value, comment in (
            ("OBJECT", description.object_name, "observed object"),
            ("TELESCOP", description.telescope, "telescope"),
            ("FILTER", description.filter_name, "filter"),
            ("FOCALLEN", description.focal_length_mm, "focal length [mm]"),
            ("APTDIA", description.aperture_mm, "aperture diameter [mm]"),
            ("OBSERVER", description.observer, "observer")):
        if value is not None:
            values[keyword] = (value, comment)
    return values


def write_fits(path: pathlib.Path, frame: numpy.ndarray, description: FrameDescription) -> None:
    from astropy.io import fits

    data = to_rgb(frame)
    if data.ndim == 3:
        # FITS keeps colour as three planes.
        data = numpy.ascontiguousarray(numpy.moveaxis(data, 2, 0))
    hdu = fits.PrimaryHDU(data)
    for keyword, value in fits_header_values(description).items():
        hdu.header[keyword] = value
    hdu.writeto(path, overwrite=True)


def write_png(path: pathlib.Path, frame: numpy.ndarray, description: FrameDescription) -> None:
    from PIL import Image

    data = to_rgb(frame)
    if data.dtype == numpy.uint16:
        image = Image.frombytes("I;16", (data.shape[1], data.shape[0]),
                                data.astype("<u2", copy=False).tobytes())
    else:
        image = Image.fromarray(data)
    image.save(path)


def write_npy(path: pathlib.Path, frame: numpy.ndarray, description: FrameDescription) -> None:
    numpy.save(path, to_rgb(frame))


Writer = Callable[[pathlib.Path, numpy.ndarray, FrameDescription], None]

WRITERS: dict[str, Writer] = {
    ".fits": write_fits,
    ".fit": write_fits,
    ".fts": write_fits,
    ".png": write_png,
    ".npy": write_npy,
}


def writer_for(path: pathlib.Path) -> Writer:
    """The writer for this file's extension; ValueError for an unknown one."""
    try:
        return WRITERS[path.suffix.lower()]
    except KeyError:
        raise ValueError(f"{path}: unknown file type (use one of "
                         f"{', '.join(sorted(WRITERS))})") from None


def write_frame(path: pathlib.Path, frame: numpy.ndarray, description: FrameDescription) -> None:
    writer_for(path)(path, frame, description)
