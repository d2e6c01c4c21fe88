"""python3 -m tav_oru against the simulated camera."""
import datetime
import signal
import subprocess
import sys
import time

import numpy
import pytest
from astropy.io import fits
from PIL import Image

from tav_oru import cli
from tav_oru.ser import read_ser

SMALL_ROI = ["--width", "320", "--height", "240"]


def run(capsys, *argv):
    code = cli.main(list(argv))
    out, err = capsys.readouterr()
    return code, out, err


def test_list_from_the_command_line():
    result = subprocess.run([sys.executable, "-m", "tav_oru", "list"], capture_output=True,
                            text=True, timeout=120, check=True)
    lines = result.stdout.splitlines()
    assert lines[0].split() == ["index", "ID", "name"]
    index, camera_id, name = lines[1].split(maxsplit=2)
    assert index == "0" and camera_id.isdigit() and name


def test_info_prints_properties_and_control_table(capsys, sdk_version):
    code, out, _ = run(capsys, "info")
    assert code == 0
    assert f"(oru sdk: {sdk_version})" in out
    assert "supported bins: 1 2 3 4" in out
    assert " controllable " in out and "\n Gain " in out


def test_capture_rgb24_to_every_format(capsys, tmp_path):
    code, out, _ = run(capsys, "capture", *SMALL_ROI, "--type", "rgb24", "--gain", "150",
                       "--exposure", "20000", "-o", str(tmp_path / "c.fits"),
                       "-o", str(tmp_path / "c.png"), "-o", str(tmp_path / "c.npy"))
    assert code == 0
    assert out.split() == [str(tmp_path / name) for name in ("c.fits", "c.png", "c.npy")]
    with fits.open(tmp_path / "c.fits") as hdus:
        header, data = hdus[0].header, hdus[0].data
    assert data.shape == (3, 240, 320) and data.dtype == numpy.uint8
    assert header["EXPTIME"] == 0.02 and header["GAIN"] == 150
    assert (header["XBINNING"], header["YBINNING"]) == (1, 1)
    assert header["INSTRUME"]
    assert datetime.datetime.fromisoformat(header["DATE-OBS"])
    assert "CCD-TEMP" in header and "BAYERPAT" not in header
    image = Image.open(tmp_path / "c.png")
    assert (image.mode, image.size) == ("RGB", (320, 240))
    assert numpy.load(tmp_path / "c.npy").shape == (240, 320, 3)


def test_capture_binned_raw16_frames_with_a_countdown(capsys, tmp_path):
    code, _, err = run(capsys, "capture", *SMALL_ROI, "--type", "raw16", "--bin", "2",
                       "--exposure", "1200000", "--count", "2", "-o", str(tmp_path / "r.fits"),
                       "-o", str(tmp_path / "r.png"))
    assert code == 0
    assert "frame 2/2 [" in err and "s left" in err
    for number in ("0001", "0002"):
        with fits.open(tmp_path / f"r-{number}.fits") as hdus:
            header, data = hdus[0].header, hdus[0].data
        assert data.shape == (240, 320) and data.dtype == numpy.uint16
        assert header["BAYERPAT"] == "RGGB" and header["XBINNING"] == 2
        image = Image.open(tmp_path / f"r-{number}.png")
        assert image.mode.startswith("I") and image.size == (320, 240)


def assert_whole(ser, path, frame_bytes):
    count = ser.header.frame_count
    assert len(ser.timestamps) == count
    assert ser.timestamps == sorted(ser.timestamps)
    assert path.stat().st_size == 178 + count * (frame_bytes + 8)


@pytest.mark.parametrize("image_type, colour, shape, sample_bytes", [
    ("raw16", "RGGB", (240, 320), 2),
    ("rgb24", "BGR", (240, 320, 3), 1),
])
def test_record_writes_a_ser_file_and_a_status_line(capsys, tmp_path, image_type, colour, shape,
                                                    sample_bytes):
    path = tmp_path / "video.ser"
    code, out, err = run(capsys, "record", *SMALL_ROI, "--start-x", "0", "--start-y", "0",
                         "--type", image_type, "--exposure", "2000", "--count", "25",
                         "--observer", "Tester", "-o", str(path))
    assert code == 0 and out.split() == [str(path)]
    assert "25 frames" in err and "fps" in err and "MiB/s" in err and "0 dropped" in err
    ser = read_ser(path)
    assert (ser.header.color, ser.header.frame_count, ser.frames.shape) == (colour, 25,
                                                                          (25, *shape))
    assert (ser.header.observer, ser.header.bits) == ("Tester", 8 * sample_bytes)
    assert ser.header.instrument.startswith("TAV ORU6200MC")
    assert_whole(ser, path, numpy.prod(shape) * sample_bytes)


def test_record_for_a_duration(capsys, tmp_path):
    path = tmp_path / "video.ser"
    started = time.monotonic()
    code, _, _ = run(capsys, "record", *SMALL_ROI, "--exposure", "2000", "--duration", "1.5",
                     "-o", str(path))
    assert code == 0 and 1.5 <= time.monotonic() - started < 20
    assert read_ser(path).header.frame_count > 5


def test_ctrl_c_ends_a_recording_with_a_whole_file(tmp_path):
    path = tmp_path / "video.ser"
    recording = subprocess.Popen(
        [sys.executable, "-m", "tav_oru", "record", *SMALL_ROI, "--type", "raw8",
         "--exposure", "2000", "--duration", "120", "-o", str(path)],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def frames_written():
        return (path.stat().st_size - 178) // (320 * 240) if path.exists() else 0

    try:
        deadline = time.monotonic() + 60
        while frames_written() < 10:
            assert time.monotonic() < deadline and recording.poll() is None
            time.sleep(0.05)
        recording.send_signal(signal.SIGINT)
        out, err = recording.communicate(timeout=60)
    finally:
        recording.kill()
    assert recording.returncode == 130, err
    assert out.split() == [str(path)]
    ser = read_ser(path)
    assert ser.header.frame_count >= 10
    assert f"holds {ser.header.frame_count} frames" in err
    assert_whole(ser, path, 320 * 240)


@pytest.mark.parametrize("argv, message", [
    (["capture", "-o", "frame.jpg"], "unknown file type"),
    (["record", "--count", "2", "-o", "video.avi"], "record writes SER files"),
    (["capture", *SMALL_ROI, "--bin", "5", "-o", "frame.npy"], "unsupported number of bin(s): 5"),
    (["info", "--camera", "3"], "ORU_ERROR_INVALID_INDEX"),
])
def test_errors_are_reported_with_exit_code_1(capsys, tmp_path, monkeypatch, argv, message):
    monkeypatch.chdir(tmp_path)
    code, _, err = run(capsys, *argv)
    assert code == 1 and message in err
    assert not list(tmp_path.iterdir())
