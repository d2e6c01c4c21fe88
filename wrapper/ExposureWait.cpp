#include "wrapper/ExposureWait.h"

#include <chrono>
#include <thread>

namespace tav_oru::internal {

namespace {
constexpr std::chrono::microseconds kPollInterval{500};
}

std::optional<ORU_EXPOSURE_STATUS>
wait_for_status_change(ORU_EXPOSURE_STATUS status,
                       const std::function<ORU_EXPOSURE_STATUS()> &read_status,
                       const std::function<bool()> &keep_waiting)
{
    for (;;) {
        const ORU_EXPOSURE_STATUS now = read_status();
        if (now != status)
            return now;
        if (keep_waiting && !keep_waiting())
            return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
}

} // namespace tav_oru::internal
