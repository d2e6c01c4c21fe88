"""SER files written from made-up frames and read back; no camera."""
import datetime
import struct

import numpy
import pytest

from tav_oru.image_files import shifted_pattern
from tav_oru.ser import HEADER, SerWriter, read_ser

STARTED = datetime.datetime(2026, 3, 4, 5, 6, 7, 890123, tzinfo=datetime.timezone.utc)
# Ticks of STARTED: 100 ns units since 0001-01-01.
STARTED_TICKS = (STARTED.replace(tzinfo=None) - datetime.datetime(1, 1, 1)) \
    // datetime.timedelta(microseconds=1) * 10


def frames_of(dtype, shape, count):
    rng = numpy.random.default_rng(7)
    return [rng.integers(0, numpy.iinfo(dtype).max, size=shape, dtype=dtype)
            for _ in range(count)]


@pytest.mark.parametrize("color, dtype, shape, color_id, bits", [
    ("MONO", numpy.uint8, (6, 8), 0, 8),
    ("RGGB", numpy.uint16, (6, 8), 8, 16),
    ("BGR", numpy.uint8, (6, 8, 3), 101, 8),
])
def test_frames_and_time_stamps_come_back(tmp_path, color, dtype, shape, color_id, bits):
    path = tmp_path / "video.ser"
    frames = frames_of(dtype, shape, 3)
    stamps = [STARTED + datetime.timedelta(milliseconds=40 * i) for i in range(3)]
    with SerWriter(path, color, shape[1], shape[0], bits, STARTED, observer="me",
                   instrument="cam", telescope="scope") as writer:
        for frame, stamp in zip(frames, stamps):
            writer.add(frame, stamp)

    raw = path.read_bytes()
    assert len(raw) == 178 + 3 * frames[0].nbytes + 3 * 8
    assert raw[:14] == b"LUCAM-RECORDER"
    # ColorID, LittleEndian, width, height, depth, frame count.
    assert struct.unpack_from("<6i", raw, 18) == (color_id, 1, shape[1], shape[0], bits, 3)
    assert struct.unpack_from("<q", raw, 170)[0] == STARTED_TICKS
    assert struct.unpack_from("<q", raw, 178 + 3 * frames[0].nbytes)[0] == STARTED_TICKS
    if bits == 16:
        # Little-endian samples.
        assert raw[178:180] == struct.pack("<H", int(frames[0].flat[0]))

    ser = read_ser(path)
    assert (ser.header.color, ser.header.frame_count) == (color, 3)
    assert (ser.header.observer, ser.header.instrument, ser.header.telescope) \
        == ("me", "cam", "scope")
    assert ser.header.started_utc == STARTED
    numpy.testing.assert_array_equal(ser.frames, numpy.stack(frames))
    assert ser.timestamps == stamps


def test_a_frame_cut_short_is_left_out_when_the_file_is_closed(tmp_path):
    path = tmp_path / "cut.ser"
    frames = frames_of(numpy.uint8, (4, 8), 2)
    writer = SerWriter(path, "MONO", 8, 4, 8, STARTED)
    writer.add(frames[0], STARTED)
    # What an interrupted write leaves behind.
    writer.file.write(frames[1].tobytes()[:13])
    writer.close()
    ser = read_ser(path)
    assert ser.header.frame_count == 1 and len(ser.timestamps) == 1
    numpy.testing.assert_array_equal(ser.frames[0], frames[0])
    assert path.stat().st_size == HEADER.size + frames[0].nbytes + 8


def test_frames_of_another_size_are_refused(tmp_path):
    with SerWriter(tmp_path / "v.ser", "MONO", 8, 4, 8, STARTED) as writer:
        with pytest.raises(ValueError, match="does not fit"):
            writer.add(numpy.zeros((4, 9), numpy.uint8), STARTED)


@pytest.mark.parametrize("content, message", [
    (b"", "too short"),
    (b"NOT-A-SER-FILE" + bytes(HEADER.size - 14), "not a SER file"),
], ids=["empty", "wrong-id"])
def test_other_files_are_refused(tmp_path, content, message):
    path = tmp_path / "other.ser"
    path.write_bytes(content)
    with pytest.raises(ValueError, match=message):
        read_ser(path)


@pytest.mark.parametrize("x, y, shifted", [
    (0, 0, "RGGB"), (1, 0, "GRBG"), (0, 1, "GBRG"), (1, 1, "BGGR"), (2, 3, "GBRG"),
])
def test_a_mosaic_seen_from_an_offset(x, y, shifted):
    assert shifted_pattern("RGGB", x, y) == shifted
