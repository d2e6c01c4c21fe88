"""Test set-up: the package from the build tree, a private HOME, and one
simulated camera.

The tests import `tav_oru` from <build>/python (ORU_BUILD_DIR, default
./build), where the build puts the compiled module next to links to the
package's files. Camera tests need a simulated camera that libusb in this
process can reach, so pytest runs under `oru-sim --camera 0x1001`: started
any other way, it starts itself again under the launcher of the build tree.
"""
import atexit
import os
import pathlib
import re
import shutil
import sys
import tempfile
import threading
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("ORU_BUILD_DIR", ROOT / "build")).resolve()
ORU_SIM = BUILD_DIR / "sim" / "oru-sim"
SIMULATED_CAMERA = "0x1001"
# Set by umockdev in the processes that the launcher starts.
SIMULATOR_VARIABLE = "UMOCKDEV_DIR"

# For this process and the programs the tests start.
sys.path.insert(0, str(BUILD_DIR / "python"))
os.environ["PYTHONPATH"] = os.pathsep.join(
    filter(None, [str(BUILD_DIR / "python"), os.environ.get("PYTHONPATH")]))

if SIMULATOR_VARIABLE in os.environ:
    # The library keeps settings and its log under HOME; tests must neither
    # read the user's nor leave theirs behind.
    _home = tempfile.mkdtemp(prefix="tav_oru-test-home-")
    atexit.register(shutil.rmtree, _home, ignore_errors=True)
    os.environ["HOME"] = _home


def pytest_cmdline_main(config):
    if SIMULATOR_VARIABLE in os.environ:
        return None
    if not ORU_SIM.exists():
        raise pytest.UsageError(f"{ORU_SIM} is missing: build the tree first (make build)")
    command = [str(ORU_SIM), "--camera", SIMULATED_CAMERA, "--", *sys.orig_argv]
    os.execv(command[0], command)
    return None


def environment_without_simulator():
    """This process's environment minus what ties a child to the simulated bus.

    Other preloaded libraries stay (a sanitizer's runtime must).
    """
    env = dict(os.environ)
    env.pop(SIMULATOR_VARIABLE, None)
    kept = [library for library in env.pop("LD_PRELOAD", "").replace(" ", ":").split(":")
            if library and "libumockdev-preload" not in library]
    if kept:
        env["LD_PRELOAD"] = ":".join(kept)
    return env


@pytest.fixture(scope="session")
def build_dir():
    return BUILD_DIR


def defined_string(path, macro):
    """The string literal a #define in the file at path gives macro."""
    match = re.search(rf'^#define {macro} "([^"]*)"', path.read_text(), re.MULTILINE)
    assert match, f"{path} defines no {macro}"
    return match.group(1)


@pytest.fixture(scope="session")
def sdk_version():
    """The version the build made from the project's version."""
    return defined_string(BUILD_DIR / "generated" / "OruVersion.h", "ORU_PROJECT_VERSION")


@pytest.fixture(scope="session")
def oru_sim():
    return ORU_SIM


@pytest.fixture(scope="module")
def camera():
    """The simulated camera, opened once per test module with a small raw8 ROI."""
    import tav_oru

    with tav_oru.Camera(0) as opened:
        opened.set_roi(make_roi(tav_oru.ImageType.raw8))
        yield opened


def make_roi(image_type, width=640, height=480, bins=1, start_x=0, start_y=0):
    import tav_oru

    roi = tav_oru.ROI()
    roi.width, roi.height, roi.bins, roi.type = width, height, bins, image_type
    roi.start_x, roi.start_y = start_x, start_y
    return roi


class Ticker:
    """Another Python thread noting the time every 10 ms while the block runs."""

    def __enter__(self):
        self.ticks = []
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()
        self.started = time.monotonic()
        return self

    def run(self):
        while not self.stop.is_set():
            self.ticks.append(time.monotonic())
            time.sleep(0.01)

    def __exit__(self, *exc):
        self.ended = time.monotonic()
        self.stop.set()
        self.thread.join()

    def ran_inside(self, margin_s):
        """Whether the thread ran in the block, farther than margin_s from its ends."""
        return any(self.started + margin_s < tick < self.ended - margin_s for tick in self.ticks)
