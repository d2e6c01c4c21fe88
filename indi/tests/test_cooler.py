"""The cooler of the ORU6200MC Pro through INDI: a set-point drives the
simulated sensor down, the reading follows it, and switching the cooler off
cuts its power."""
from indi_harness import simulator_state, wait_until

DEVICE = "TAV ORU6200MC Pro"


def test_set_point_cools_the_sensor_and_the_reading_follows(server):
    start = simulator_state()[0]["sensor_temperature"]
    # The camera's cooler thread takes its first reading shortly after start.
    server.wait_for(f"{DEVICE}.CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE", lambda value: abs(float(value) - start) < 0.5, 5)
    server.set(f"{DEVICE}.CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE=-10")
    server.wait_for(f"{DEVICE}.CCD_COOLER.COOLER_ON", "On", 5)
    assert server.get(f"{DEVICE}.CCD_TEMPERATURE._STATE") == "Busy"
    wait_until(lambda: simulator_state()[0]["sensor_temperature"] < start - 0.5, 40, "the sensor to cool")
    assert simulator_state()[0]["cooler_power"] > 0
    server.wait_for(f"{DEVICE}.CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE", lambda value: float(value) < start - 0.4, 10)
    server.wait_for(f"{DEVICE}.CCD_COOLER_POWER.CCD_COOLER_VALUE", lambda value: float(value) > 0, 5)


def test_cooler_off_cuts_the_power(server):
    server.set(f"{DEVICE}.CCD_COOLER.COOLER_OFF=On")
    wait_until(lambda: simulator_state()[0]["cooler_power"] == 0, 10, "the cooler to stop")
    server.wait_for(f"{DEVICE}.CCD_COOLER_POWER.CCD_COOLER_VALUE", "0", 5)
    assert server.get(f"{DEVICE}.CCD_COOLER.COOLER_OFF") == "On"
