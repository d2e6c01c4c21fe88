#include "sim/ModelCatalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "sim/LegacyUsb2Sensor.h"
#include "sim/ProColorSensor.h"
#include "sim/PythonSensor.h"
#include "sim/UncooledSensor.h"

namespace oru_sim {

namespace {

struct NamedModel {
    const char* name;
    const char* alias;
    const char* summary;
    CameraConfig (*make)();
};

// Register 28 of an FPGA with edge and level trigger modes.
constexpr uint8_t kEdgeAndLevelTriggers = 0xC0;

auto proCamera(bool colour)
{
    auto description = CameraConfig::usb3Camera(colour ? ProColorSensor::kProductId : ProColorSensor::kMonoProductId);
    description.product = colour ? "ORU6200MC Pro" : "ORU6200MM Pro";
    description.sensorWidth = ProColorSensor::kWidth;
    description.sensorHeight = ProColorSensor::kHeight;
    description.temperatureChip = TemperatureChip::TMP100;
    description.humiditySensor = true;
    description.coolerDrive = CoolerDrive::FpgaRegister;
    description.heaterPowerRegister = true;
    description.sensorModel = std::make_shared<ProColorSensor>(colour);
    return description;
}

auto uncooledCamera(bool colour)
{
    auto description =
        CameraConfig::usb3Camera(colour ? UncooledSensor::kColourProductId : UncooledSensor::kMonoProductId);
    description.product = colour ? "ORU462MC" : "ORU462MM";
    description.sensorWidth = UncooledSensor::kWidth;
    description.sensorHeight = UncooledSensor::kHeight;
    description.temperatureChip = TemperatureChip::TMP100;
    // The DDR stays unused: the library bypasses it.
    description.fpgaVersion = FpgaVersion::newerLayout(0x0105, 0x12, 0x34, kEdgeAndLevelTriggers);
    description.sensorModel = std::make_shared<UncooledSensor>(colour);
    return description;
}

// No temperature chip, cooler or heater: the PYTHON models have none.
CameraConfig pythonCamera(uint16_t productId, const char* name, bool colour)
{
    CameraConfig description = CameraConfig::usb3Camera(productId);
    description.product = name;
    description.sensorWidth = PythonSensor::kWidth;
    description.sensorHeight = PythonSensor::kHeight;
    description.sensorModel = std::make_shared<PythonSensor>(colour);
    return description;
}

CameraConfig pythonMonoCamera()
{
    return pythonCamera(PythonSensor::kMonoProductId, "ORU174MM", false);
}

CameraConfig pythonColourCamera()
{
    return pythonCamera(PythonSensor::kColourProductId, "ORU174MC", true);
}

// Starts with firmware 0x2F, so that the host loads its own at open.
CameraConfig legacyUsb2Camera()
{
    CameraConfig description = CameraConfig::usb2Camera(0x1005);
    description.product = "ORU120";
    description.firmwareVersion = 0x2F;
    description.sensorWidth = LegacyUsb2Sensor::kWidth;
    description.sensorHeight = LegacyUsb2Sensor::kHeight;
    description.sensorModel = std::make_shared<LegacyUsb2Sensor>();
    return description;
}

const NamedModel kNamedModels[] = {
    {"ORU6200MC Pro", "oru6200mc-pro",
     "TAV ORU6200MC Pro, product ID 0x1001: cooled colour, 6248 x 4176, TMP100, cooler on FPGA register 38, "
     "heater power register, humidity sensor",
     [] { return proCamera(true); }},
    {"ORU6200MM Pro", "oru6200mm-pro", "TAV ORU6200MM Pro, product ID 0x1002: the ORU6200MC Pro with a mono sensor",
     [] { return proCamera(false); }},
    {"ORU462MC", "oru462mc",
     "TAV ORU462MC, product ID 0x1003: uncooled colour, 1936 x 1096, 12-bit, TMP100, ST4 port, "
     "edge and level trigger modes with an external trigger input",
     [] { return uncooledCamera(true); }},
    {"ORU462MM", "oru462mm", "TAV ORU462MM, product ID 0x1004: the ORU462MC with a mono sensor",
     [] { return uncooledCamera(false); }},
    {"ORU120", "oru120",
     "ORU120, product ID 0x1005: USB2 colour, 1280 x 960, FX2 controller starting with firmware 0x2F "
     "(the host loads its own; --firmware 0x30 starts without), frames on endpoint 0x82",
     legacyUsb2Camera},
    {"ORU174MM", "oru174mm",
     "TAV ORU174MM, product ID 0x1009: mono PYTHON sensor, 1280 x 1024, 10-bit, 16-bit camera registers",
     pythonMonoCamera},
    {"ORU174MC", "oru174mc",
     "TAV ORU174MC, product ID 0x100A: colour PYTHON sensor, 1280 x 1024, 10-bit, 16-bit camera registers",
     pythonColourCamera},
};

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

CameraConfig ModelCatalog::find(const std::string& model)
{
    for (const NamedModel& named : kNamedModels)
        if (sameIgnoringCase(model, named.name) || sameIgnoringCase(model, named.alias))
            return named.make();

    char* end = nullptr;
    unsigned long productId = model.empty() ? 0 : std::strtoul(model.c_str(), &end, 0);
    if (model.empty() || *end != '\0' || model[0] == '-' || productId > 0xFFFF)
        throw std::invalid_argument("unknown camera model \"" + model +
                                    "\" (give a model name or a USB product ID such as 0x1001; see --list-models)");
    return CameraConfig::usb3Camera(static_cast<uint16_t>(productId));
}

std::vector<std::string> ModelCatalog::describe()
{
    std::vector<std::string> lines;
    for (const NamedModel& named : kNamedModels)
        lines.push_back(std::string(named.name) + " (" + named.alias + ")  " + named.summary);
    lines.push_back("PRODUCT-ID  a SuperSpeed FX3 camera (vendor 0x3A7E) with that USB product ID, "
                    "e.g. 0x1001 or 4097");
    return lines;
}

}  // namespace oru_sim
