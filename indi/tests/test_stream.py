"""Video through INDI's stream manager: frames of the subframe's size reach
the client while the simulated camera streams, and stop with the stream."""
import time

from indi_harness import simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"
# The server drops no stream frame for a slow client: every frame sent is counted.
SERVER_ARGUMENTS = ("-d", "0")


def test_stream_delivers_frames_until_stopped(server):
    server.use_small_frame(DEVICE)
    server.use_fast_video(DEVICE)
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
