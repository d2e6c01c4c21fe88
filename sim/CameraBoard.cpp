#include "sim/CameraBoard.h"

#include <algorithm>
#include <cmath>

#include "sim/CoolerCurrentTable.h"
#include "sim/NtcThermistor.h"

namespace oru_sim {

namespace {

using Clock = ThermalModel::Clock;

// Converter codes travel with their low nibble in the top of the first byte
// and the rest in the second.
std::vector<uint8_t> nibbleSplitReply(uint16_t code)
{
    return {static_cast<uint8_t>((code & 0x0F) << 4), static_cast<uint8_t>((code >> 4) & 0xFF)};
}

std::vector<uint8_t> tmp100Reply(double celsius)
{
    long sixteenths = std::clamp(std::lround(celsius * 16.0), -2048L, 2047L);
    return nibbleSplitReply(static_cast<uint16_t>(sixteenths & 0x0FFF));
}

std::vector<uint8_t> tmp451Reply(double celsius)
{
    // Standard range: 0 to 127.9375 degC, colder reads 0.
    long sixteenths = std::clamp(std::lround(celsius * 16.0), 0L, 127L * 16 + 15);
    return {static_cast<uint8_t>(sixteenths % 16), static_cast<uint8_t>(sixteenths / 16)};
}

}  // namespace

CameraBoard::CameraBoard(TemperatureChip chip, bool humiditySensor, CoolerDrive drive)
    : chip_(chip),
      humiditySensor_(humiditySensor),
      drive_(drive),
      thermal_(ThermalSettings{}, Clock::now())
{
}

std::vector<uint8_t> CameraBoard::boardTemperatureReply() const
{
    double celsius = sensorTemperature();
    switch (chip_) {
    case TemperatureChip::TMP100: return tmp100Reply(celsius);
    case TemperatureChip::TMP451: return tmp451Reply(celsius);
    default: return {0, 0};
    }
}

std::vector<uint8_t> CameraBoard::temperatureAdcReply() const
{
    double celsius = sensorTemperature();
    switch (chip_) {
    case TemperatureChip::AD7142: return nibbleSplitReply(NtcThermistor::adcCode(celsius, 12));
    case TemperatureChip::ADC081: return nibbleSplitReply(NtcThermistor::adcCode(celsius, 8));
    default: return {0, 0};
    }
}

std::vector<uint8_t> CameraBoard::humidityReply() const
{
    if (!humiditySensor_)
        return {0, 0};
    // RH = raw x 125 / 65536 - 6. Rounded up, so that a reading that
    // truncates gives the set percentage back.
    uint16_t raw = static_cast<uint16_t>(std::ceil((humidity() + 6.0) * 65536.0 / 125.0));
    return {static_cast<uint8_t>(raw & 0xFF), static_cast<uint8_t>(raw >> 8)};
}

void CameraBoard::coolerRequest(uint16_t dac)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (drive_ == CoolerDrive::VendorRequest)
        setCoolerDac(dac);
}

void CameraBoard::coolerPowerRegister(uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (drive_ == CoolerDrive::FpgaRegister)
        setCoolerDac(CoolerCurrentTable::dacFromPowerRegister(value));
}

void CameraBoard::setCoolerDac(double dac)
{
    thermal_.setPowerFraction(CoolerCurrentTable::powerFraction(dac), Clock::now());
}

void CameraBoard::powerCycle()
{
    std::lock_guard<std::mutex> lock(mutex_);
    thermal_.setPowerFraction(0.0, Clock::now());
}

double CameraBoard::sensorTemperature() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return thermal_.temperature(Clock::now());
}

void CameraBoard::setSensorTemperature(double celsius)
{
    std::lock_guard<std::mutex> lock(mutex_);
    thermal_.setTemperature(celsius, Clock::now());
}

ThermalSettings CameraBoard::thermalSettings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return thermal_.settings();
}

void CameraBoard::setThermalSettings(const ThermalSettings& settings)
{
    std::lock_guard<std::mutex> lock(mutex_);
    thermal_.setSettings(settings, Clock::now());
}

double CameraBoard::coolerPowerFraction() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return thermal_.powerFraction();
}

double CameraBoard::humidity() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return humidity_;
}

void CameraBoard::setHumidity(double percent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    humidity_ = std::clamp(percent, 0.0, 100.0);
}

}  // namespace oru_sim
