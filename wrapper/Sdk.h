// Library-wide calls that need no camera object.
#pragma once

#include <string>

namespace tav_oru {

// Enumerates the connected cameras (hands out their camera IDs) and returns
// how many there are. Must run before a camera can be built.
int get_nb_cameras();

// ORU_SDK_VERSION; needs no camera.
std::string get_sdk_version();

} // namespace tav_oru
