// The last frames a stream sent, for tests: as many as asked (none at
// first; asking for none forgets them). Safe to use from any thread.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace oru_sim {

template <typename Frame>
class SentFrameLog {
public:
    void keep(size_t count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        keep_ = count;
        trim();
    }

    bool keeping() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return keep_ > 0;
    }

    void add(Frame frame)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(std::move(frame));
        trim();
    }

    std::vector<Frame> frames() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::vector<Frame>(sent_.begin(), sent_.end());
    }

private:
    void trim()
    {
        while (sent_.size() > keep_)
            sent_.pop_front();
    }

    mutable std::mutex mutex_;
    size_t keep_ = 0;
    std::deque<Frame> sent_;
};

}  // namespace oru_sim
