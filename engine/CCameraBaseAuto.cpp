// Automatic exposure, gain and white balance of the camera object: the
// auto-control thread and the two regulation steps it (or the working loop,
// for long frames) runs on the last received raw frame.
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "engine/CCameraBase.h"
#include "log/DbgPrint.h"
#include "transport/SectionLock.h"

namespace {

// Above this exposure the steps run from the working loop, once per frame,
// and the regulation prefers gain over exposure.
constexpr uint64_t kLongExposureUs = 100000;
// Sampling grid of the brightness measurement.
constexpr int kSampleColumns = 64;
constexpr int kSampleRows = 48;
// White balance works on this many blocks per side.
constexpr int kWBBlocks = 16;
// Narrower or lower frames give no samples inside the central window.
constexpr int kMinFrameSide = 5;
// The auto-control thread sleeps in slices so that a stop is noticed soon.
constexpr useconds_t kSleepSliceUs = 10000;
constexpr int kStartDelaySlices = 20;
constexpr int kPassSlices = 10;

// The raw frame in the receive buffer as the ROI stands.
struct RawFrame {
    int width, height; // the sensor output before any software binning
    int bin;
    bool is16;
    bool hardBinRun;
    // Bin 4 in hardware is a sensor bin 2 followed by a software bin 2.
    bool hardwareBin4;
};

// The raw frame's geometry, read as one whole (a step running while the ROI
// changes must not sample with half the new one), or false when there is no
// frame or it is too small to measure (the step is then skipped).
bool MeasurableFrame(CCameraBase &cam, const void *frame, RawFrame &raw)
{
    if (frame == nullptr)
        return false;
    {
        SectionLock roi(cam.m_csRoi);
        raw.width = cam.Settings().m_iWidth;
        raw.height = cam.Settings().m_iHeight;
        raw.bin = cam.Settings().m_iBin;
        raw.is16 = cam.Settings().m_b16Bit;
        raw.hardBinRun = cam.IsHardBinRun();
        raw.hardwareBin4 = cam.Settings().m_bHardwareBin && raw.bin == 4;
    }
    if (!cam.Model().m_bFPGABin) {
        if (!raw.hardBinRun) {
            raw.width *= raw.bin;
            raw.height *= raw.bin;
        }
        if (raw.hardwareBin4) {
            raw.width *= 2;
            raw.height *= 2;
        }
    }
    return raw.width >= kMinFrameSide && raw.height >= kMinFrameSide;
}

// A generator state of its own for every step, so that concurrent steps of
// several cameras never share one.
unsigned SeedFromClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return unsigned(now.tv_sec) ^ unsigned(now.tv_nsec);
}

// Sleeps up to `slices` slices, checking the running flag after each.
void SleepWhileRunning(const std::atomic<bool> *running, int slices)
{
    for (int i = 0; i < slices && *running; ++i)
        usleep(kSleepSliceUs);
}

} // namespace

void CCameraBase::StartAutoControlThr()
{
    m_AutoCtrlThread.InitFuncPt(SetGainExpFunc);
    m_AutoCtrlThread.Start(this);
}

void CCameraBase::StopAutoControlThr()
{
    m_AutoCtrlThread.Stop();
}

void CCameraBase::SetGainExpFunc(std::atomic<bool> *running, void *arg)
{
    CCameraBase *cam = static_cast<CCameraBase *>(arg);
    // The frame period is fixed for one video run.
    const uint64_t period = uint64_t(cam->m_iFrameTimeUs) + cam->m_iTransferTimeUs;
    int wbPass = 0;
    SleepWhileRunning(running, kStartDelaySlices);
    while (*running) {
        // Longer frames are regulated by the working loop after each frame.
        const int limit = cam->m_iAutoExpLimitUs;
        if (limit > 0 && cam->m_lExposure < uint64_t(limit) && period < uint64_t(limit)) {
            // White balance settles slower than brightness: every fourth pass.
            bool whiteBalance = false;
            if (cam->Model().m_Caps.bColor && cam->m_bAutoWB) {
                whiteBalance = wbPass == 3;
                wbPass = whiteBalance ? 0 : wbPass + 1;
            }
            cam->AutoControlStep(cam->m_bAutoExp || cam->m_bAutoGain, whiteBalance);
        }
        usleep(kSleepSliceUs);
        SleepWhileRunning(running, kPassSlices - 1);
    }
    DbgPrint(LogSeverity::Info, -1, "SetGainExpFunc", "Thread SetGainExpFunc Exit!\n");
}

void CCameraBase::AutoControlStep(bool exposureAndGain, bool whiteBalance)
{
    if (m_pCirBuf == nullptr || !(exposureAndGain || whiteBalance))
        return;
    const uint8_t *frame = m_pCirBuf->LockNewest(nullptr);
    if (frame == nullptr)
        return;
    if (exposureAndGain)
        AutoExpGain(frame);
    if (whiteBalance)
        AutoWhiBal(frame);
    m_pCirBuf->UnlockNewest(frame);
}

void CCameraBase::AutoExpGain(const unsigned char *frame)
{
    RawFrame raw;
    if (!MeasurableFrame(*this, frame, raw))
        return;
    const int width = raw.width, height = raw.height;
    const bool is16 = raw.is16;
    // The legacy USB2 models send the significant byte of a 16-bit pixel first.
    const int byteOfPixel = m_Model.m_bUSB3Camera ? 1 : 0;

    // Mean of a jittered grid over the central three fifths of the frame.
    unsigned seed = SeedFromClock();
    const int left = width / 5, right = 4 * width / 5;
    const int top = height / 5, bottom = 4 * height / 5;
    int64_t sum = 0;
    int count = 0;
    for (int i = 0; i < kSampleColumns; ++i) {
        const int x = i * width / kSampleColumns + rand_r(&seed) % 2;
        if (x < left || x > right)
            continue;
        for (int j = 0; j < kSampleRows; ++j) {
            const int y = j * height / kSampleRows + rand_r(&seed) % 2;
            if (y < top || y > bottom)
                continue;
            const size_t pixel = size_t(y) * size_t(width) + size_t(x);
            sum += is16 ? frame[2 * pixel + byteOfPixel] : frame[pixel];
            ++count;
        }
    }
    // At least five pixels a side leave the middle column and row inside
    // the window, so count is never 0.
    int mean = int(sum / count) + 1;
    // Software binning sums its pixels: scale the raw mean to the output.
    if (!is16 && !raw.hardBinRun)
        mean *= raw.bin * raw.bin;
    if (raw.hardwareBin4)
        mean *= 4;
    mean = min(mean, 255);

    const int target = m_iAutoTargetBrightness;
    const int band15 = target * 15 / 100;
    const int band30 = target * 30 / 100;
    const int band45 = target * 45 / 100;
    const int gainRange = m_Model.m_Limits.iGainMax - m_Model.m_Limits.iGainMin;
    const int maxGain = m_iAutoMaxGain;
    const int64_t maxExp = int64_t(m_iAutoMaxExpMs) * 1000;
    const int64_t exposure = int64_t(m_lExposure.load());
    const int expReg = m_iExpReg;
    const bool autoExp = m_bAutoExp;
    const bool autoGain = m_bAutoGain;

    // Very short exposures (a shutter of one or two lines) change in coarse
    // steps; near the target they are left alone.
    auto inDeadBand = [&](bool dark) {
        if (expReg > 2)
            return false;
        auto within = [&](int band) { return dark ? mean > target - band : mean < target + band; };
        return within(band30) || (expReg != 2 && within(band45));
    };
    // Each gain step starts from the gain the previous step left.
    auto stepGain = [&](int delta) { return m_iGain + delta; };
    auto raiseGain = [&](int delta) { SetGain(min(maxGain, stepGain(delta)), m_bAutoGain); };
    auto lowerGainToOne = [&]() { SetGain(max(1, stepGain(-gainRange / 100)), m_bAutoGain); };
    auto raiseExposure = [&]() {
        const int64_t raised = exposure + (target - mean) * exposure / 200;
        SetExp(uint64_t(raised < maxExp ? raised : maxExp), m_bAutoExp);
    };
    auto lowerExposure = [&]() {
        SetExp(uint64_t(exposure - (mean - target) * exposure / 400), true);
    };

    if (mean < target - band15) {
        if (!autoExp) {
            raiseGain(gainRange / 50);
        } else if (autoGain) {
            raiseGain(gainRange / 100);
            if (uint64_t(exposure) > kLongExposureUs) {
                if (m_iGain == maxGain)
                    raiseExposure();
                else
                    raiseGain(gainRange / 50);
            } else {
                if (!inDeadBand(true))
                    raiseExposure();
                raiseGain(gainRange / 100);
            }
        } else if (!inDeadBand(true)) {
            raiseExposure();
        }
    } else if (mean > target + band15) {
        if (!autoExp) {
            SetGain(stepGain(-gainRange / 100), m_bAutoGain);
        } else if (uint64_t(exposure) > kLongExposureUs) {
            lowerExposure();
        } else {
            if (!inDeadBand(false))
                lowerExposure();
            if (autoGain) {
                lowerGainToOne();
                if (expReg <= 2)
                    lowerGainToOne();
            }
        }
    }

    DbgPrint(LogSeverity::Debug, -1, "AutoExpGain", "Dest:%d Mean:%d  gain:%d exp:%llu reg:0x%x\n",
             target, mean, m_iGain.load(), (unsigned long long)m_lExposure.load(),
             unsigned(m_iExpReg.load()));
}

void CCameraBase::AutoWhiBal(const unsigned char *frame)
{
    if (m_Model.m_Caps.bColor)
        AutoWB_RAW(reinterpret_cast<const unsigned short *>(frame));
}

void CCameraBase::AutoWB_RAW(const unsigned short *frame)
{
    RawFrame geometry;
    if (!MeasurableFrame(*this, frame, geometry))
        return;
    const int width = geometry.width, height = geometry.height;
    const bool is16 = geometry.is16;
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(frame);
    const int blockWidth = width / kWBBlocks, blockHeight = height / kWBBlocks;

    // Per channel (R, G, B): block averages weighted by the block's spread,
    // so flat (featureless or saturated) areas count little.
    float weighted[3] = {}, weights[3] = {};
    int firstAverage[3] = {};
    for (int j = 0; j < kWBBlocks; ++j) {
        for (int k = 0; k < kWBBlocks; ++k) {
            int deviation[3], average[3];
            m_Algorithm.Get_variance_ave_RAW(raw, k * width / kWBBlocks, j * height / kWBBlocks,
                                             blockWidth, blockHeight, width, height, deviation,
                                             average, is16);
            for (int c = 0; c < 3; ++c) {
                if (deviation[c] < 0 || average[c] < 0)
                    DbgPrint(LogSeverity::Error, -1, "AutoWB_RAW", "err0\n");
                weighted[c] += float(deviation[c] * average[c]);
                weights[c] += float(deviation[c]);
            }
            if (j == 0 && k == 0)
                for (int c = 0; c < 3; ++c)
                    firstAverage[c] = average[c];
        }
    }
    int channel[3];
    for (int c = 0; c < 3; ++c) {
        const float value =
            weights[c] == 0.0f ? float(firstAverage[c]) : weighted[c] / (weights[c] + 1.0f);
        if (!(value > 0.0f))
            DbgPrint(LogSeverity::Error, -1, "AutoWB_RAW", "err1\n");
        channel[c] = int(value);
    }
    const int red = channel[0], green = channel[1], blue = channel[2];

    if (red <= 9 && green <= 9 && blue <= 9)
        return;
    const int diffRed = 100 * std::abs(green - red), diffBlue = 100 * std::abs(green - blue);
    // While brightness is still being regulated, tolerate a wider band.
    if ((m_bAutoExp || m_bAutoGain) && diffRed <= 10 * green && diffBlue <= 10 * green)
        return;
    if (diffRed <= 4 * green && diffBlue <= 4 * green)
        return;

    // Scale each colour gain by green / colour; the smallest gains would not
    // move under integer division, so they creep up by one.
    auto balance = [green](int current, int colour) {
        int next = current * green / (colour + 1);
        if (current >= next && green > colour && current < 5)
            ++next;
        return next;
    };
    const int newRed = balance(m_iWB_R, red);
    const int newBlue = balance(m_iWB_B, blue);
    DbgPrint(LogSeverity::Debug, -1, "AutoWB_RAW", " IR:%d IB:%d\n", newRed, newBlue);
    SetRGBBalance(newRed, newBlue, m_bAutoWB);
}
