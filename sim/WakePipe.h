// The device node of a simulated USB device is a FIFO, so that libusb can
// sleep in poll() on it. libusb waits for POLLOUT: the host keeps the FIFO
// full while no completed URB waits to be reaped (libusb sleeps) and empty
// while one waits (libusb wakes and reaps).
#pragma once

#include <string>

namespace oru_sim {

class WakePipe {
public:
    // Creates the FIFO at `path` and fills it.
    explicit WakePipe(const std::string& path);
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // Ready: completed URBs wait; the client's fd polls writable.
    void setReady(bool ready);

private:
    int fd_ = -1;
    bool ready_ = false;
};

}  // namespace oru_sim
