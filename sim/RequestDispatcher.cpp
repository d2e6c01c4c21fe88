#include "sim/RequestDispatcher.h"

#include <utility>

namespace oru_sim {

void RequestDispatcher::add(uint8_t request, Direction direction, Handler handler)
{
    entries_[request] = Entry{direction, std::move(handler)};
}

ControlAnswer RequestDispatcher::dispatch(const SetupPacket& setup, std::vector<uint8_t>& data) const
{
    const Entry& entry = entries_[setup.request];
    Direction direction = setup.deviceToHost() ? Direction::In : Direction::Out;
    if (!entry.handler || (entry.direction != Direction::Both && entry.direction != direction))
        return ControlAnswer::Stall;
    if (setup.deviceToHost())
        data.clear();
    ControlAnswer answer = entry.handler(setup, data);
    if (setup.deviceToHost() && data.size() > setup.length)
        data.resize(setup.length);
    return answer;
}

}  // namespace oru_sim
