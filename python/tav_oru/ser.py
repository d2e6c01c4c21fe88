"""SER video files, the format planetary imaging tools record and stack.

A file is a 178-byte header, the frames one after the other (rows top
first, no padding), then a trailer of one UTC time stamp per frame. Numbers
are little-endian; times are 100 ns ticks since 0001-01-01.
"""
from __future__ import annotations

import dataclasses
import datetime
import pathlib
import struct
from typing import BinaryIO, Optional

import numpy

FILE_ID = b"LUCAM-RECORDER"
# FileID, LuID, ColorID, LittleEndian, ImageWidth, ImageHeight,
# PixelDepthPerPlane, FrameCount, Observer, Instrument, Telescope, DateTime,
# DateTime_UTC.
HEADER = struct.Struct("<14s7i40s40s40sqq")
FRAME_COUNT_OFFSET = 38
TIMESTAMP = struct.Struct("<q")

# ColorID by mosaic ("RGGB" and the like), "MONO" and the colour orders.
COLOR_IDS = {"MONO": 0, "RGGB": 8, "GRBG": 9, "GBRG": 10, "BGGR": 11, "RGB": 100, "BGR": 101}
COLOR_NAMES = {number: name for name, number in COLOR_IDS.items()}

_EPOCH = datetime.datetime(1, 1, 1)


def to_ticks(wall_clock: datetime.datetime) -> int:
    """100 ns ticks since 0001-01-01 of the datetime's own clock reading."""
    return (wall_clock.replace(tzinfo=None) - _EPOCH) // datetime.timedelta(microseconds=1) * 10


def from_ticks(ticks: int) -> datetime.datetime:
    """The naive clock reading of ticks."""
    return _EPOCH + datetime.timedelta(microseconds=ticks // 10)


def _utc(moment: datetime.datetime) -> datetime.datetime:
    return moment.astimezone(datetime.timezone.utc)


def _text(value: str) -> bytes:
    return value.encode("utf-8")[:40]


@dataclasses.dataclass
class SerHeader:
    color: str  # a key of COLOR_IDS
    width: int
    height: int
    bits: int  # 8 or 16 per sample
    frame_count: int
    little_endian: bool
    observer: str = ""
    instrument: str = ""
    telescope: str = ""
    started_local: Optional[datetime.datetime] = None  # naive, the recording host's clock
    started_utc: Optional[datetime.datetime] = None

    @property
    def planes(self) -> int:
        return 3 if self.color in ("RGB", "BGR") else 1

    @property
    def frame_bytes(self) -> int:
        return self.width * self.height * self.planes * self.bits // 8

    @property
    def frame_shape(self) -> tuple:
        shape = (self.height, self.width)
        return shape + (3,) if self.planes == 3 else shape

    @property
    def dtype(self) -> numpy.dtype:
        if self.bits == 8:
            return numpy.dtype(numpy.uint8)
        return numpy.dtype("<u2" if self.little_endian else ">u2")


class SerWriter:
    """Writes frames into a SER file as they come.

    The frame count is written when the file is closed; frames cut short by
    an error are left out, so a closed file is always whole.
    """

    def __init__(self, path: pathlib.Path, color: str, width: int, height: int, bits: int,
                 started: datetime.datetime, observer: str = "", instrument: str = "",
                 telescope: str = ""):
        if color not in COLOR_IDS:
            raise ValueError(f"unknown SER colour {color!r}")
        if bits not in (8, 16):
            raise ValueError(f"SER samples have 8 or 16 bits, not {bits}")
        self.header = SerHeader(color=color, width=width, height=height, bits=bits,
                                frame_count=0, little_endian=True, observer=observer,
                                instrument=instrument, telescope=telescope,
                                started_local=started.astimezone().replace(tzinfo=None),
                                started_utc=_utc(started))
        self.timestamps: list[datetime.datetime] = []
        self.file: BinaryIO = open(path, "wb")
        self.file.write(self._packed_header())

    def _packed_header(self) -> bytes:
        header = self.header
        return HEADER.pack(FILE_ID, 0, COLOR_IDS[header.color], int(header.little_endian),
                           header.width, header.height, header.bits, header.frame_count,
                           _text(header.observer), _text(header.instrument),
                           _text(header.telescope),
                           to_ticks(header.started_local), to_ticks(header.started_utc))

    def add(self, image: numpy.ndarray, timestamp: datetime.datetime) -> None:
        """Appends a frame shaped and typed as the header says, received at timestamp (UTC)."""
        if image.nbytes != self.header.frame_bytes:
            raise ValueError(f"a frame of {image.nbytes} bytes does not fit a SER file of "
                             f"{self.header.frame_bytes}-byte frames")
        data = numpy.ascontiguousarray(image, dtype=self.header.dtype)
        self.file.write(memoryview(data).cast("B"))
        self.header.frame_count += 1
        self.timestamps.append(_utc(timestamp))

    def close(self) -> None:
        if self.file.closed:
            return
        with self.file:
            # Whatever an interrupted write left after the last whole frame goes.
            self.file.seek(HEADER.size + self.header.frame_count * self.header.frame_bytes)
            self.file.truncate()
            for timestamp in self.timestamps:
                self.file.write(TIMESTAMP.pack(to_ticks(timestamp)))
            self.file.seek(0)
            self.file.write(self._packed_header())

    def __enter__(self) -> SerWriter:
        return self

    def __exit__(self, *exc) -> None:
        self.close()


@dataclasses.dataclass
class SerFile:
    header: SerHeader
    frames: numpy.ndarray  # (frame_count, height, width[, 3]), mapped from the file
    timestamps: list  # datetime (UTC) per frame; empty when the file has no trailer


def read_ser(path: pathlib.Path) -> SerFile:
    """Reads a SER file; ValueError when it is not one or is cut short."""
    path = pathlib.Path(path)
    with open(path, "rb") as file:
        raw = file.read(HEADER.size)
    if len(raw) < HEADER.size:
        raise ValueError(f"{path}: too short for a SER header")
    (file_id, _, color_id, little_endian, width, height, bits, count, observer, instrument,
     telescope, local_ticks, utc_ticks) = HEADER.unpack(raw)
    if file_id != FILE_ID:
        raise ValueError(f"{path}: not a SER file")
    if color_id not in COLOR_NAMES:
        raise ValueError(f"{path}: unknown colour ID {color_id}")
    header = SerHeader(color=COLOR_NAMES[color_id], width=width, height=height, bits=bits,
                       frame_count=count, little_endian=bool(little_endian),
                       observer=observer.rstrip(b"\0").decode("utf-8", "replace"),
                       instrument=instrument.rstrip(b"\0").decode("utf-8", "replace"),
                       telescope=telescope.rstrip(b"\0").decode("utf-8", "replace"),
                       started_local=from_ticks(local_ticks),
                       started_utc=from_ticks(utc_ticks).replace(tzinfo=datetime.timezone.utc))
    frames_end = HEADER.size + count * header.frame_bytes
    size = path.stat().st_size
    if size < frames_end:
        raise ValueError(f"{path}: {count} frames announced, the file holds fewer")
    frames = numpy.memmap(path, dtype=header.dtype, mode="r", offset=HEADER.size,
                          shape=(count,) + header.frame_shape) if count else \
        numpy.empty((0,) + header.frame_shape, header.dtype)
    timestamps = []
    if size >= frames_end + count * TIMESTAMP.size:
        with open(path, "rb") as file:
            file.seek(frames_end)
            trailer = file.read(count * TIMESTAMP.size)
        timestamps = [from_ticks(ticks).replace(tzinfo=datetime.timezone.utc)
                      for (ticks,) in TIMESTAMP.iter_unpack(trailer)]
    return SerFile(header=header, frames=frames, timestamps=timestamps)
