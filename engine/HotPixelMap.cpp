#include "engine/HotPixelMap.h"

#include <algorithm>
#include <cstring>

#include "engine/PixelMapTools.h"
#include "log/DbgPrint.h"
#include "transport/CCameraFX3.h"
#include "transport/SectionLock.h"

namespace {

constexpr int kMaxHPCPixels = 100000;

} // namespace

HotPixelMap::HotPixelMap(const CCameraFX3 &device) : m_Device(device)
{
    InitializeCriticalSection(&m_csHPC);
}

HotPixelMap::~HotPixelMap()
{
    DeleteCriticalSection(&m_csHPC);
}

bool HotPixelMap::Allocate(size_t pixels)
{
    SectionLock hpcLock(m_csHPC);
    if (pixels > 0) {
        if (!m_pHPCTable && PixelMapTools::EnsureBuffer(m_pHPCTable, pixels))
            m_iHPCTableSize = pixels;
        PixelMapTools::EnsureBuffer(m_pHPCAdj, pixels);
    }
    return m_pHPCTable && m_pHPCAdj;
}

bool HotPixelMap::LoadHPCTable(const std::vector<uint8_t> &packed, size_t pixels,
                               const AdjustedRoi &roi, bool roundRows)
{
    // An ROI change may be adjusting the map from the table meanwhile.
    SectionLock hpcLock(m_csHPC);
    if (!m_pHPCTable)
        return false;
    uint8_t *table = m_pHPCTable.get();
    for (size_t p = 0; p < pixels; ++p)
        table[p] = p / 8 < packed.size() ? (packed[p / 8] >> (p % 8)) & 1 : 0;
    m_bHPCForce = true;
    Rebuild(roi, roundRows);
    return true;
}

bool HotPixelMap::SaveHPCTable(const uint8_t *dark, int darkMean, int threshold, size_t pixels,
                               std::vector<uint8_t> *packed)
{
    SectionLock hpcLock(m_csHPC);
    if (dark == nullptr || !m_pHPCTable)
        return false;
    uint8_t *table = m_pHPCTable.get();
    for (size_t p = 0; p < pixels; ++p)
        table[p] = dark[p] > darkMean + threshold;
    for (size_t p = 0; p < packed->size() * 8; ++p)
        (*packed)[p / 8] |= uint8_t(table[p] << (p % 8));
    m_bHPCForce = true;
    return true;
}

bool HotPixelMap::IsHPCChange(const HPCKey &key)
{
    if (m_bHPCForce || m_HPCKey.iBin != key.iBin || m_HPCKey.bHardwareBin != key.bHardwareBin ||
        m_HPCKey.iWidth != key.iWidth || m_HPCKey.iHeight != key.iHeight ||
        m_HPCKey.iStartX != key.iStartX || m_HPCKey.iStartY != key.iStartY)
        return true;
    DbgPrint(LogSeverity::Debug, m_Device.GetProductID(), "IsHPCChange", "not changed, return\n");
    return false;
}

void HotPixelMap::AdjustHPCTable(const AdjustedRoi &roi, bool roundRows)
{
    // The table, the map, the lists and the key they were built for.
    SectionLock hpcLock(m_csHPC);
    Rebuild(roi, roundRows);
}

void HotPixelMap::Rebuild(const AdjustedRoi &roi, bool roundRows)
{
    static const char *const tag = "AdjustHPCTable";
    const int level = m_Device.GetProductID();
    if (!m_pHPCTable || !m_pHPCAdj || !IsHPCChange(roi.key))
        return;
    DbgPrint(LogSeverity::Debug, level, tag, "AdjustHPCTable >\n");
    if (!roi.valid)
        return;
    const int W = roi.sensorWidth, H = roi.sensorHeight;
    const int adjW = roi.adjWidth, adjH = roi.adjHeight;
    const int b = roi.binEff;
    uint8_t *adjusted = m_pHPCAdj.get();

    std::memset(adjusted, 0, size_t(adjW) * adjH);
    for (int r = 0; r < roi.roiHeight && roi.startY + r < H; ++r) {
        const uint8_t *src = m_pHPCTable.get() + size_t(roi.startY + r) * W + roi.startX;
        const int columns = std::min(roi.roiWidth, W - roi.startX);
        if (!roi.hardBin) {
            std::memcpy(adjusted + size_t(r) * adjW, src, size_t(std::max(0, columns)));
            continue;
        }
        int dyList[4];
        const int dyCount = roi.AxisOffsets(r % 2, 1, dyList);
        for (int c = 0; c < columns; ++c) {
            if (!src[c])
                continue;
            int dxList[4];
            const int dxCount = roi.AxisOffsets(c % 2, 0, dxList);
            for (int iy = 0; iy < dyCount; ++iy) {
                for (int ix = 0; ix < dxCount; ++ix) {
                    int x, y;
                    if (roundRows) {
                        y = int(2.0 * r / (2 * b) + 0.5) + dyList[iy];
                        x = int(2.0 * c / (2 * b)) + dxList[ix];
                    } else {
                        y = roi.BinnedCoord(r, dyList[iy]);
                        x = roi.BinnedCoord(c, dxList[ix]);
                    }
                    if (x >= 0 && x < adjW && y >= 0 && y < adjH)
                        adjusted[size_t(y) * adjW + x] = 1;
                }
            }
        }
    }

    // Rows with at least half their pixels hot are replaced whole.
    if (m_pHPCBadRows)
        std::fill(m_pHPCBadRows.get(), m_pHPCBadRows.get() + H, 0);
    for (int y = 0; y < adjH; ++y) {
        uint8_t *row = adjusted + size_t(y) * adjW;
        const int marked = int(std::count(row, row + adjW, 1));
        if (2 * marked < adjW)
            continue;
        if (!PixelMapTools::EnsureBuffer(m_pHPCBadRows, size_t(H)))
            break;
        m_pHPCBadRows[y] = 1;
        std::memset(row, 0, size_t(adjW));
    }

    std::vector<int> hot;
    const size_t count = size_t(adjW) * adjH;
    for (size_t i = 0; i < count; ++i) {
        if (!adjusted[i])
            continue;
        if (hot.size() == size_t(kMaxHPCPixels)) {
            DbgPrint(LogSeverity::Warning, level, tag, "HPC number over %d, quit!\n",
                     kMaxHPCPixels);
            break;
        }
        hot.push_back(int(i));
    }
    m_HPCList = std::move(hot);
    m_iHPCAdjWidth = adjW;
    m_iHPCAdjHeight = adjH;
    DbgPrint(LogSeverity::Info, level, tag, "HPC Dead pixel:%d\n", int(m_HPCList.size()));
    m_bHPCForce = false;
    m_HPCKey = roi.key;
}

void HotPixelMap::HandleHotPixels(uint8_t *image, bool wide, int d, uint16_t mask)
{
    SectionLock hpcLock(m_csHPC);
    uint16_t *pixels16 = reinterpret_cast<uint16_t *>(image);
    const int w = m_iHPCAdjWidth, h = m_iHPCAdjHeight;
    const int count = int(m_HPCList.size());
    auto interior = [&](int x, int y, int i) {
        // Called by RepairListed within this scope.
        m_csHPC.AssertHeld();
        DeNoiseHPC(image, wide, d, x, y, i);
        if (wide)
            pixels16[i] &= mask;
    };
    if (wide)
        PixelMapTools::RepairListed(pixels16, m_HPCList.data(), count, w, h, d, interior);
    else
        PixelMapTools::RepairListed(image, m_HPCList.data(), count, w, h, d, interior);
    if (m_pHPCBadRows) {
        if (wide)
            PixelMapTools::RepairBadRows(pixels16, m_pHPCBadRows.get(), w, h, d);
        else
            PixelMapTools::RepairBadRows(image, m_pHPCBadRows.get(), w, h, d);
    }
}

bool HotPixelMap::DeNoiseHPC(uint8_t *image, bool wide, int d, int x, int y, int index)
{
    if (!m_pHPCAdj || image == nullptr)
        return false;
    const int w = m_iHPCAdjWidth, h = m_iHPCAdjHeight;
    if (x < 0 || x >= w || y < 0 || y >= h || index != y * w + x)
        return false;
    if (wide)
        PixelMapTools::DeNoisePixel(reinterpret_cast<uint16_t *>(image), m_pHPCAdj.get(), w, h, d,
                                    x, y, index);
    else
        PixelMapTools::DeNoisePixel(image, m_pHPCAdj.get(), w, h, d, x, y, index);
    return true;
}

void HotPixelMap::MarkHot(size_t pixel, bool hot)
{
    SectionLock hpcLock(m_csHPC);
    if (m_pHPCTable && pixel < m_iHPCTableSize)
        m_pHPCTable[pixel] = hot ? 1 : 0;
}

void HotPixelMap::ForceRebuild()
{
    SectionLock hpcLock(m_csHPC);
    m_bHPCForce = true;
}

std::vector<int> HotPixelMap::HotList()
{
    SectionLock hpcLock(m_csHPC);
    return m_HPCList;
}
