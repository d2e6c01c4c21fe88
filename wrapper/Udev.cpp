#include "wrapper/Udev.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "api/ORUCamera.h"
#include "wrapper/CameraException.h"

namespace tav_oru {

namespace {

constexpr char kExpectedLimitMb[] = "200";

std::string read_whole_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (in)
        content << in.rdbuf();
    return content.str();
}

std::string vendor_id_hex()
{
    std::ostringstream hex;
    hex << std::hex << std::nouppercase << std::setw(4) << std::setfill('0') << ORU_VENDOR_ID;
    return hex.str();
}

} // namespace

void check_system_udev()
{
    internal::check_system_udev(internal::kUsbfsMemoryFile, ".");
}

namespace internal {

void check_system_udev(const std::string &limit_file, const std::string &rules_directory)
{
    std::string limit = read_whole_file(limit_file);
    // The value ends with a newline; an unreadable file reads as empty.
    if (!limit.empty())
        limit.pop_back();
    if (limit == kExpectedLimitMb)
        return;
    throw CameraException("udev error", -1, ORU_ERROR_GENERAL_ERROR, true, rules_directory);
}

bool create_udev_file()
{
    return create_udev_file(".");
}

bool create_udev_file(const std::string &directory)
{
    std::ofstream rules(std::filesystem::path(directory) / kUdevRulesFile, std::ios::trunc);
    if (!rules.is_open())
        return false;
    const std::string vendor = vendor_id_hex();
    rules << "ACTION==\"add\", ATTR{idVendor}==\"" << vendor
          << "\", RUN+=\"/bin/sh -c '/bin/echo 200 >" << kUsbfsMemoryFile << "'\"\n"
          << "# All ORU Cameras and filter wheels\n"
          << "SUBSYSTEMS==\"usb\", ATTR{idVendor}==\"" << vendor << "\", MODE=\"0666\"\n";
    return true;
}

std::string run_system_command(const std::string &command)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "popen failed!";
    std::string output;
    char line[128];
    while (fgets(line, sizeof line, pipe) != nullptr)
        output += line;
    pclose(pipe);
    return output;
}

} // namespace internal
} // namespace tav_oru
