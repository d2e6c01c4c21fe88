// Checks that the system's udev rules give the cameras what they need (a USB
// file-system memory limit of 200 MB), and writes the rule file that does.
#pragma once

#include <string>

namespace tav_oru {

// Returns when the limit is 200 MB. Otherwise throws the udev CameraException,
// which also writes "99-oru.rules" into the current directory.
void check_system_udev();

namespace internal {

inline constexpr char kUsbfsMemoryFile[] = "/sys/module/usbcore/parameters/usbfs_memory_mb";
inline constexpr char kUdevRulesFile[] = "99-oru.rules";

// check_system_udev() reading the limit from limit_file and writing the rule
// file, when needed, into rules_directory.
void check_system_udev(const std::string &limit_file, const std::string &rules_directory);

// Writes "99-oru.rules" into the current directory, or into directory; true
// when the file could be opened for writing.
bool create_udev_file();
bool create_udev_file(const std::string &directory);

// Runs command through the shell and returns its standard output, or
// "popen failed!" when the shell cannot be started.
std::string run_system_command(const std::string &command);

} // namespace internal
} // namespace tav_oru
