"""A camera that loses every third frame (oru-sim --fault drop-every=3)
does not wedge the driver: exposures keep completing and video keeps coming."""
from indi_harness import simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"
SERVER_ARGUMENTS = ("-d", "0")


def test_exposures_keep_completing(server):
    server.use_small_frame(DEVICE)
    for _ in range(5):
        _, data = server.expose(DEVICE, 0.02)
        assert data.shape == (480, 640)
        assert server.get(f"{DEVICE}.CCD_EXPOSURE._STATE") == "Ok"


def test_video_keeps_coming_and_exposures_follow(server):
    server.use_small_frame(DEVICE)
    server.use_fast_video(DEVICE)
    watch = server.watch_blob(f"{DEVICE}.CCD1.CCD1")
    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_ON=On")
    # Generous: a sanitizer build sends frames far slower.
    watch.wait_for_blob(60, count=20)
    server.set(f"{DEVICE}.CCD_VIDEO_STREAM.STREAM_OFF=On")
    wait_until(lambda: not simulator_state()[0]["streaming"], 10, "the camera to stop streaming")
    _, data = server.expose(DEVICE, 0.02)
    assert data.shape == (480, 640)
