"""The commands of ``python3 -m tav_oru``: list, info, capture and record."""
from __future__ import annotations

import argparse
import contextlib
import datetime
import pathlib
import signal
import sys
import threading
import time
from typing import Optional, TextIO

from . import bindings
from .image_files import (BAYER_KEYWORDS, FRAME_TYPES, FrameDescription, shifted_pattern,
                          write_frame, writer_for)
from .ser import SerWriter

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


def frame_mosaic(info, roi, controls) -> Optional[str]:
    """The camera's mosaic ("RGGB" and the like) when the frames are raw colour frames."""
    mono_binned = "MonoBin" in controls and controls["MonoBin"].value == 1 and roi.bins > 1
    if info.is_color and roi.type.name in RAW_TYPES and not mono_binned:
        return BAYER_KEYWORDS.get(info.bayer.name)
    return None


def mosaic_offset(roi, controls) -> tuple[int, int]:
    """Where the mosaic starts in a raw frame: the window's sensor position and
    the flips move it by a column or a row (frames have even sizes)."""
    flip = controls["Flip"].value if "Flip" in controls else 0
    flipped_horizontally = flip in (1, 3)
    flipped_vertically = flip in (2, 3)
    return ((roi.start_x * roi.bins + flipped_horizontally) % 2,
            (roi.start_y * roi.bins + flipped_vertically) % 2)


def electrons_per_adu(info, roi) -> Optional[float]:
    """e-/ADU of the frame's samples: the camera counts in ADC units, which
    16-bit frames carry in their high bits and 8-bit frames keep the top 8 of."""
    if info.elec_per_adu <= 0 or info.bit_depth <= 0:
        return None
    sample_bits = 16 if roi.type.name == "raw16" else 8
    return round(info.elec_per_adu * 2.0 ** (info.bit_depth - sample_bits), 6)


def control_value(controls, name) -> Optional[int]:
    control = controls.get(name)
    return None if control is None else control.value


def describe_frame(info, roi, controls, started: datetime.datetime,
                   args=None) -> FrameDescription:
    bayer = frame_mosaic(info, roi, controls)
    cooling = control_value(controls, "CoolerOn") == 1
    return FrameDescription(
        camera_name=info.name,
        image_type=roi.type.name,
        exposure_us=controls["Exposure"].value,
        bins=roi.bins,
        date_obs=started,
        gain=control_value(controls, "Gain"),
        pixel_size_um=info.pixel_size_um,
        bayer=bayer,
        bayer_offset=mosaic_offset(roi, controls) if bayer else (0, 0),
        temperature_c=sensor_temperature(controls),
        frame_type=getattr(args, "frame", None) or "light",
        egain=electrons_per_adu(info, roi),
        offset=control_value(controls, "Offset"),
        set_temperature_c=control_value(controls, "TargetTemp") if cooling else None,
        cooler_power_percent=control_value(controls, "CoolPowerPerc") if cooling else None,
        object_name=getattr(args, "object", None),
        telescope=getattr(args, "telescope", None),
        filter_name=getattr(args, "filter", None),
        focal_length_mm=getattr(args, "focal_length", None),
        aperture_mm=getattr(args, "aperture", None),
        observer=getattr(args, "observer", None),
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


def set_up(camera, args) -> None:
    """The ROI, exposure, gain and cooling the options ask for."""
    camera.set_roi(requested_roi(camera, camera.get_info(), args))
    if args.exposure is not None:
        camera.set_control("Exposure", args.exposure)
    if args.gain is not None:
        camera.set_control("Gain", args.gain)
    if args.cooler is not None:
        camera.set_control("TargetTemp", args.cooler)
        camera.set_control("CoolerOn", 1)


def command_capture(args) -> int:
    outputs = [pathlib.Path(path) for path in args.output]
    for path in outputs:
        writer_for(path)
    with bindings.Camera(args.camera) as camera:
        set_up(camera, args)
        roi = camera.get_roi()
        for index in range(args.count):
            exposure_s = camera.get_control("Exposure").value / 1e6
            started = datetime.datetime.now(datetime.timezone.utc)
            with Countdown(exposure_s, f"frame {index + 1}/{args.count}", sys.stderr):
                frame = camera.capture()
            description = describe_frame(camera.get_info(), roi, camera.get_controls(), started,
                                         args)
            for path in outputs:
                target = numbered_path(path, index, args.count)
                target.parent.mkdir(parents=True, exist_ok=True)
                write_frame(target, frame, description)
                print(target)
    return 0


class StatusLine:
    """Frames per second, MiB/s and dropped frames, rewritten in place on a stream."""

    PERIOD_S = 0.5

    def __init__(self, frame_bytes: int, stream: TextIO):
        self.frame_bytes = frame_bytes
        self.stream = stream
        self.started = self.last_shown = time.monotonic()
        self.frames = self.frames_at_last = 0
        self.dropped = 0
        self.shown = False

    def count(self, dropped: int) -> None:
        self.frames += 1
        self.dropped = dropped
        now = time.monotonic()
        if now - self.last_shown >= self.PERIOD_S:
            self.show(self.frames - self.frames_at_last, now - self.last_shown)
            self.last_shown, self.frames_at_last = now, self.frames

    def show(self, frames: int, seconds: float) -> None:
        rate = frames / seconds if seconds > 0 else 0.0
        self.stream.write(f"\r{self.frames} frames  {rate:6.1f} fps  "
                          f"{rate * self.frame_bytes / 1048576:7.1f} MiB/s  "
                          f"{self.dropped} dropped")
        self.stream.flush()
        self.shown = True

    def finish(self) -> None:
        """The whole recording's figures on the line, and the line ended."""
        self.show(self.frames, time.monotonic() - self.started)
        self.stream.write("\n")
        self.stream.flush()


@contextlib.contextmanager
def stop_requests():
    """Ctrl-C asks for a stop instead of raising, once: the second one raises.

    Yields a function telling whether a stop was asked for."""
    requested = threading.Event()

    def request(signum, frame):
        requested.set()
        signal.signal(signal.SIGINT, previous)

    previous = signal.signal(signal.SIGINT, request)
    try:
        yield requested.is_set
    finally:
        signal.signal(signal.SIGINT, previous)


def ser_colour(info, roi, controls) -> str:
    if roi.type.name == "rgb24":
        return "BGR"
    mosaic = frame_mosaic(info, roi, controls)
    return shifted_pattern(mosaic, *mosaic_offset(roi, controls)) if mosaic else "MONO"


def command_record(args) -> int:
    path = pathlib.Path(args.output)
    if path.suffix.lower() != ".ser":
        raise ValueError(f"{path}: record writes SER files (.ser)")
    with bindings.Camera(args.camera) as camera:
        set_up(camera, args)
        info, roi, controls = camera.get_info(), camera.get_roi(), camera.get_controls()
        path.parent.mkdir(parents=True, exist_ok=True)
        started = datetime.datetime.now(datetime.timezone.utc)
        writer = SerWriter(path, ser_colour(info, roi, controls), roi.width, roi.height,
                           16 if roi.type.name == "raw16" else 8, started,
                           observer=args.observer or "", instrument=info.name,
                           telescope=args.telescope or "")
        status = StatusLine(writer.header.frame_bytes, sys.stderr)
        deadline = None if args.duration is None else time.monotonic() + args.duration
        # Each frame is in the file before the next is read: one buffer does.
        with writer, stop_requests() as stop_requested, camera.stream(buffers=1) as frames:
            for frame in frames:
                writer.add(frame.image, frame.timestamp)
                status.count(frame.dropped_frames)
                if stop_requested() or status.frames == args.count or \
                        (deadline is not None and time.monotonic() >= deadline):
                    break
        status.finish()
        print(path)
        if stop_requested():
            print(f"tav_oru: interrupted; {path} holds {status.frames} frames",
                  file=sys.stderr)
            return 130
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

    def with_settings(name: str, help_text: str) -> argparse.ArgumentParser:
        command = with_camera(name, help_text)
        command.add_argument("-e", "--exposure", type=int, metavar="US",
                             help="exposure time in µs")
        command.add_argument("-g", "--gain", type=int, help="gain")
        command.add_argument("--width", type=positive,
                             help="ROI width in binned pixels (default: full width)")
        command.add_argument("--height", type=positive,
                             help="ROI height in binned pixels (default: full height)")
        command.add_argument("--start-x", type=int, metavar="X",
                             help="ROI left column (default: centred)")
        command.add_argument("--start-y", type=int, metavar="Y",
                             help="ROI top row (default: centred)")
        command.add_argument("-b", "--bin", type=positive,
                             help="binning factor (default: the current one)")
        command.add_argument("-t", "--type", choices=IMAGE_TYPES,
                             help="image type (default: the current one)")
        command.add_argument("--cooler", type=int, metavar="C",
                             help="switch the cooler on with this set point in °C (it stays "
                                  "on until the camera is closed)")
        command.add_argument("--observer", help="observer's name, written into the file")
        command.add_argument("--telescope", help="telescope, written into the file")
        return command

    capture = with_settings("capture", "capture frames to files")
    capture.add_argument("-n", "--count", type=positive, default=1,
                         help="number of frames (default: 1)")
    capture.add_argument("-o", "--output", action="append", required=True, metavar="PATH",
                         help="file to write, by extension .fits/.fit/.fts, .png or .npy; "
                              "repeat to write each frame to several files; with several "
                              "frames a number is added before the extension")
    capture.add_argument("--frame", choices=sorted(FRAME_TYPES), default="light",
                         help="kind of frame, FITS IMAGETYP (default: light)")
    capture.add_argument("--object", help="observed object, FITS OBJECT")
    capture.add_argument("--filter", help="filter, FITS FILTER")
    capture.add_argument("--focal-length", type=float, metavar="MM",
                         help="focal length in mm, FITS FOCALLEN")
    capture.add_argument("--aperture", type=float, metavar="MM",
                         help="aperture diameter in mm, FITS APTDIA")

    record = with_settings("record", "record video to a SER file")
    record.add_argument("-o", "--output", required=True, metavar="NAME.ser",
                        help="SER file to write")
    length = record.add_mutually_exclusive_group(required=True)
    length.add_argument("-n", "--count", type=positive, help="number of frames")
    length.add_argument("-d", "--duration", type=float, metavar="S", help="seconds to record")
    return main


COMMANDS = {"list": command_list, "info": command_info, "capture": command_capture,
            "record": command_record}


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
