#include "SetterRecordingCamera.h"

bool SetterCall::operator==(const SetterCall &other) const
{
    return kind == other.kind && value == other.value && blue == other.blue &&
           autoOn == other.autoOn;
}

void PrintTo(const SetterCall &call, std::ostream *out)
{
    static const char *const names[] = {"SetGain", "SetExp", "SetRGBBalance"};
    *out << names[call.kind] << '(' << call.value;
    if (call.kind == SetterCall::Balance)
        *out << ", " << call.blue;
    *out << ", auto " << call.autoOn << ')';
}

SetterRecordingCamera::SetterRecordingCamera()
{
    DescribeModel().m_szCameraName = "Test Recorder";
    DescribeModel().m_szModelKey = "Recorder";
}

SetterRecordingCamera::~SetterRecordingCamera()
{
    StopAutoControlThr();
}

bool SetterRecordingCamera::SetGain(int gain, bool autoGain)
{
    m_iGain = gain;
    m_bAutoGain = autoGain;
    record({SetterCall::Gain, gain, 0, autoGain});
    return true;
}

bool SetterRecordingCamera::SetRGBBalance(int red, int blue, bool autoWB)
{
    m_iWB_R = red;
    m_iWB_B = blue;
    m_bAutoWB = autoWB;
    record({SetterCall::Balance, red, blue, autoWB});
    return true;
}

bool SetterRecordingCamera::SetExp(uint64_t us, bool autoExp)
{
    m_lExposure = us;
    m_bAutoExp = autoExp;
    record({SetterCall::Exposure, int64_t(us), 0, autoExp});
    return true;
}

std::vector<SetterCall> SetterRecordingCamera::calls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void SetterRecordingCamera::clearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

bool SetterRecordingCamera::waitForCalls(
    const std::function<bool(const std::vector<SetterCall> &)> &done,
    std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(calls_); });
}

void SetterRecordingCamera::record(const SetterCall &call)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    changed_.notify_all();
}
