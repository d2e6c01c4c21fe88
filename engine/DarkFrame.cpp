#include "engine/DarkFrame.h"

#include <algorithm>
#include <cstring>

#include "algorithm/CAlgorithm.h"
#include "engine/PixelMapTools.h"
#include "log/DbgPrint.h"
#include "transport/CCameraFX3.h"

namespace {

// Frames averaged into a dark frame, by exposure in ms (up to and including).
struct DarkFrameRule {
    uint64_t maxExpMs;
    int frames;
};
constexpr DarkFrameRule kDarkFrameRules[] = {{100, 5}, {325, 4}, {550, 3}, {775, 2}};

int DarkFramesFor(uint64_t expMs)
{
    for (const DarkFrameRule &rule : kDarkFrameRules)
        if (expMs <= rule.maxExpMs)
            return rule.frames;
    return 1;
}

// A sized zeroed buffer on first use; false when memory is short.
bool EnsureMap(std::unique_ptr<uint8_t[]> &buffer, size_t &size, size_t count)
{
    if (buffer)
        return true;
    if (!PixelMapTools::EnsureBuffer(buffer, count))
        return false;
    size = count;
    return true;
}

std::vector<uint8_t> CopyOf(const std::unique_ptr<uint8_t[]> &buffer, size_t size)
{
    return buffer ? std::vector<uint8_t>(buffer.get(), buffer.get() + size)
                  : std::vector<uint8_t>();
}

} // namespace

DarkFrame::DarkFrame(const CCameraFX3 &device) : m_Device(device)
{
    InitializeCriticalSection(&m_csDark);
    InitializeCriticalSection(&m_csDarkAdj);
    InitializeCriticalSection(&m_csDarkList);
}

DarkFrame::~DarkFrame()
{
    DeleteCriticalSection(&m_csDark);
    DeleteCriticalSection(&m_csDarkAdj);
    DeleteCriticalSection(&m_csDarkList);
}

bool DarkFrame::Replace(const uint8_t *rows, int rowSize, int width, int height)
{
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    const size_t mapSize = size_t(width) * height;
    if (!EnsureMap(m_pDarkBuf, m_iDarkBufSize, mapSize) ||
        !EnsureMap(m_pDarkAdj, m_iDarkAdjSize, mapSize))
        return false;
    for (int y = 0; y < height; ++y)
        std::memcpy(m_pDarkBuf.get() + size_t(y) * width, rows + size_t(y) * rowSize, width);
    return true;
}

void DarkFrame::Free()
{
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    m_pDarkBuf.reset();
    m_iDarkBufSize = 0;
    m_pDarkAdj.reset();
    m_iDarkAdjSize = 0;
}

int DarkFrame::GettingDark(bool on, uint64_t expMs)
{
    SectionLock darkLock(m_csDark);
    m_iDarkFrames = DarkFramesFor(expMs);
    m_iDarkFrameCount = 0;
    m_bGettingDark = on;
    return m_iDarkFrames;
}

bool DarkFrame::AddFrame(const uint8_t *image, size_t mapSize)
{
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    if (m_iDarkFrameCount == 0) {
        if (!EnsureMap(m_pDarkBuf, m_iDarkBufSize, mapSize) ||
            !EnsureMap(m_pDarkAdj, m_iDarkAdjSize, mapSize)) {
            m_bGettingDark = false;
            return false;
        }
        std::memset(m_pDarkBuf.get(), 0, mapSize);
    }
    ++m_iDarkFrameCount;
    const int frames = std::max(1, m_iDarkFrames);
    uint8_t *dark = m_pDarkBuf.get();
    for (size_t i = 0; i < mapSize; ++i)
        dark[i] = uint8_t(std::min(255, dark[i] + image[i] / frames));
    if (m_iDarkFrameCount < frames)
        return false;
    m_iDarkFrameCount = 0;
    return true;
}

void DarkFrame::AdjustDarkBuff(const AdjustedRoi &roi, bool hwBinSums)
{
    static const char *const tag = "AdjustDarkBuff";
    const int W = roi.sensorWidth, H = roi.sensorHeight;
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    if (!m_pDarkBuf || !m_pDarkAdj || !roi.valid)
        return;
    const uint8_t *dark = m_pDarkBuf.get();
    uint8_t *adjusted = m_pDarkAdj.get();
    const int adjW = roi.adjWidth, adjH = roi.adjHeight;
    const int b = roi.binEff;
    if (roi.hardBin)
        std::memset(adjusted, 0, size_t(adjW) * adjH);
    for (int r = 0; r < roi.roiHeight; ++r) {
        const int sy = roi.startY + r;
        if (sy >= H)
            break;
        int dyList[4];
        roi.AxisOffsets(r % 2, 1, dyList);
        const int y = roi.hardBin ? roi.BinnedCoord(r, dyList[0]) : r;
        for (int c = 0; c < roi.roiWidth; ++c) {
            const int sx = roi.startX + c;
            if (sx >= W)
                break;
            const uint8_t value = dark[size_t(sy) * W + sx];
            if (!roi.hardBin) {
                adjusted[size_t(r) * adjW + c] = value;
                continue;
            }
            int dxList[4];
            roi.AxisOffsets(c % 2, 0, dxList);
            const int x = roi.BinnedCoord(c, dxList[0]);
            if (x < 0 || x >= adjW || y < 0 || y >= adjH)
                continue;
            const int add = hwBinSums ? value : value / b / b;
            uint8_t &out = adjusted[size_t(y) * adjW + x];
            out = uint8_t(std::min(255, out + add));
        }
    }
    m_iDarkAdjWidth = adjW;
    m_iDarkAdjHeight = adjH;
    const size_t count = size_t(adjW) * adjH;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += adjusted[i];
    m_iDarkAvg = int(sum / count);
    DbgPrint(LogSeverity::Debug, m_Device.GetProductID(), tag, "avarage:%d\n", m_iDarkAvg);

    std::vector<int> hot;
    for (size_t i = 0; i < count; ++i)
        if (adjusted[i] > m_iDarkAvg + kHotAboveMean)
            hot.push_back(int(i));
    const int hotCount = int(hot.size());
    {
        SectionLock listLock(m_csDarkList);
        m_DarkHotList = std::move(hot);
    }
    DbgPrint(LogSeverity::Info, m_Device.GetProductID(), tag, "Dead pixel:%d\n", hotCount);
}

void DarkFrame::SubtractDark(CAlgorithm &algorithm, uint8_t *image)
{
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    algorithm.SubtractDark(image, m_iDarkAdjWidth, m_iDarkAdjHeight, uint32_t(m_iDarkAvg),
                           m_pDarkAdj.get());
}

void DarkFrame::RepairHotPixels(uint8_t *image, bool wide, int d)
{
    // The list and the size it indexes change together.
    SectionLock adjLock(m_csDarkAdj);
    SectionLock listLock(m_csDarkList);
    const int w = m_iDarkAdjWidth, h = m_iDarkAdjHeight;
    const int count = int(m_DarkHotList.size());
    uint16_t *pixels16 = reinterpret_cast<uint16_t *>(image);
    auto pairMean = [&](int, int, int i) {
        if (wide)
            pixels16[i] = uint16_t((pixels16[i - d] + pixels16[i + d]) >> 1);
        else
            image[i] = uint8_t((image[i - d] + image[i + d]) >> 1);
    };
    if (wide)
        PixelMapTools::RepairListed(pixels16, m_DarkHotList.data(), count, w, h, d, pairMean);
    else
        PixelMapTools::RepairListed(image, m_DarkHotList.data(), count, w, h, d, pairMean);
}

std::vector<uint8_t> DarkFrame::Frame()
{
    SectionLock darkLock(m_csDark);
    return CopyOf(m_pDarkBuf, m_iDarkBufSize);
}

std::vector<uint8_t> DarkFrame::Adjusted()
{
    SectionLock adjLock(m_csDarkAdj);
    return CopyOf(m_pDarkAdj, m_iDarkAdjSize);
}

int DarkFrame::AdjustedWidth()
{
    SectionLock adjLock(m_csDarkAdj);
    return m_iDarkAdjWidth;
}

int DarkFrame::AdjustedHeight()
{
    SectionLock adjLock(m_csDarkAdj);
    return m_iDarkAdjHeight;
}

std::vector<int> DarkFrame::HotList()
{
    SectionLock listLock(m_csDarkList);
    return m_DarkHotList;
}
