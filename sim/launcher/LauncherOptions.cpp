#include "launcher/LauncherOptions.h"

#include <cstdlib>
#include <stdexcept>

#include "sim/ModelCatalog.h"
#include "sim/StreamFaults.h"

namespace oru_sim {

namespace {

CameraConfig cameraFromText(const std::string& text)
{
    size_t at = text.find('@');
    CameraConfig config = ModelCatalog::find(text.substr(0, at));
    if (at != std::string::npos)
        config.address = PortAddress::parse(text.substr(at + 1));
    return config;
}

void addFault(LauncherOptions& options, const std::string& fault)
{
    if (options.cameras.empty())
        throw std::invalid_argument("--fault " + fault + " comes before any --camera");
    if (options.plugFaults.back().apply(fault))
        return;
    StreamFaults check;
    check.apply(fault);
    options.faults.back().push_back(fault);
}

void setFirmware(LauncherOptions& options, const std::string& text)
{
    if (options.cameras.empty())
        throw std::invalid_argument("--firmware " + text + " comes before any --camera");
    char* end = nullptr;
    unsigned long version = text.empty() || text[0] == '-' ? 256 : std::strtoul(text.c_str(), &end, 0);
    if (version > 0xFF || !end || *end != '\0')
        throw std::invalid_argument("bad firmware version \"" + text + "\" (0 to 255, e.g. 0x30)");
    options.cameras.back().firmwareVersion = static_cast<uint8_t>(version);
}

void addCamera(LauncherOptions& options, const std::string& text)
{
    options.cameras.push_back(cameraFromText(text));
    options.faults.emplace_back();
    options.plugFaults.emplace_back();
    options.countingPattern.push_back(false);
    options.thermalTimeConstant.emplace_back();
}

void useCountingPattern(LauncherOptions& options)
{
    if (options.cameras.empty())
        throw std::invalid_argument("--counting-pattern comes before any --camera");
    options.countingPattern.back() = true;
}

void setThermalTimeConstant(LauncherOptions& options, const std::string& text)
{
    if (options.cameras.empty())
        throw std::invalid_argument("--thermal-time-constant " + text + " comes before any --camera");
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0' || !(seconds >= 0.0 && seconds <= 86400.0))
        throw std::invalid_argument("bad thermal time constant \"" + text + "\" (0 to 86400 seconds)");
    options.thermalTimeConstant.back() = seconds;
}

}  // namespace

LauncherOptions LauncherOptions::parse(const std::vector<std::string>& arguments)
{
    LauncherOptions options;
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument == "--camera") {
            if (++i == arguments.size())
                throw std::invalid_argument("--camera needs a model");
            addCamera(options, arguments[i]);
        } else if (argument.rfind("--camera=", 0) == 0) {
            addCamera(options, argument.substr(9));
        } else if (argument == "--fault") {
            if (++i == arguments.size())
                throw std::invalid_argument("--fault needs a fault");
            addFault(options, arguments[i]);
        } else if (argument.rfind("--fault=", 0) == 0) {
            addFault(options, argument.substr(8));
        } else if (argument == "--firmware") {
            if (++i == arguments.size())
                throw std::invalid_argument("--firmware needs a version");
            setFirmware(options, arguments[i]);
        } else if (argument.rfind("--firmware=", 0) == 0) {
            setFirmware(options, argument.substr(11));
        } else if (argument == "--counting-pattern") {
            useCountingPattern(options);
        } else if (argument == "--thermal-time-constant") {
            if (++i == arguments.size())
                throw std::invalid_argument("--thermal-time-constant needs seconds");
            setThermalTimeConstant(options, arguments[i]);
        } else if (argument == "--state-file") {
            if (++i == arguments.size() || arguments[i].empty())
                throw std::invalid_argument("--state-file needs a path");
            options.stateFile = arguments[i];
        } else if (argument == "--list-models") {
            options.listModels = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument.rfind("-", 0) == 0) {
            throw std::invalid_argument("unknown option " + argument);
        } else {
            break;
        }
    }
    for (const PlugFaults& plug : options.plugFaults)
        plug.check();
    options.command.assign(arguments.begin() + static_cast<long>(i), arguments.end());
    if (options.command.empty() && !options.listModels && !options.help)
        throw std::invalid_argument("no command to run");
    return options;
}

std::string LauncherOptions::usage()
{
    return "usage: oru-sim [--camera MODEL[@BUS-PORT[.PORT...]] [--fault FAULT]... [--firmware VERSION]\n"
           "                [--counting-pattern] [--thermal-time-constant SECONDS]]... [--state-file PATH] [--]\n"
           "               COMMAND [ARGS...]\n"
           "       oru-sim --list-models\n"
           "Runs COMMAND with simulated cameras on a simulated USB bus and returns its exit code.\n"
           "  --camera MODEL[@ADDRESS]  plug in a camera, e.g. oru6200mc-pro, 0x1001 or 0x1001@1-2.3 (bus 1,\n"
           "                            hub port 2, port 3); without an address it takes the next free port\n"
           "                            of bus 1. MODEL is a model name (see --list-models) or a product ID\n"
           "  --fault FAULT             a fault of the camera named before it; in its frame stream:\n" +
           StreamFaults::usage() + "                            in its cable:\n" + PlugFaults::usage() +
           "  --firmware VERSION        the firmware version the camera named before it reports at\n"
           "                            power-on, e.g. 0x30 (an ORU120 with 0x2F or lower gets a firmware\n"
           "                            load from the host)\n"
           "  --counting-pattern        the camera named before it fills every bulk transfer at once with\n"
           "                            a counting pattern instead of sending frames (link throughput)\n"
           "  --thermal-time-constant SECONDS\n"
           "                            how fast the sensor of the camera named before it follows its\n"
           "                            cooler (default 60; 0: at once)\n"
           "  --state-file PATH         keep PATH up to date (every 100 ms, JSON) with each camera's port,\n"
           "                            streaming state, sensor temperature, cooler power and the pulses\n"
           "                            its ST4 guide port received\n"
           "  --list-models             list the models that can be simulated\n";
}

}  // namespace oru_sim
