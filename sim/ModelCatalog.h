// The camera models the simulator knows on the command line: named models,
// by name or short alias (either case), and bare USB product IDs ("0x1001"
// or "4097"), which stand for a SuperSpeed FX3 camera with that ID and
// nothing behind its registers.
#pragma once

#include <string>
#include <vector>

#include "sim/CameraConfig.h"

namespace oru_sim {

class ModelCatalog {
public:
    // Throws std::invalid_argument for an unknown model.
    static CameraConfig find(const std::string& model);
    // One line per kind of model, for `oru-sim --list-models`.
    static std::vector<std::string> describe();
};

}  // namespace oru_sim
