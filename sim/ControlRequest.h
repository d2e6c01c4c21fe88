// One control request as it reached the simulated device, for tests that
// assert what went over the wire.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/SetupPacket.h"

namespace oru_sim {

enum class RequestOutcome {
    Completed,   // answered; data holds what moved in either direction
    Stalled,     // the device stalled the request (LIBUSB_ERROR_PIPE)
    Unanswered,  // the device never answered (the host times out)
};

struct ControlRequest {
    SetupPacket setup;
    // Host-to-device: the data stage as sent. Device-to-host: the reply.
    std::vector<uint8_t> data;
    RequestOutcome outcome = RequestOutcome::Completed;
};

}  // namespace oru_sim
