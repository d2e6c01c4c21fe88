#include "sim/ModelCatalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "sim/ProColorSensor.h"
#include "sim/UncooledSensor.h"

namespace oru_sim {

namespace {

struct NamedModel {
    const char* name;
    const char* alias;
    const char* summary;
    CameraSpec (*make)();
};

// Register 28 of an FPGA with edge and level trigger modes.
constexpr uint8_t kEdgeAndLevelTriggers = 0xC0;

auto proCamera(bool colour)
{
    auto description =
        CameraSpec::usb3Camera(colour ? ProColorSensor::kProductId : ProColorSensor::kMonoProductId);
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
        CameraSpec::usb3Camera(colour ? UncooledSensor::kColourProductId : UncooledSensor::kMonoProductId);
    description.product = colour ? "ORU462MC" : "ORU462MM";
    description.sensorWidth = UncooledSensor::kWidth;
    description.sensorHeight = UncooledSensor::kHeight;
    description.temperatureChip = TemperatureChip::TMP100;
    // The DDR stays unused: the library bypasses it.
    description.fpgaVersion = FpgaVersion::newerLayout(0x0105, 0x12, 0x34, kEdgeAndLevelTriggers);
    description.sensorModel = std::make_shared<UncooledSensor>(colour);
    return description;
}

const NamedModel kNamedModels[] = {
    {"ORU6200MC Pro", "oru6200mc-pro",
     "TAV ORU6200MC Pro, product ID 0x1001: cooled colour, 6248 x 4176, TMP100, cooler on FPGA register 38, "
     "heater power register, humidity sensor",
     [] { return proCamera(true); }},
    {"ORU6200MM Pro", "oru6200mm-pro",
     "TAV ORU6200MM Pro, product ID 0x1002: the ORU6200MC Pro with a mono sensor",
     [] { return proCamera(false); }},
    {"ORU462MC", "oru462mc",
     "TAV ORU462MC, product ID 0x1003: uncooled colour, 1936 x 1096, 12-bit, TMP100, ST4 port, "
     "edge and level trigger modes with an external trigger input",
     [] { return uncooledCamera(true); }},
    {"ORU462MM", "oru462mm",
     "TAV ORU462MM, product ID 0x1004: the ORU462MC with a mono sensor",
     [] { return uncooledCamera(false); }},
};

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

CameraSpec ModelCatalog::find(const std::string& model)
{
    for (const NamedModel& named : kNamedModels)
        if (sameIgnoringCase(model, named.name) || sameIgnoringCase(model, named.alias))
            return named.make();

    char* end = nullptr;
    unsigned long productId = model.empty() ? 0 : std::strtoul(model.c_str(), &end, 0);
    if (model.empty() || *end != '\0' || model[0] == '-' || productId > 0xFFFF)
        throw std::invalid_argument("unknown camera model \"" + model +
                                    "\" (give a model name or a USB product ID such as 0x1001; see --list-models)");
    return CameraSpec::usb3Camera(static_cast<uint16_t>(productId));
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
