"""The shared library seen from outside: only the flat API is exported."""
import ctypes
import subprocess

from conftest import ROOT, defined_string


def load(build_dir):
    return ctypes.CDLL(str(build_dir / "libtav_oru.so"))


def test_sdk_version_needs_no_camera(build_dir, sdk_version):
    lib = load(build_dir)
    lib.ORUGetSDKVersion.restype = ctypes.c_char_p
    reported = lib.ORUGetSDKVersion().decode()
    assert reported == sdk_version
    assert reported == defined_string(ROOT / "api" / "ORUCamera.h", "ORU_SDK_VERSION")


def test_product_ids_and_vendor_check(build_dir):
    lib = load(build_dir)
    assert lib.ORUGetProductIDs(None) == 113
    ids = (ctypes.c_int * 113)()
    assert lib.ORUGetProductIDs(ids) == 113
    assert len(set(ids)) == 113
    assert lib.ORUCameraCheck(0x3A7E, ids[0]) == 1
    assert lib.ORUCameraCheck(0x3A7F, ids[0]) == 0


def test_only_flat_functions_are_exported(build_dir):
    out = subprocess.run(["nm", "-D", "--defined-only", str(build_dir / "libtav_oru.so")],
                         capture_output=True, text=True, check=True).stdout
    names = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert names
    assert all(n.startswith("ORU") or n == "libusb_open_device_with_vid_pid_index"
               for n in names), names
