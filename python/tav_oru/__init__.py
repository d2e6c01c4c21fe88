"""Control of ORU USB astronomy cameras.

The names are those of the compiled module ``tav_oru.bindings``::

    import tav_oru

    tav_oru.get_nb_cameras()
    with tav_oru.Camera(0) as camera:
        roi = camera.get_roi()
        frame = camera.capture()
        with camera.stream() as frames:
            for frame in frames:
                ...  # frame.image, frame.number, frame.timestamp, frame.dropped_frames

Errors of the library are raised as ``CameraError`` (a ``RuntimeError``) or
one of its subclasses: ``CameraException`` for a failed camera call (its
``code`` and ``code_name`` say why), ``ControllableException`` for a control
that cannot be set (``UnknownControlError``, also a ``KeyError``, for a name
the camera does not have), ``ROIException`` and ``CameraValueError`` (both
also ``ValueError``) for regions and values the camera cannot take.
``python3 -m tav_oru`` lists cameras, prints their controls, captures frames
to files and records video to SER files.
"""
from .bindings import (
    BayerPattern,
    Camera,
    CameraError,
    CameraException,
    CameraInfo,
    CameraMode,
    CameraValueError,
    Controllable,
    ControllableException,
    Frame,
    GainOffsetPresets,
    GuideDirection,
    ImageType,
    ROI,
    ROIException,
    TriggerOutput,
    TriggerOutputConfig,
    UnknownControlError,
    VideoStream,
    close_camera,
    create_udev_file,
    get_nb_cameras,
    get_sdk_version,
)

__all__ = [
    "BayerPattern",
    "Camera",
    "CameraError",
    "CameraException",
    "CameraInfo",
    "CameraMode",
    "CameraValueError",
    "Controllable",
    "ControllableException",
    "Frame",
    "GainOffsetPresets",
    "GuideDirection",
    "ImageType",
    "ROI",
    "ROIException",
    "TriggerOutput",
    "TriggerOutputConfig",
    "UnknownControlError",
    "VideoStream",
    "close_camera",
    "create_udev_file",
    "get_nb_cameras",
    "get_sdk_version",
]
