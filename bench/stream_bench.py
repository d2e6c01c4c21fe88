"""Video from Python against the C example stream_video, in one run on one
simulated camera: frames per second after the first second (the start of a
capture varies) and dropped frames of each, and the Python/C ratio.

    oru-sim --camera oru6200mc-pro -- python3 bench/stream_bench.py STREAM_VIDEO

The two take turns on the camera (the Python side closes it before the C
program opens it). Per case a short unmeasured stream warms the simulator up
(it renders a new frame size once), then C runs, Python reads through
Camera.stream into a pool of two arrays and into a new array per frame, and C
runs again; the C rate is the mean of its two runs.
"""
import dataclasses
import os
import re
import subprocess
import sys
import tempfile
import time

# Settings are saved when a camera closes: keep them out of the user's home.
os.environ["HOME"] = tempfile.mkdtemp(prefix="stream-bench-home-")

import tav_oru  # noqa: E402

EXPOSURE_US = 1000
# stream_video's line per second, and its last line.
C_SECOND = re.compile(r"Frame rate = ([\d.]+) Hz")
C_SUMMARY = re.compile(r"(\d+) frames in [\d.]+ s: .* (\d+) dropped")
SETTLING_S = 1.0
# A loaded machine can take seconds for the first frame of a new size.
TIMEOUT_MS = 30_000


@dataclasses.dataclass
class Case:
    name: str
    width: int  # 0: the full sensor
    height: int
    image_type: str
    high_speed: bool
    seconds: int  # per run: a few dozen frames at least


CASES = [
    Case("1920x1080 raw8 high-speed", 1920, 1080, "raw8", True, 5),
    Case("full frame raw8", 0, 0, "raw8", False, 15),
    Case("full frame raw16", 0, 0, "raw16", False, 15),
]


@dataclasses.dataclass
class Rate:
    fps: float  # after the first second
    dropped: int


def c_rate(stream_video, case):
    seconds = case.seconds
    result = subprocess.run(
        [stream_video, str(case.width), str(case.height), "1", case.image_type, str(seconds),
         str(EXPOSURE_US), "1" if case.high_speed else "0"],
        capture_output=True, text=True, timeout=seconds + 120, check=True)
    seconds_rates = [float(rate) for rate in C_SECOND.findall(result.stdout)][1:]
    summary = C_SUMMARY.search(result.stdout)
    if not seconds_rates or summary is None:
        raise RuntimeError(f"stream_video said:\n{result.stdout}{result.stderr}")
    return Rate(sum(seconds_rates) / len(seconds_rates), int(summary[2]))


def set_up(camera, case):
    info = camera.get_info()
    camera.set_roi(tav_oru.ROI(width=case.width or info.max_width,
                               height=case.height or info.max_height, bins=1,
                               type=tav_oru.ImageType.__members__[case.image_type]))
    camera.set_control("Exposure", EXPOSURE_US)
    camera.set_control("HighSpeedMode", int(case.high_speed))


def warm_up(case):
    """A few frames, for the simulator to render a frame of the case's size."""
    with tav_oru.Camera(0) as camera:
        set_up(camera, case)
        with camera.stream(buffers=1, timeout_ms=TIMEOUT_MS) as stream:
            for _ in range(3):
                next(stream)


def python_rate(case, buffers):
    """The frame rate after the first second of the capture: frame intervals
    between the first and the last frame that came after it."""
    with tav_oru.Camera(0) as camera:
        set_up(camera, case)
        arrivals = []
        with camera.stream(buffers=buffers, timeout_ms=TIMEOUT_MS) as stream:
            settled = time.monotonic() + SETTLING_S
            end = settled - SETTLING_S + case.seconds
            for frame in stream:
                arrivals.append(time.monotonic())
                dropped = frame.dropped_frames
                if arrivals[-1] >= end:
                    break
        counted = [arrival for arrival in arrivals if arrival > settled]
        return Rate((len(counted) - 1) / (counted[-1] - counted[0]), dropped)


def main():
    stream_video = sys.argv[1]
    load = os.getloadavg()
    print(f"Python stream vs {os.path.basename(stream_video)}, exposure {EXPOSURE_US} us; load "
          f"average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} on {os.cpu_count()} CPUs")
    print(f"{'case':28} {'C fps':>8} {'drop':>5} {'pool fps':>9} {'drop':>5} {'ratio':>6} "
          f"{'new fps':>8} {'drop':>5} {'ratio':>6}")
    for case in CASES:
        warm_up(case)
        first = c_rate(stream_video, case)
        pool = python_rate(case, buffers=2)
        new = python_rate(case, buffers=None)
        second = c_rate(stream_video, case)
        c = Rate((first.fps + second.fps) / 2, max(first.dropped, second.dropped))
        print(f"{case.name:28} {c.fps:8.2f} {c.dropped:5d} {pool.fps:9.2f} {pool.dropped:5d} "
              f"{pool.fps / c.fps:6.3f} {new.fps:8.2f} {new.dropped:5d} {new.fps / c.fps:6.3f}",
              flush=True)


if __name__ == "__main__":
    main()
