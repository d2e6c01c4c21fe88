"""Files of python3 -m tav_oru read by tools written elsewhere: fitsverify,
astropy's CCDData, ccdproc's ImageFileCollection and siril-cli."""
import os
import subprocess

import numpy
import pytest
from astropy.io import fits
from astropy.nddata import CCDData

import tav_oru
from tav_oru import cli
from tav_oru.ser import read_ser

SMALL_ROI = ["--width", "320", "--height", "240"]


@pytest.fixture
def red_camera():
    """Raw frames whose red sites are bright, mirrored left to right so that
    the mosaic starts one column in; the settings are put back afterwards."""
    wanted = {"WB_R": 99, "WB_B": 1, "Flip": 1}
    with tav_oru.Camera(0) as camera:
        before = {name: camera.get_control(name).value for name in wanted}
        for name, value in wanted.items():
            camera.set_control(name, value)
    yield
    with tav_oru.Camera(0) as camera:
        for name, value in before.items():
            camera.set_control(name, value)


def capture(capsys, *argv):
    code = cli.main(["capture", *SMALL_ROI, *argv])
    capsys.readouterr()
    assert code == 0


def test_fits_keywords_that_indi_writes_and_calibration_tools_read(capsys, tmp_path):
    path = tmp_path / "dark.fits"
    capture(capsys, "--type", "raw16", "--exposure", "20000", "--frame", "dark", "--cooler", "-10",
            "--object", "M 42", "--telescope", "C8", "--filter", "L", "--focal-length", "2032",
            "--aperture", "203.2", "--observer", "Tester", "-o", str(path))
    header = fits.getheader(path)
    with tav_oru.Camera(0) as camera:
        info, offset = camera.get_info(), camera.get_control("Offset").value
    expected = {"ROWORDER": "TOP-DOWN", "IMAGETYP": "Dark Frame", "BUNIT": "adu",
                "OFFSET": offset, "BAYERPAT": "RGGB", "XBAYROFF": 0, "YBAYROFF": 0,
                "SET-TEMP": -10, "OBJECT": "M 42", "TELESCOP": "C8", "FILTER": "L",
                "FOCALLEN": 2032.0, "APTDIA": 203.2, "OBSERVER": "Tester"}
    assert {keyword: header.get(keyword) for keyword in expected} == expected
    # 16-bit samples carry the camera's 16-bit ADU as they are.
    assert header["EGAIN"] == pytest.approx(info.elec_per_adu, rel=1e-5)
    assert 0 <= header["COOLPOWR"] <= 100


def test_fits_frames_pass_fitsverify_ccddata_and_image_file_collection(capsys, tmp_path):
    capture(capsys, "--type", "raw8", "--exposure", "30000", "-o", str(tmp_path / "light.fits"))
    capture(capsys, "--type", "rgb24", "--frame", "flat", "-o", str(tmp_path / "flat.fits"))
    for name in ("light.fits", "flat.fits"):
        result = subprocess.run(["fitsverify", str(tmp_path / name)], capture_output=True,
                                text=True, timeout=60)
        assert "Verification found 0 warning(s) and 0 error(s)." in result.stdout, result.stdout
        assert CCDData.read(tmp_path / name).unit == "adu"
    header = fits.getheader(tmp_path / "light.fits")
    assert "SET-TEMP" not in header and "COOLPOWR" not in header

    import ccdproc

    collection = ccdproc.ImageFileCollection(tmp_path, keywords=["imagetyp", "egain", "exptime"])
    rows = {row["file"]: (row["imagetyp"], row["egain"], row["exptime"])
            for row in collection.summary}
    assert rows["light.fits"][0] == "Light Frame" and rows["light.fits"][2] == 0.03
    assert rows["flat.fits"][0] == "Flat Field"
    with tav_oru.Camera(0) as camera:
        elec_per_adu = camera.get_info().elec_per_adu
    # 8-bit frames keep the top byte of the camera's 16-bit samples.
    assert rows["light.fits"][1] == pytest.approx(256 * elec_per_adu, rel=1e-5)


def run_siril(directory, home, *commands):
    script = directory / "commands.ssf"
    script.write_text("requires 1.0.0\n" + "\n".join(commands) + "\n")
    env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
    env["HOME"] = str(home)
    result = subprocess.run(["siril-cli", "-d", str(directory), "-s", str(script)], env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0 and "Script execution finished successfully" in result.stdout, \
        result.stdout + result.stderr


def assert_red(red, green, blue):
    medians = [float(numpy.median(plane)) for plane in (red, green, blue)]
    assert medians[0] > 1.5 * max(medians[1:]), medians


def test_siril_debayers_raw_fits_and_ser_with_the_colours_in_place(capsys, tmp_path, red_camera):
    work = tmp_path / "work"
    work.mkdir()
    # The simulated sky shows from one second on; bright enough for 8-bit frames.
    exposure = ["--gain", "600", "--exposure", "1000000"]
    capture(capsys, *exposure, "--type", "raw16", "-o", str(work / "raw.fits"))
    assert fits.getheader(work / "raw.fits")["XBAYROFF"] == 1
    assert cli.main(["record", *SMALL_ROI, *exposure, "--type", "raw8", "--count", "3",
                     "-o", str(work / "video.ser")]) == 0
    capsys.readouterr()
    assert read_ser(work / "video.ser").header.color == "GRBG"

    run_siril(work, tmp_path, "convert colour -debayer", "preprocess video -debayer")

    converted = fits.getdata(work / "colour_00001.fit")
    assert converted.shape == (3, 240, 320)
    assert_red(*converted)
    debayered = read_ser(work / "pp_video.ser")
    assert (debayered.header.frame_count, debayered.header.color) == (3, "RGB")
    assert debayered.frames.shape == (3, 240, 320, 3)
    assert_red(*numpy.moveaxis(numpy.asarray(debayered.frames[0]), 2, 0))
