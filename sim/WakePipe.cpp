#include "sim/WakePipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace oru_sim {

namespace {

constexpr int kPipeSize = 4096;  // one page: writable exactly when empty

}  // namespace

WakePipe::WakePipe(const std::string& path)
{
    if (mkfifo(path.c_str(), 0666) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot create device node " + path);
    fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open device node " + path);
    fcntl(fd_, F_SETPIPE_SZ, kPipeSize);
    ready_ = true;
    setReady(false);
}

WakePipe::~WakePipe()
{
    if (fd_ >= 0)
        close(fd_);
}

void WakePipe::setReady(bool ready)
{
    if (ready == ready_)
        return;
    ready_ = ready;
    char buffer[kPipeSize];
    if (ready) {
        while (read(fd_, buffer, sizeof buffer) > 0) {
        }
    } else {
        std::memset(buffer, 0, sizeof buffer);
        while (write(fd_, buffer, sizeof buffer) > 0) {
        }
    }
}

}  // namespace oru_sim
