"""Two ORU462MC (uncooled, ST4 port, trigger modes) in one driver: a device
each, connected and disconnected on their own; guide pulses on the ST4 port;
an exposure on a software trigger."""
import numpy
import pytest

from indi_harness import simulator_state, wait_until

FIRST = "TAV ORU462MC"
SECOND = "TAV ORU462MC 2"
GUIDER_INTERFACE = 4


def finished_pulses():
    return [(pulse["direction"], pulse["duration_ms"]) for camera in simulator_state()
            for pulse in camera["guide_pulses"] if pulse["duration_ms"] is not None]


def test_each_camera_is_a_device_of_its_own(server):
    for device in (FIRST, SECOND):
        assert server.get(f"{device}.DRIVER_INFO.DRIVER_EXEC") == "indi_oru_ccd"
        assert int(server.get(f"{device}.DRIVER_INFO.DRIVER_INTERFACE")) & GUIDER_INTERFACE
    server.connect(SECOND)
    assert server.get(f"{FIRST}.CONNECTION.CONNECT") == "Off"
    assert server.get(f"{SECOND}.CCD_COOLER.COOLER_ON") is None, "an uncooled camera has no cooler"
    assert server.get(f"{SECOND}.TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_E") is not None


def test_guide_pulses_reach_the_st4_port_for_their_time(server):
    server.set(f"{SECOND}.TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_W=0;TIMED_GUIDE_E=300")
    server.set(f"{SECOND}.TELESCOPE_TIMED_GUIDE_NS.TIMED_GUIDE_N=120;TIMED_GUIDE_S=0")
    pulses = dict(wait_until(lambda: len(finished_pulses()) == 2 and finished_pulses(), 5, "two pulses"))
    # The pulses are reported done once over.
    server.wait_for(f"{SECOND}.TELESCOPE_TIMED_GUIDE_WE._STATE", "Idle", 5)
    server.wait_for(f"{SECOND}.TELESCOPE_TIMED_GUIDE_NS._STATE", "Idle", 5)
    assert set(pulses) == {"east", "north"}
    # Never shorter than asked; the upper bound only rules out a stuck line.
    assert 300 <= pulses["east"] < 800
    assert 120 <= pulses["north"] < 620


def test_software_trigger_takes_the_exposure(server):
    server.set(f"{SECOND}.ORU_TRIGGER_MODE.TRIGGER_SOFT_EDGE=On")
    server.wait_for(f"{SECOND}.ORU_TRIGGER_MODE._STATE", "Ok", 5)
    header, data = server.expose(SECOND, 0.05)
    assert data.shape == (1096, 1936) and data.dtype == numpy.uint16
    assert header["EXPTIME"] == pytest.approx(0.05)
    server.set(f"{SECOND}.ORU_TRIGGER_MODE.TRIGGER_NONE=On")
    server.wait_for(f"{SECOND}.ORU_TRIGGER_MODE.TRIGGER_NONE", "On", 5)


def test_one_camera_disconnects_while_the_other_exposes(server):
    server.connect(FIRST)
    watch = server.watch_blob(f"{SECOND}.CCD1.CCD1")
    server.set(f"{SECOND}.CCD_EXPOSURE.CCD_EXPOSURE_VALUE=2")
    server.wait_for(f"{SECOND}.CCD_EXPOSURE._STATE", "Busy", 5)
    server.set(f"{FIRST}.CONNECTION.DISCONNECT=On")
    server.wait_for(f"{FIRST}.CONNECTION.CONNECT", "Off", 10)
    watch.wait_for_blob(30)
    assert server.get(f"{SECOND}.CCD_EXPOSURE._STATE") == "Ok"
