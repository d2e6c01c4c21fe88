#include "sim/StreamFaults.h"

#include <cstdlib>
#include <stdexcept>

namespace oru_sim {

namespace {

constexpr size_t kDefaultShortBy = 4096;

// A whole number above 0, all of `text`.
unsigned long number(const std::string& text, const std::string& setting)
{
    char* end = nullptr;
    unsigned long value = text.empty() || text[0] == '-' ? 0 : std::strtoul(text.c_str(), &end, 10);
    if (!end || *end != '\0' || value == 0 || value > 0x7FFFFFFF)
        throw std::invalid_argument("bad number \"" + text + "\" in stream fault \"" + setting + "\"");
    return value;
}

MarkerFault markerFault(const std::string& text, const std::string& setting)
{
    if (text == "head")
        return MarkerFault::HeadMarker;
    if (text == "tail")
        return MarkerFault::TailMarker;
    if (text == "counter")
        return MarkerFault::CounterMismatch;
    throw std::invalid_argument("bad marker \"" + text + "\" in stream fault \"" + setting +
                                "\" (head, tail or counter)");
}

}  // namespace

void StreamFaults::shortenNextFrame(size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    shortNextBy_ = bytes;
}

void StreamFaults::shortenFramesPeriodically(size_t bytes, int period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    shortPeriodicallyBy_ = bytes;
    shortPeriod_ = period > 0 ? period : 0;
    shortPhase_ = 0;
}

void StreamFaults::corruptNextFrame(MarkerFault fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    marker_ = fault;
}

void StreamFaults::withholdNextFrames(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    withholdCount_ = count > 0 ? count : 0;
}

void StreamFaults::withholdFramesPeriodically(int period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    withholdPeriod_ = period > 0 ? period : 0;
    withholdPhase_ = 0;
}

void StreamFaults::stallFramesPeriodically(int period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stallPeriod_ = period > 0 ? period : 0;
    stallPhase_ = 0;
}

void StreamFaults::corruptFramesPeriodically(MarkerFault fault, int period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    periodicMarker_ = fault;
    markerPeriod_ = period > 0 ? period : 0;
    markerPhase_ = 0;
}

void StreamFaults::stallNextTransfer()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stall_ = true;
}

void StreamFaults::unplugDuringNextFrame(size_t afterBytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugAfter_ = afterBytes;
}

void StreamFaults::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    shortNextBy_ = 0;
    shortPeriodicallyBy_ = 0;
    shortPeriod_ = 0;
    marker_.reset();
    withholdCount_ = 0;
    withholdPeriod_ = 0;
    stallPeriod_ = 0;
    markerPeriod_ = 0;
    periodicMarker_.reset();
    stall_ = false;
    unplugAfter_.reset();
}

bool StreamFaults::due(int period, int& phase)
{
    if (period == 0)
        return false;
    phase = (phase + 1) % period;
    return phase == 0;
}

StreamFaults::FrameFaults StreamFaults::takeFrameFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    FrameFaults faults;
    if (due(withholdPeriod_, withholdPhase_)) {
        faults.withhold = true;
        return faults;
    }
    if (withholdCount_ > 0) {
        --withholdCount_;
        faults.withhold = true;
        return faults;
    }
    faults.shortBy = shortNextBy_;
    shortNextBy_ = 0;
    if (due(shortPeriod_, shortPhase_))
        faults.shortBy += shortPeriodicallyBy_;
    faults.marker = marker_;
    marker_.reset();
    if (due(markerPeriod_, markerPhase_))
        faults.marker = periodicMarker_;
    if (due(stallPeriod_, stallPhase_))
        stall_ = true;
    faults.unplugAfter = unplugAfter_;
    unplugAfter_.reset();
    return faults;
}

bool StreamFaults::takeStall()
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool stall = stall_;
    stall_ = false;
    return stall;
}

void StreamFaults::apply(const std::string& setting)
{
    size_t equals = setting.find('=');
    std::string name = setting.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
    if (name == "drop-every") {
        withholdFramesPeriodically(static_cast<int>(number(value, setting)));
    } else if (name == "short-every") {
        size_t colon = value.find(':');
        int period = static_cast<int>(number(value.substr(0, colon), setting));
        size_t bytes = colon == std::string::npos ? kDefaultShortBy : number(value.substr(colon + 1), setting);
        shortenFramesPeriodically(bytes, period);
    } else if (name == "stall-every") {
        stallFramesPeriodically(static_cast<int>(number(value, setting)));
    } else if (name == "bad-marker-every") {
        size_t colon = value.find(':');
        int period = static_cast<int>(number(value.substr(0, colon), setting));
        corruptFramesPeriodically(colon == std::string::npos ? MarkerFault::HeadMarker
                                                             : markerFault(value.substr(colon + 1), setting),
                                  period);
    } else {
        throw std::invalid_argument("unknown stream fault \"" + setting + "\"");
    }
}

std::string StreamFaults::usage()
{
    return "      drop-every=N          every Nth frame is not sent (the host's transfers time out)\n"
           "      short-every=N[:BYTES] every Nth frame ends BYTES early (default 4096)\n"
           "      stall-every=N         the first transfer of every Nth frame ends with a stall (the\n"
           "                            rest of that frame is not sent)\n"
           "      bad-marker-every=N[:WHICH]\n"
           "                            every Nth frame has a broken marker: head (default), tail or\n"
           "                            counter (the second frame-counter copy differs); an ORU120\n"
           "                            frame breaks only its head\n";
}

}  // namespace oru_sim
