// What sits on the camera's board around the sensor: the temperature chip,
// the humidity sensor and the thermo-electric cooler, with the sensor's
// temperature following the cooler through a first-order thermal model.
//
// Thread-safe: every member takes the board's lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/CameraConfig.h"
#include "sim/ThermalModel.h"

namespace oru_sim {

class CameraBoard {
public:
    CameraBoard(TemperatureChip chip, bool humiditySensor, CoolerDrive drive);

    // Two-byte replies of requests 0xB3 and 0xC7 for the present sensor
    // temperature, and of 0x85 for the present humidity; zeros from a chip
    // the board does not carry.
    std::vector<uint8_t> boardTemperatureReply() const;
    std::vector<uint8_t> temperatureAdcReply() const;
    std::vector<uint8_t> humidityReply() const;

    // Cooler drive from request 0xB2 or from FPGA register 38; each counts
    // only when it is the camera's drive.
    void coolerRequest(uint16_t dac);
    void coolerPowerRegister(uint8_t value);
    // The cooler loses its drive; the sensor keeps its temperature.
    void powerCycle();

    double sensorTemperature() const;
    void setSensorTemperature(double celsius);
    ThermalSettings thermalSettings() const;
    void setThermalSettings(const ThermalSettings& settings);
    // The cooler's share of its full current, 0 to 1.
    double coolerPowerFraction() const;
    double humidity() const;
    void setHumidity(double percent);

private:
    void setCoolerDac(double dac);  // with mutex_ held

    const TemperatureChip chip_;
    const bool humiditySensor_;
    const CoolerDrive drive_;

    mutable std::mutex mutex_;
    ThermalModel thermal_;
    double humidity_ = 40.0;
};

}  // namespace oru_sim
