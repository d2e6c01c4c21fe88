"""Runs indiserver with the driver under test and talks to it through INDI's
own command-line clients (indi_setprop, indi_getprop), as a user would.

The tests run under oru-sim, so the driver that indiserver starts reaches
the simulated cameras. Each server gets its own port and local socket, so
tests may run side by side; a server and its drivers never outlive a test.
"""
import atexit
import ctypes
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

from astropy.io import fits

DRIVER = os.environ.get("INDI_DRIVER", "indi_oru_ccd")
STATE_FILE = os.environ.get("ORU_SIM_STATE")

_PR_SET_PDEATHSIG = 1

# The driver keeps INDI's configuration and the library its settings and log
# under HOME: each test has a fresh one.
_home = tempfile.mkdtemp(prefix="indi-test-home-")
atexit.register(shutil.rmtree, _home, ignore_errors=True)
os.environ["HOME"] = _home


def _die_with_parent():
    # indiserver ends when the test process ends, however that ends.
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _children(pid):
    found = []
    for stat in pathlib.Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(stat.parent.name))
    return found


def _alive(pid):
    try:
        state = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state != "Z"


def simulator_state():
    """The simulated cameras as oru-sim last wrote them (--state-file)."""
    return json.loads(pathlib.Path(STATE_FILE).read_text())["cameras"]


def wait_until(predicate, timeout, what, period=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(period)


class BlobWatch:
    """indi_getprop watching a BLOB: every image or video frame the server
    sends is written into a folder of its own; `received` counts them."""

    def __init__(self, server, key):
        self.folder = tempfile.mkdtemp(prefix="indi-blobs-")
        self.lines = []
        self._ready = threading.Event()
        self._process = subprocess.Popen(
            ["indi_getprop", "-p", str(server.port), "-m", "-v", "-t", "600", key],
            cwd=self.folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
            preexec_fn=_die_with_parent)
        threading.Thread(target=self._read, daemon=True).start()
        if not self._ready.wait(10):
            self.close()
            raise AssertionError(f"indi_getprop did not start watching {key}")

    def _read(self):
        for line in self._process.stderr:
            self.lines.append(line.rstrip("\n"))
            if line.startswith("sending enableBLOB"):
                self._ready.set()

    def received(self):
        return sum(1 for line in self.lines if line.startswith("Wrote "))

    def wait_for_blob(self, timeout, count=1):
        """The file of the `count`-th BLOB, once indi_getprop has written it whole."""
        wait_until(lambda: self.received() >= count, timeout, "an image at the client", period=0.02)
        name = [line for line in self.lines if line.startswith("Wrote ")][-1][len("Wrote "):]
        path = pathlib.Path(self.folder) / name
        # indi_getprop reports the file before all of it is on disk.
        sizes = []
        block = 2880 if path.suffix == ".fits" else 1

        def settled():
            sizes.append(path.stat().st_size)
            return len(sizes) > 2 and sizes[-1] == sizes[-2] and sizes[-1] % block == 0
        wait_until(settled, 30, f"{path} to be written", period=0.1)
        return path

    def close(self):
        if self._process.poll() is None:
            self._process.terminate()
            self._process.wait(5)
        shutil.rmtree(self.folder, ignore_errors=True)


class PropertyMonitor:
    """indi_getprop following a property: every value and state it reads,
    with the time it came (time.monotonic) in `times`."""

    def __init__(self, server, key):
        self.lines = []
        self.times = []
        # Line-buffered, so that each update arrives as it is printed.
        self._process = subprocess.Popen(
            ["stdbuf", "-oL", "indi_getprop", "-p", str(server.port), "-m", "-t", "600", key],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, preexec_fn=_die_with_parent)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self._process.stdout:
            self.times.append(time.monotonic())
            self.lines.append(line.rstrip("\n"))

    def values(self):
        return [line.partition("=")[2] for line in self.lines]

    def close(self):
        if self._process.poll() is None:
            self._process.terminate()
            self._process.wait(5)


class IndiServer:
    """indiserver with the driver, on a port and local socket of its own."""

    def __init__(self, *extra_arguments):
        self.port = _free_port()
        self.folder = tempfile.mkdtemp(prefix="indi-server-")
        self.log = open(os.path.join(self.folder, "indiserver.log"), "w+")
        self._process = subprocess.Popen(
            ["indiserver", "-p", str(self.port), "-u", os.path.join(self.folder, "socket"), "-r", "0",
             *extra_arguments, DRIVER],
            stdout=self.log, stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        self._watches = []
        try:
            wait_until(self._accepts, 10, "indiserver to listen")
        except AssertionError:
            self.close()
            raise

    def _accepts(self):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", self.port)) == 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        for watch in self._watches:
            watch.close()
        drivers = _children(self._process.pid)
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        # A driver reads end of input once the server is gone; one that
        # hangs is killed, and the test fails.
        deadline = time.monotonic() + 10
        while any(_alive(pid) for pid in drivers) and time.monotonic() < deadline:
            time.sleep(0.1)
        hung = [pid for pid in drivers if _alive(pid)]
        for pid in hung:
            os.kill(pid, signal.SIGKILL)
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        assert not hung, f"the driver did not end with the server: {hung}"

    def server_log(self):
        """The server's log without the noise of clients that hung up."""
        self.log.flush()
        lines = pathlib.Path(self.log.name).read_text().splitlines()
        return "\n".join(line for line in lines if "Connection reset by peer" not in line
                         and "Broken pipe" not in line)

    def get(self, key, timeout=2):
        """One value ("dev.prop.elem", or "dev.prop._STATE"); None when absent."""
        result = subprocess.run(["indi_getprop", "-p", str(self.port), "-t", str(timeout), "-1", key],
                                capture_output=True, text=True)
        return result.stdout.strip() if result.returncode == 0 else None

    def get_all(self, key="*.*.*", timeout=2):
        result = subprocess.run(["indi_getprop", "-p", str(self.port), "-t", str(timeout), key],
                                capture_output=True, text=True)
        values = {}
        for line in result.stdout.splitlines():
            name, _, value = line.partition("=")
            values[name] = value
        return values

    def set(self, key):
        subprocess.run(["indi_setprop", "-p", str(self.port), key], check=True, capture_output=True)

    def wait_for(self, key, expected, timeout):
        """Waits until `key` reads `expected` (text) or passes it (a test)."""
        test = expected if callable(expected) else (lambda value: value == expected)
        last = []

        def matches():
            value = self.get(key)
            last[:] = [value]
            return value is not None and test(value)

        try:
            wait_until(matches, timeout, key, period=0.05)
        except AssertionError:
            raise AssertionError(f"{key} read {last[0] if last else None}\n{self.server_log()[-3000:]}")
        return last[0]

    def watch_blob(self, key):
        watch = BlobWatch(self, key)
        self._watches.append(watch)
        return watch

    def monitor(self, key):
        monitor = PropertyMonitor(self, key)
        self._watches.append(monitor)
        return monitor

    def expose(self, device, seconds, timeout=30):
        """Takes an exposure and returns the FITS header and data that reached
        the client, after fitsverify has checked the file."""
        watch = self.watch_blob(f"{device}.CCD1.CCD1")
        self.set(f"{device}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE={seconds}")
        path = watch.wait_for_blob(timeout)
        check = subprocess.run(["fitsverify", "-q", str(path)], capture_output=True, text=True)
        assert check.returncode == 0 and "verification OK" in check.stdout, check.stdout + check.stderr
        with fits.open(path) as hdus:
            header, data = hdus[0].header, hdus[0].data.copy()
        watch.close()
        return header, data

    def use_small_frame(self, device):
        """640 x 480 RAW8 in the middle of the ORU6200 sensor."""
        self.set(f"{device}.CCD_CAPTURE_FORMAT.RAW8=On")
        self.set(f"{device}.CCD_FRAME.X=2800;Y=1848;WIDTH=640;HEIGHT=480")
        self.wait_for(f"{device}.CCD_FRAME.WIDTH", "640", 5)

    def use_fast_video(self, device):
        """Video at 1 ms exposures, every frame to the client."""
        self.set(f"{device}.LIMITS.LIMITS_PREVIEW_FPS=120")
        self.set(f"{device}.STREAMING_EXPOSURE.STREAMING_EXPOSURE_VALUE=0.001")

    def connect(self, device, timeout=30):
        self.set(f"{device}.CONNECTION.CONNECT=On")
        self.wait_for(f"{device}.CONNECTION._STATE", "Ok", timeout)
        self.wait_for(f"{device}.CCD_EXPOSURE._STATE", lambda state: state in ("Idle", "Ok"), timeout)
