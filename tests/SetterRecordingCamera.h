// A camera model without a device for tests of the camera object's own logic.
// It records every SetGain, SetExp and SetRGBBalance call in order and applies
// the value to the settings as a model would, unclamped, so that a test sees
// exactly what the engine asked for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

#include "engine/CCameraBase.h"

struct SetterCall {
    enum Kind { Gain, Exposure, Balance };
    Kind kind;
    int64_t value; // gain, exposure in µs, or white-balance red
    int blue;      // white-balance blue; 0 for the others
    bool autoOn;

    bool operator==(const SetterCall &other) const;
};

// Readable failure messages in GoogleTest.
void PrintTo(const SetterCall &call, std::ostream *out);

class SetterRecordingCamera : public CCameraBase {
public:
    SetterRecordingCamera();
    // Tests describe the model they need.
    using CCameraBase::DescribeModel;
    using CCameraBase::m_Algorithm;
    using CCameraBase::m_AutoCtrlThread;
    // Tests set the state they need directly.
    CameraSettings &EditableSettings() { return *this; }
    // The auto-control thread calls the setters above: it must end first.
    ~SetterRecordingCamera() override;

    bool InitCamera() override { return true; }
    bool SetResolution(int, int, int, IMAGE_TYPE) override { return true; }
    bool SetStartPos(int, int) override { return true; }
    bool SetGain(int gain, bool autoGain) override;
    bool SetRGBBalance(int red, int blue, bool autoWB) override;
    bool SetExp(uint64_t us, bool autoExp) override;
    bool GetImage(unsigned char *, int, int) override { return false; }

    // Thread safety: any thread.
    std::vector<SetterCall> calls();
    void clearCalls();
    // Waits until the recorded calls satisfy `done`; false on time-out.
    bool waitForCalls(const std::function<bool(const std::vector<SetterCall> &)> &done,
                      std::chrono::milliseconds timeout);

private:
    void record(const SetterCall &call);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SetterCall> calls_;
};
