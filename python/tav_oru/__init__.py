"""Control of ORU USB astronomy cameras.

The names are those of the compiled module ``tav_oru.bindings``::

    import tav_oru

    tav_oru.get_nb_cameras()
    with tav_oru.Camera(0) as camera:
        roi = camera.get_roi()
        frame = camera.capture()

Errors of the library are raised as ``RuntimeError``. ``python3 -m tav_oru``
lists cameras, prints their controls and captures frames to files.
"""
from .bindings import (
    BayerPattern,
    Camera,
    CameraException,
    CameraInfo,
    CameraMode,
    Controllable,
    ControllableException,
    GuideDirection,
    ImageType,
    ROI,
    close_camera,
    create_udev_file,
    get_nb_cameras,
    get_sdk_version,
)

__all__ = [
    "BayerPattern",
    "Camera",
    "CameraException",
    "CameraInfo",
    "CameraMode",
    "Controllable",
    "ControllableException",
    "GuideDirection",
    "ImageType",
    "ROI",
    "close_camera",
    "create_udev_file",
    "get_nb_cameras",
    "get_sdk_version",
]
