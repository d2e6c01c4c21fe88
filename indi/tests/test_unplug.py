"""A camera pulled out during an exposure (oru-sim --fault unplug-after=...)
puts the exposure and the connection in Alert and frees the device, while the
driver goes on answering; connecting again reports the camera missing."""
from indi_harness import simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"


def test_unplug_during_an_exposure_gives_alert_not_a_hang(server):
    exposure = server.monitor(f"{DEVICE}.CCD_EXPOSURE._STATE")
    server.set(f"{DEVICE}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE=60")
    assert simulator_state()[0]["plugged_in"], "the camera went before the exposure started"
    wait_until(lambda: not simulator_state()[0]["plugged_in"], 30, "the camera to be pulled out")
    server.wait_for(f"{DEVICE}.CONNECTION._STATE", "Alert", 20)
    assert server.get(f"{DEVICE}.CONNECTION.CONNECT") == "Off"
    states = wait_until(lambda: "Alert" in exposure.values() and exposure.values(), 5, "the exposure in Alert")
    assert "Busy" in states[:states.index("Alert")]
    # The device's capture properties are gone with the camera; the driver answers.
    assert server.get(f"{DEVICE}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE") is None
    assert server.get(f"{DEVICE}.DRIVER_INFO.DRIVER_EXEC") == "indi_oru_ccd"


def test_connecting_again_reports_the_camera_missing(server):
    server.set(f"{DEVICE}.CONNECTION.CONNECT=On")
    server.wait_for(f"{DEVICE}.CONNECTION._STATE", "Alert", 20)
    assert server.get(f"{DEVICE}.CONNECTION.CONNECT") == "Off"
