// A table from request code to handler. Codes not in the table, and requests
// in a direction their entry does not take, are stalled as a real controller
// stalls endpoint 0. Replies longer than wLength are cut to wLength.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/ControlAnswer.h"
#include "sim/SetupPacket.h"

namespace oru_sim {

class RequestDispatcher {
public:
    enum class Direction { In, Out, Both };
    // `data` holds the data stage of an OUT request; an IN handler puts its
    // reply there (it starts empty).
    using Handler = std::function<ControlAnswer(const SetupPacket& setup, std::vector<uint8_t>& data)>;

    void add(uint8_t request, Direction direction, Handler handler);
    ControlAnswer dispatch(const SetupPacket& setup, std::vector<uint8_t>& data) const;

private:
    struct Entry {
        Direction direction = Direction::Both;
        Handler handler;
    };
    std::array<Entry, 256> entries_;
};

}  // namespace oru_sim
