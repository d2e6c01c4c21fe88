// Text helpers behind the camera's human-readable description.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "wrapper/CameraInfo.h"
#include "wrapper/Controllable.h"

namespace tav_oru::internal {

// Pads text with blanks to n characters; never shortens it.
void fix_length(std::string &text, int n);
void fix_lengths(std::vector<std::string> &texts, int n);
// The longest length; 0 for no texts.
int max_size(const std::vector<std::string> &texts);
// A table cell: "|*" or "| ", then n - 1 blanks when n is 3 or more.
void append_bool(std::ostream &out, bool b, int n);

// The text of Camera::to_string for a camera described by info whose
// controls, in name order, read as controls.
std::string camera_to_string(const std::string &sdk_version, const CameraInfo &info,
                             const std::vector<Controllable> &controls);

} // namespace tav_oru::internal
