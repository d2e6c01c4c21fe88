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
    temperature_c: Optional[float] = None


def to_rgb(frame: numpy.ndarray) -> numpy.ndarray:
    """The frame with colour pixels in red, green, blue order; grey frames unchanged."""
    if frame.ndim == 3:
        return numpy.ascontiguousarray(frame[..., ::-1])
    return frame


def fits_header_values(description: FrameDescription) -> dict:
    """FITS keyword -> (value, comment), for the keywords that are known."""
    values = {
        "EXPTIME": (description.exposure_us / 1e6, "exposure time [s]"),
        "XBINNING": (description.bins, "binning factor along rows"),
        "YBINNING": (description.bins, "binning factor along columns"),
        "INSTRUME": (description.camera_name, "camera model"),
        "DATE-OBS": (description.date_obs.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3],
                     "start of the exposure (UTC)"),
    }
    if description.gain is not None:
        values["GAIN"] = (description.gain, "camera gain setting")
    if description.pixel_size_um is not None:
        binned = description.pixel_size_um * description.bins
        values["XPIXSZ"] = (binned, "binned pixel width [um]")
        values["YPIXSZ"] = (binned, "binned pixel height [um]")
    if description.bayer is not None:
        values["BAYERPAT"] = (description.bayer, "colour mosaic of the frame")
    if description.temperature_c is not None:
        values["CCD-TEMP"] = (description.temperature_c, "sensor temperature [C]")
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
