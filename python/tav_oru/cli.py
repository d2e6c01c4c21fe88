"""The commands of ``python3 -m tav_oru``: list, info and capture."""
from __future__ import annotations

import argparse
import datetime
import pathlib
import sys
import threading
import time
from typing import Optional, TextIO

from . import bindings
from .image_files import BAYER_KEYWORDS, FrameDescription, write_frame, writer_for

IMAGE_TYPES = list(bindings.ImageType.__members__)
RAW_TYPES = {"raw8", "raw16"}


class Countdown:
    """A progress bar on a stream while an exposure runs, for exposures over a second."""

    WIDTH = 30
    PERIOD_S = 0.1

    def __init__(self, seconds: float, label: str, stream: TextIO):
        self.seconds = seconds
        self.label = label
        self.stream = stream
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def __enter__(self):
        if self.seconds > 1:
            self.thread.start()
        return self

    def __exit__(self, *exc):
        if self.thread.is_alive():
            self.done.set()
            self.thread.join()
            self.stream.write("\n")
            self.stream.flush()

    def run(self):
        start = time.monotonic()
        while not self.done.wait(self.PERIOD_S):
            elapsed = time.monotonic() - start
            filled = min(self.WIDTH, int(self.WIDTH * elapsed / self.seconds))
            left = max(0.0, self.seconds - elapsed)
            self.stream.write(f"\r{self.label} [{'#' * filled}{'.' * (self.WIDTH - filled)}] "
                              f"{left:6.1f} s left")
            self.stream.flush()


def numbered_path(path: pathlib.Path, index: int, count: int) -> pathlib.Path:
    """path itself for a single frame, else path with the frame number before the extension."""
    if count == 1:
        return path
    return path.with_name(f"{path.stem}-{index + 1:04d}{path.suffix}")


def requested_roi(camera, info, args) -> bindings.ROI:
    """The ROI the options ask for; what they leave out is the full frame, centred."""
    current = camera.get_roi()
    roi = bindings.ROI()
    roi.bins = args.bin or current.bins
    roi.type = bindings.ImageType.__members__[args.type] if args.type else current.type
    full_width = info.max_width // roi.bins
    full_height = info.max_height // roi.bins
    roi.width = args.width or full_width // 8 * 8
    roi.height = args.height or full_height // 2 * 2
    roi.start_x = (full_width - roi.width) // 2 if args.start_x is None else args.start_x
    roi.start_y = (full_height - roi.height) // 2 if args.start_y is None else args.start_y
    return roi


def sensor_temperature(controls) -> Optional[float]:
    """Degrees Celsius, when the camera has a temperature sensor."""
    temperature = controls.get("Temperature")
    return None if temperature is None else temperature.value / 10


def describe_frame(info, roi, controls, started: datetime.datetime) -> FrameDescription:
    image_type = roi.type.name
    bayer = None
    mono_binned = "MonoBin" in controls and controls["MonoBin"].value == 1 and roi.bins > 1
    if info.is_color and image_type in RAW_TYPES and not mono_binned:
        bayer = BAYER_KEYWORDS.get(info.bayer.name)
    gain = controls.get("Gain")
    return FrameDescription(
        camera_name=info.name,
        image_type=image_type,
        exposure_us=controls["Exposure"].value,
        bins=roi.bins,
        date_obs=started,
        gain=None if gain is None else gain.value,
        pixel_size_um=info.pixel_size_um,
        bayer=bayer,
        temperature_c=sensor_temperature(controls),
    )


def command_list(args) -> int:
    count = bindings.get_nb_cameras()
    if count == 0:
        print("no camera found")
        return 0
    print("index  ID  name")
    for index in range(count):
        try:
            with bindings.Camera(index) as camera:
                info = camera.get_info()
            print(f"{index:5}  {info.camera_id:2}  {info.name}")
        except RuntimeError as error:
            print(f"{index:5}   -  ({error})")
    return 0


def command_info(args) -> int:
    with bindings.Camera(args.camera) as camera:
        print(camera)
    return 0


def command_capture(args) -> int:
    outputs = [pathlib.Path(path) for path in args.output]
    for path in outputs:
        writer_for(path)
    with bindings.Camera(args.camera) as camera:
        info = camera.get_info()
        camera.set_roi(requested_roi(camera, info, args))
        if args.exposure is not None:
            camera.set_control("Exposure", args.exposure)
        if args.gain is not None:
            camera.set_control("Gain", args.gain)
        roi = camera.get_roi()
        for index in range(args.count):
            exposure_s = camera.get_controls()["Exposure"].value / 1e6
            started = datetime.datetime.now(datetime.timezone.utc)
            with Countdown(exposure_s, f"frame {index + 1}/{args.count}", sys.stderr):
                frame = camera.capture()
            description = describe_frame(info, roi, camera.get_controls(), started)
            for path in outputs:
                target = numbered_path(path, index, args.count)
                target.parent.mkdir(parents=True, exist_ok=True)
                write_frame(target, frame, description)
                print(target)
    return 0


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"{value} is not a positive number")
    return value


def parser() -> argparse.ArgumentParser:
    main = argparse.ArgumentParser(prog="python3 -m tav_oru",
                                   description="ORU cameras: list them, show their controls, "
                                               "capture frames to FITS, PNG or .npy files.")
    commands = main.add_subparsers(dest="command", required=True, metavar="COMMAND")

    commands.add_parser("list", help="list the connected cameras (index, camera ID, name)")

    def with_camera(name: str, help_text: str) -> argparse.ArgumentParser:
        command = commands.add_parser(name, help=help_text)
        command.add_argument("-c", "--camera", type=int, default=0, metavar="INDEX",
                             help="index of the camera in the list (default 0)")
        return command

    with_camera("info", "print a camera's properties and its control table")

    capture = with_camera("capture", "capture frames to files")
    capture.add_argument("-e", "--exposure", type=int, metavar="US", help="exposure time in µs")
    capture.add_argument("-g", "--gain", type=int, help="gain")
    capture.add_argument("--width", type=positive,
                         help="ROI width in binned pixels (default: full width)")
    capture.add_argument("--height", type=positive,
                         help="ROI height in binned pixels (default: full height)")
    capture.add_argument("--start-x", type=int, metavar="X",
                         help="ROI left column (default: centred)")
    capture.add_argument("--start-y", type=int, metavar="Y", help="ROI top row (default: centred)")
    capture.add_argument("-b", "--bin", type=positive,
                         help="binning factor (default: the current one)")
    capture.add_argument("-t", "--type", choices=IMAGE_TYPES,
                         help="image type (default: the current one)")
    capture.add_argument("-n", "--count", type=positive, default=1,
                         help="number of frames (default: 1)")
    capture.add_argument("-o", "--output", action="append", required=True, metavar="PATH",
                         help="file to write, by extension .fits/.fit/.fts, .png or .npy; "
                              "repeat to write each frame to several files; with several "
                              "frames a number is added before the extension")
    return main


COMMANDS = {"list": command_list, "info": command_info, "capture": command_capture}


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    try:
        return COMMANDS[args.command](args)
    except (RuntimeError, ValueError, OSError) as error:
        print(f"tav_oru: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("tav_oru: interrupted", file=sys.stderr)
        return 130
