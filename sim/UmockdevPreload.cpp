#include "sim/UmockdevPreload.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace oru_sim {

const char* const UmockdevPreload::kLibrary = ORU_UMOCKDEV_PRELOAD;

namespace {

constexpr const char* kRetryMarker = "ORU_SIM_PRELOAD_RETRY";

}  // namespace

bool UmockdevPreload::active()
{
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return false;
    dlclose(library);
    return true;
}

void UmockdevPreload::ensureActive(char** argv)
{
    if (active()) {
        unsetenv(kRetryMarker);
        return;
    }
    if (getenv(kRetryMarker))
        throw std::runtime_error(std::string("cannot load ") + kLibrary + " (is the umockdev package installed?)");
    // After what is there: a runtime that must be the first library of the
    // process (a sanitizer's) stays first.
    std::string preload = kLibrary;
    if (const char* existing = getenv("LD_PRELOAD"); existing && *existing)
        preload = std::string(existing) + ":" + kLibrary;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kRetryMarker, "1", 1);
    execv("/proc/self/exe", argv);
    throw std::runtime_error(std::string("cannot run this program again under ") + kLibrary + ": " +
                             std::strerror(errno));
}

}  // namespace oru_sim
