// How the device model answers one control request.
#pragma once

namespace oru_sim {

enum class ControlAnswer {
    Ack,    // completed; an IN request's reply is in the data buffer
    Stall,  // endpoint 0 stalls the request
    None,   // no answer at all: the host times out
};

}  // namespace oru_sim
