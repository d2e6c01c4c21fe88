#include "launcher/LauncherOptions.h"

#include <stdexcept>

#include "sim/ModelCatalog.h"

namespace oru_sim {

namespace {

CameraSpec cameraFromText(const std::string& text)
{
    size_t at = text.find('@');
    CameraSpec spec = ModelCatalog::find(text.substr(0, at));
    if (at != std::string::npos)
        spec.address = PortAddress::parse(text.substr(at + 1));
    return spec;
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
            options.cameras.push_back(cameraFromText(arguments[i]));
        } else if (argument.rfind("--camera=", 0) == 0) {
            options.cameras.push_back(cameraFromText(argument.substr(9)));
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
    options.command.assign(arguments.begin() + static_cast<long>(i), arguments.end());
    if (options.command.empty() && !options.listModels && !options.help)
        throw std::invalid_argument("no command to run");
    return options;
}

std::string LauncherOptions::usage()
{
    return "usage: oru-sim [--camera MODEL[@BUS-PORT[.PORT...]]]... [--] COMMAND [ARGS...]\n"
           "       oru-sim --list-models\n"
           "Runs COMMAND with simulated cameras on a simulated USB bus and returns its exit code.\n"
           "  --camera MODEL[@ADDRESS]  plug in a camera, e.g. 0x1001 or 0x1001@1-2.3 (bus 1, hub port 2,\n"
           "                            port 3); without an address it takes the next free port of bus 1\n"
           "  --list-models             list the models that can be simulated\n";
}

}  // namespace oru_sim
