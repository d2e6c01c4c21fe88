"""The module's names, values and error texts; no camera is opened here."""
import ast
import pathlib
import subprocess
import sys

import pytest

import tav_oru
from conftest import environment_without_simulator

ENUMERATIONS = {
    "BayerPattern": {"None": 0, "RG": 1, "BG": 2, "GR": 3, "GB": 4},
    "ImageType": {"raw8": 0, "rgb24": 1, "raw16": 2, "y8": 3},
    "GuideDirection": {"NORTH": 0, "SOUTH": 1, "EAST": 2, "WEST": 3},
    "CameraMode": {"normal": 0, "soft_edge": 1, "rise_edge": 2, "fall_edge": 3,
                   "soft_level": 4, "high_level": 5, "low_level": 6},
}


def test_module_docstring_and_version(sdk_version):
    assert tav_oru.bindings.__doc__ == "tav_oru bindings"
    assert tav_oru.get_sdk_version() == sdk_version


@pytest.mark.parametrize("name", sorted(ENUMERATIONS))
def test_enumeration_members_and_values(name):
    enumeration = getattr(tav_oru, name)
    assert {member: int(value) for member, value in enumeration.__members__.items()} \
        == ENUMERATIONS[name]


def test_package_exports_the_module_names():
    public = {name for name in dir(tav_oru.bindings) if not name.startswith("_")}
    assert public == set(tav_oru.__all__)


def test_camera_without_a_camera_attached(oru_sim):
    # An empty simulated bus, so that a camera on this machine cannot interfere.
    probe = ("import tav_oru\n"
             "try:\n"
             "    tav_oru.Camera(0)\n"
             "except RuntimeError as error:\n"
             "    print(error)\n")
    result = subprocess.run([str(oru_sim), "--", sys.executable, "-c", probe],
                            env=environment_without_simulator(), capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == ("ORU Camera: (camera index: 0) failed to read camera infos "
                                     "(error code: 1: ORU_ERROR_INVALID_INDEX)")


@pytest.mark.parametrize("arguments, text", [
    (("failed to set the ROI", 2, 8, False),
     "ORU Camera: (camera index: 2) failed to set the ROI (error code: 8: ORU_ERROR_INVALID_SIZE)"),
    (("failed to open the camera", 0, 99, False),
     "ORU Camera: (camera index: 0) failed to open the camera (error code: 99: )"),
])
def test_camera_exception_from_python(arguments, text):
    assert str(tav_oru.CameraException(*arguments)) == text


@pytest.mark.parametrize("arguments, text", [
    (("Gain", 700, 0, 600), "out of bound value for Gain: 700is not in the range 0; 600"),
    (("Gain", 1, 0, 1), "out of bound value for Gain: 1is not in the range 0; 1"),
    (("Gain", True, False, False), "no such controllable: Gain"),
    (("Gamma", False, False, True),
     "failed to change the value of Gamma: to auto-mode (not supported)"),
])
def test_controllable_exception_from_python(arguments, text):
    assert str(tav_oru.ControllableException(*arguments)) == text


def test_default_roi():
    roi = tav_oru.ROI()
    assert (roi.start_x, roi.start_y, roi.width, roi.height, roi.bins, roi.type) \
        == (0, 0, 0, 0, 0, tav_oru.ImageType.y8)


def stub_names():
    """Top-level functions, and per class the names it declares, in bindings.pyi."""
    stub = pathlib.Path(tav_oru.__file__).with_name("bindings.pyi")
    classes, functions = {}, set()
    for node in ast.parse(stub.read_text()).body:
        if isinstance(node, ast.FunctionDef):
            functions.add(node.name)
        elif isinstance(node, ast.ClassDef):
            classes[node.name] = {item.name if isinstance(item, ast.FunctionDef) else item.target.id
                                  for item in node.body
                                  if isinstance(item, (ast.FunctionDef, ast.AnnAssign))}
    return classes, functions


def test_the_stubs_declare_what_the_module_has():
    classes, functions = stub_names()
    public = {name for name in dir(tav_oru.bindings) if not name.startswith("_")}
    assert public == (set(classes) - {"_Enumeration"}) | functions
    for name, declared in classes.items():
        if name == "_Enumeration":
            continue
        kind = getattr(tav_oru.bindings, name)
        if issubclass(kind, BaseException):
            # Their attributes belong to the instances.
            continue
        if name in ENUMERATIONS or name == "TriggerOutput":
            declared = declared | classes["_Enumeration"]
        # BayerPattern.None cannot be written in a stub.
        own = {attribute for attribute in vars(kind) if not attribute.startswith("_")} - {"None"}
        assert own <= declared, f"{name}: not in the stub: {own - declared}"
        assert {attribute for attribute in declared if not attribute.startswith("_")} <= set(
            dir(kind)), f"{name}: in the stub only"
