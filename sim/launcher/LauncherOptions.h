// The command line of the oru-sim launcher:
//   oru-sim [--camera MODEL[@BUS-PORT.PORT...] [--fault FAULT]... [--firmware VERSION]
//           [--counting-pattern] [--thermal-time-constant SECONDS]]... [--state-file PATH] [--]
//           COMMAND ARGS...
//   oru-sim --list-models | --help
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launcher/PlugFaults.h"
#include "sim/CameraConfig.h"

namespace oru_sim {

struct LauncherOptions {
    std::vector<CameraConfig> cameras;
    // Stream fault switches per camera (StreamFaults::apply), same order.
    std::vector<std::vector<std::string>> faults;
    // Unplug and replug times per camera, same order.
    std::vector<PlugFaults> plugFaults;
    // Per camera, same order: a counting pattern fills bulk transfers at
    // once, in place of the camera's frames (raw link throughput).
    std::vector<bool> countingPattern;
    // Per camera, same order: how fast the sensor follows its cooler;
    // unset keeps the simulator's default.
    std::vector<std::optional<double>> thermalTimeConstant;
    // Where the cameras' state is written while the command runs; empty: nowhere.
    std::string stateFile;
    std::vector<std::string> command;
    bool listModels = false;
    bool help = false;

    // Throws std::invalid_argument with a message for the user.
    static LauncherOptions parse(const std::vector<std::string>& arguments);
    static std::string usage();
};

}  // namespace oru_sim
