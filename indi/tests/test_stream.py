"""Video through INDI's stream manager: frames of the subframe's size reach
the client while the simulated camera streams, and stop with the stream."""
import time

import pytest

from indi_harness import IndiServer, simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"


@pytest.fixture(scope="module")
def server():
    # -d 0: the server drops no stream frame for a slow client, so every
    # frame sent is counted.
    with IndiServer("-d", "0") as indi:
        indi.connect(DEVICE)
        yield indi


def test_stream_delivers_frames_until_stopped(server):
    server.set(f"{DEVICE}.LIMITS.LIMITS_PREVIEW_FPS=120")
    server.set(f"{DEVICE}.CCD_CAPTURE_FORMAT.RAW8=On")
    server.set(f"{DEVICE}.CCD_FRAME.X=2800;Y=1848;WIDTH=640;HEIGHT=480")
    server.set(f"{DEVICE}.STREAMING_EXPOSURE.STREAMING_EXPOSURE_VALUE=0.001")
    server.wait_for(f"{DEVICE}.CCD_FRAME.WIDTH", "640", 5)
    watch = server.watch_blob(f"{DEVICE}.CCD1.CCD1")
    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_ON=On")
    wait_until(lambda: simulator_state()[0]["streaming"], 10, "the camera to stream")
    frame = watch.wait_for_blob(10, count=10)
    assert frame.suffix == ".stream"
    assert frame.stat().st_size == 640 * 480

    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_OFF=On")
    wait_until(lambda: not simulator_state()[0]["streaming"], 10, "the camera to stop streaming")
    server.wait_for(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_OFF", "On", 5)
    # Frames already on their way may still come; then nothing more.
    time.sleep(1)
    received = watch.received()
    time.sleep(1)
    assert watch.received() == received
    # The camera takes exposures again once the stream is off.
    _, data = server.expose(DEVICE, 0.01)
    assert data.shape == (480, 640)
