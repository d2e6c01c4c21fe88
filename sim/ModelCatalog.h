// The camera models the simulator knows by name on the command line. Until
// named models are added, a model is a USB product ID ("0x1001" or "4097")
// and stands for a SuperSpeed FX3 camera with that ID.
#pragma once

#include <string>
#include <vector>

#include "sim/CameraSpec.h"

namespace oru_sim {

class ModelCatalog {
public:
    // Throws std::invalid_argument for an unknown model.
    static CameraSpec find(const std::string& model);
    // One line per kind of model, for `oru-sim --list-models`.
    static std::vector<std::string> describe();
};

}  // namespace oru_sim
