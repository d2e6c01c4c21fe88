"""A camera that loses every third frame (oru-sim --fault drop-every=3)
does not wedge the driver: exposures keep completing and video keeps coming."""
import pytest

from indi_harness import IndiServer, simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"


@pytest.fixture(scope="module")
def server():
    with IndiServer("-d", "0") as indi:
        indi.connect(DEVICE)
        indi.set(f"{DEVICE}.CCD_CAPTURE_FORMAT.RAW8=On")
        indi.set(f"{DEVICE}.CCD_FRAME.X=2800;Y=1848;WIDTH=640;HEIGHT=480")
        indi.wait_for(f"{DEVICE}.CCD_FRAME.WIDTH", "640", 5)
        yield indi


def test_exposures_keep_completing(server):
    for _ in range(5):
        _, data = server.expose(DEVICE, 0.02)
        assert data.shape == (480, 640)
        assert server.get(f"{DEVICE}.CCD_EXPOSURE._STATE") == "Ok"


def test_video_keeps_coming_and_exposures_follow(server):
    server.set(f"{DEVICE}.LIMITS.LIMITS_PREVIEW_FPS=120")
    server.set(f"{DEVICE}.STREAMING_EXPOSURE.STREAMING_EXPOSURE_VALUE=0.001")
    watch = server.watch_blob(f"{DEVICE}.CCD1.CCD1")
    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_ON=On")
    watch.wait_for_blob(15, count=20)
    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_OFF=On")
    wait_until(lambda: not simulator_state()[0]["streaming"], 10, "the camera to stop streaming")
    _, data = server.expose(DEVICE, 0.02)
    assert data.shape == (480, 640)
