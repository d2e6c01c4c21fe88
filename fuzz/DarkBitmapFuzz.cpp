// A dark-frame bitmap as the camera loads it from a file: any bytes, for a
// 62 x 40 sensor (rows padded to four bytes in the file).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/TestCamera.h"

namespace {

constexpr int kWidth = 62;
constexpr int kHeight = 40;

std::unique_ptr<TestCamera> g_camera;
std::string g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The loader reports its header sizes on standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    char path[] = "/tmp/oru-fuzz-dark-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        std::abort();
    close(fd);
    g_path = path;
    std::atexit([] { unlink(g_path.c_str()); });
    g_camera = std::make_unique<TestCamera>(kWidth, kHeight, false);
    g_camera->InitCamera();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = open(g_path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    close(fd);
    g_camera->LoadBMPFromFile(g_path.data());
    return 0;
}
