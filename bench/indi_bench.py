"""Timings of the INDI driver as a client sees them, under oru-sim with an
ORU6200MC Pro:

- connect: CONNECT=On sent until CONNECTION is Ok;
- a 1 s full-frame (6248 x 4176, RAW16) exposure: CCD_EXPOSURE sent until the
  FITS file is whole at the client; peer: INDI's own CCD simulator making a
  frame of the same size, i.e. what INDI's FITS and BLOB path costs anyway;
- video, 640 x 480 RAW8 at 1 ms: frames per second received by the client,
  as the driver's stream manager counts them, and stream_video on the flat API
  in the same run.

usage: oru-sim --camera oru6200mc-pro -- python3 bench/indi_bench.py BUILD_DIR
"""
import os
import pathlib
import re
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(sys.argv[1]).resolve()
os.environ["INDI_DRIVER"] = str(BUILD / "indi" / "indi_oru_ccd")
sys.path.insert(0, str(ROOT / "indi" / "tests"))

import indi_harness  # noqa: E402
from indi_harness import IndiServer, wait_until  # noqa: E402

DEVICE = "TAV ORU6200MC Pro"
STREAM_SECONDS = 5


def timed_exposures(server, device, count=3):
    times = []
    for _ in range(count):
        watch = server.watch_blob(f"{device}.CCD1.CCD1")
        start = time.monotonic()
        server.set(f"{device}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1")
        watch.wait_for_blob(120)
        times.append(time.monotonic() - start)
        watch.close()
    return times


def driver_timings():
    with IndiServer("-d", "0") as server:
        connection = server.monitor(f"{DEVICE}.CONNECTION._STATE")
        wait_until(lambda: connection.values(), 10, "the connection state")
        start = time.monotonic()
        server.set(f"{DEVICE}.CONNECTION.CONNECT=On")
        wait_until(lambda: "Ok" in connection.values(), 30, "the connection")
        connect = connection.times[connection.values().index("Ok")] - start
        server.wait_for(f"{DEVICE}.CCD_EXPOSURE._STATE", lambda state: state in ("Idle", "Ok"), 10)
        exposures = timed_exposures(server, DEVICE)

        server.use_small_frame(DEVICE)
        server.use_fast_video(DEVICE)
        watch = server.watch_blob(f"{DEVICE}.CCD1.CCD1")
        server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_ON=On")
        watch.wait_for_blob(10, count=5)
        first, start = watch.received(), time.monotonic()
        time.sleep(STREAM_SECONDS)
        received = (watch.received() - first) / (time.monotonic() - start)
        driver_fps = float(server.get(f"{DEVICE}.FPS.AVG_FPS"))
        server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_OFF=On")
        server.set(f"{DEVICE}.CONNECTION.DISCONNECT=On")
        server.wait_for(f"{DEVICE}.CONNECTION.CONNECT", "Off", 10)
    return connect, exposures, received, driver_fps


def simulator_ccd_exposures():
    indi_harness.DRIVER = "indi_simulator_ccd"
    device = "CCD Simulator"
    with IndiServer() as server:
        server.set(f"{device}.SIMULATOR_SETTINGS.SIM_XRES=6248;SIM_YRES=4176")
        server.connect(device)
        return timed_exposures(server, device)


def stream_video_fps():
    result = subprocess.run([str(BUILD / "examples" / "stream_video"), "640", "480", "1", "raw8",
                             str(STREAM_SECONDS), "1000"], capture_output=True, text=True, timeout=120)
    match = re.search(r"frames in [0-9.]+ s: ([0-9.]+) Hz", result.stdout)
    return float(match.group(1)) if match else float("nan")


def main():
    connect, exposures, received, driver_fps = driver_timings()
    library_fps = stream_video_fps()
    peer = simulator_ccd_exposures()
    print(f"INDI connect                          {connect:6.2f} s")
    print(f"1 s 6248x4176 RAW16 exposure to FITS  {statistics.median(exposures):6.2f} s "
          f"(median of {', '.join(f'{t:.2f}' for t in exposures)})")
    print(f"  INDI CCD simulator, same frame size {statistics.median(peer):6.2f} s "
          f"(median of {', '.join(f'{t:.2f}' for t in peer)})")
    print(f"video 640x480 RAW8, 1 ms: at the INDI client {received:5.1f} fps, "
          f"driver's stream manager {driver_fps:5.1f} fps, stream_video {library_fps:5.1f} fps")


if __name__ == "__main__":
    main()
