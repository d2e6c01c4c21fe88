// Dark frames, hot pixels, the camera's flash areas (hot-pixel image, user ID
// page), the serial number and the time stamp of CCameraBase.
//
// Lock order: dark lock, then adjusted-dark lock, then dark-list lock. The HPC
// lock is never held together with the others.
#include "engine/CCameraBase.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "transport/FX3Protocol.h"
#include "transport/SectionLock.h"

namespace {

constexpr uint32_t kHPCArea = 0x40000;
constexpr uint32_t kHPCFirstSector = 4;
constexpr uint32_t kHPCMaxLength = 0x30000;
constexpr uint32_t kFlashSectorSize = 0x10000;
constexpr uint32_t kFlashPageSize = 2048;
constexpr uint32_t kFlashChunk = 256;
constexpr uint32_t kIDPage = 0x70000;
constexpr uint32_t kIDSector = 7;
constexpr int kIDPageSize = 256;
constexpr int kFlashAttempts = 3;

constexpr int kBmpFileHeaderSize = 14;
constexpr int kBmpInfoHeaderSize = 40;
constexpr int kBmpPaletteSize = 1024;
constexpr int kBmpPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpPaletteSize;

// A pixel this far above the dark mean is hot.
constexpr int kHotAboveMean = 30;
constexpr int kMaxHPCPixels = 100000;
constexpr int kSensorTableRowBytes = 16;
constexpr int8_t kNoOffset = 127;

// Frames averaged into a dark frame, by exposure in ms (up to and including).
struct DarkFrameRule {
    uint64_t maxExpMs;
    int frames;
};
constexpr DarkFrameRule kDarkFrameRules[] = {{100, 5}, {325, 4}, {550, 3}, {775, 2}};

// 8 x 16 glyphs of the time stamp: byte r is row r, bit k column k.
constexpr char kGlyphChars[] = "0123456789:";
constexpr uint8_t kGlyphs[11][16] = {
    {0x00, 0x00, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x1E, 0x18, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0xFE, 0xC6, 0x0C, 0x18, 0x30, 0x60, 0x60, 0xC6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x3C, 0x66, 0xC6, 0xC0, 0xC0, 0x60, 0x38, 0x60, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0xF8, 0x60, 0x60, 0xFE, 0x66, 0x66, 0x6C, 0x6C, 0x78, 0x70, 0x60, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x3C, 0x66, 0xC6, 0xC0, 0xC0, 0x6E, 0x3E, 0x06, 0x06, 0x06, 0xFE, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0x6E, 0x3E, 0x06, 0x06, 0x6C, 0x78, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x30, 0x30, 0x66, 0x66, 0xFE, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x7C, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x6C, 0xC6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x3C, 0x6C, 0xC0, 0xC0, 0xF8, 0xEC, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x38, 0x38, 0x00, 0x00, 0x00, 0x00, 0x38, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
};
constexpr int kStampTop = 7;
constexpr int kStampDateLeft = 200; // columns from the right edge
constexpr int kStampTimeLeft = 128;
constexpr int kStampBackgroundWidth = 128;
constexpr int kGlyphWidth = 8;
constexpr int kGlyphHeight = 16;

uint32_t LittleEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t LittleEndian16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void PutLittleEndian32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint32_t BigEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void PutBigEndian32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

// Bytes of one bitmap row of `width` 8-bit pixels, padded to 4.
int BmpRowSize(int width)
{
    return ((width * 8 + 31) & ~31) / 8;
}

uint32_t RoundUp(uint32_t value, uint32_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// Switches the FX3's 32-bit GPIF data bus off while the flash is used.
class FlashAccess {
public:
    explicit FlashAccess(CCameraFX3 &camera) : m_camera(camera) { m_camera.EnableGPIF32DQ(false); }
    ~FlashAccess() { m_camera.EnableGPIF32DQ(true); }
    FlashAccess(const FlashAccess &) = delete;
    FlashAccess &operator=(const FlashAccess &) = delete;

private:
    CCameraFX3 &m_camera;
};

// The current ROI in sensor pixels and the geometry of the maps adjusted to
// it: the sensor ROI, or the hardware-binned output.
struct AdjustedRoi {
    int startX, startY;
    int roiWidth, roiHeight;
    int binEff; // 2 for hardware bin 4 (the rest is binned in software)
    bool hardBin;
    int adjWidth, adjHeight;
    const int8_t *sensorRow; // the offset table row of the bin, or null
};

bool CurrentRoi(CCameraBase &camera, AdjustedRoi *roi)
{
    const int bin = camera.m_iBin;
    const int width = camera.m_iWidth, height = camera.m_iHeight;
    roi->startX = camera.m_iStartX;
    roi->startY = camera.m_iStartY;
    roi->roiWidth = width * bin;
    roi->roiHeight = height * bin;
    roi->binEff = camera.m_bHardwareBin && bin == 4 ? 2 : bin;
    roi->hardBin = camera.IsHardBinRun();
    const int outFactor = bin == 4 ? 2 : 1;
    roi->adjWidth = roi->hardBin ? width * outFactor : roi->roiWidth;
    roi->adjHeight = roi->hardBin ? height * outFactor : roi->roiHeight;
    roi->sensorRow = bin >= 0 && bin < 5 ? camera.m_pSensorTable + bin * kSensorTableRowBytes
                                         : nullptr;
    return bin >= 1 && roi->adjWidth > 0 && roi->adjHeight > 0 && roi->startX >= 0 &&
           roi->startY >= 0 && roi->adjWidth <= camera.m_iMaxWidth &&
           roi->adjHeight <= camera.m_iMaxHeight;
}

// Offsets of one axis (0 = x, 1 = y) for a pixel of the given parity: the
// pair at index parity, then parity + 2, + 4, + 6. 127 ends the walk, except
// in the first pair, where it means no offset.
int AxisOffsets(const int8_t *row, int parity, int axis, int offsets[4])
{
    int count = 0;
    for (int index = parity; index < 8; index += 2) {
        const int8_t value = row ? row[2 * index + axis] : kNoOffset;
        if (value == kNoOffset) {
            if (index != parity)
                break;
            offsets[count++] = 0;
        } else {
            offsets[count++] = value;
        }
    }
    return count;
}

// Position of sensor column (or row) c in the hardware-binned output: blocks
// of 2 x binEff sensor pixels give two output pixels of the two phases.
int BinnedCoord(int c, int offset, int binEff)
{
    return (c + offset) / (2 * binEff) * 2 + c % 2;
}

// Allocates a zeroed buffer on first use; false when memory is short.
template <typename T>
bool EnsureBuffer(T *&buffer, size_t count)
{
    if (buffer == nullptr)
        buffer = new (std::nothrow) T[count]();
    return buffer != nullptr;
}

// An owned copy of an index list (never empty, so that it exists), or null.
int *NewIndexList(const std::vector<int> &indices)
{
    int *list = new (std::nothrow) int[indices.size() + 1];
    if (list)
        std::copy(indices.begin(), indices.end(), list);
    return list;
}

int DarkFramesFor(uint64_t expMs)
{
    for (const DarkFrameRule &rule : kDarkFrameRules)
        if (expMs <= rule.maxExpMs)
            return rule.frames;
    return 1;
}

// Integer mean of the same-colour neighbours of pixel (x, y) = index that are
// inside the frame and either not hot or already repaired (index not above).
template <typename Pixel>
void DeNoisePixel(Pixel *pixels, const uint8_t *hotMap, int width, int height, int d, int x,
                  int y, int index)
{
    const int neighbours[4][2] = {{x, y - d}, {x - d, y}, {x + d, y}, {x, y + d}};
    int sum = 0, count = 0;
    for (const auto &n : neighbours) {
        if (n[0] < 0 || n[0] >= width || n[1] < 0 || n[1] >= height)
            continue;
        const int ni = n[1] * width + n[0];
        if (hotMap[ni] && ni > index)
            continue;
        sum += pixels[ni];
        ++count;
    }
    pixels[index] = count ? Pixel(sum / count) : pixels[index - 1];
}

// Replaces each listed pixel from its same-colour neighbours at distance d:
// from the right / below at the top and left edges, from the left at the
// bottom and right edges, otherwise the pair mean (or the interior repair).
template <typename Pixel, typename Interior>
void RepairListed(Pixel *pixels, const int *list, int count, int width, int height, int d,
                  Interior interior)
{
    const int total = width * height;
    for (int n = 0; n < count; ++n) {
        const int i = list[n];
        if (i < 0 || i >= total)
            continue;
        const int x = i % width, y = i / width;
        if (x < d || y < d) {
            if (i + d < total)
                pixels[i] = pixels[i + d];
        } else if (x >= width - d || y >= height - d) {
            pixels[i] = pixels[i - d];
        } else {
            interior(x, y, i);
        }
    }
}

// Rows flagged bad take the mean of the nearest good rows d, 2d, ... above and
// below, or a copy of the one that exists.
template <typename Pixel>
void RepairBadRows(Pixel *pixels, const int *badRows, int width, int height, int d)
{
    for (int y = 0; y < height; ++y) {
        if (!badRows[y])
            continue;
        int above = y - d, below = y + d;
        while (above >= 0 && badRows[above])
            above -= d;
        while (below < height && badRows[below])
            below += d;
        Pixel *row = pixels + size_t(y) * width;
        const Pixel *a = above >= 0 ? pixels + size_t(above) * width : nullptr;
        const Pixel *b = below < height ? pixels + size_t(below) * width : nullptr;
        if (a && b) {
            for (int x = 0; x < width; ++x)
                row[x] = Pixel((a[x] + b[x]) >> 1);
        } else if (a || b) {
            std::memmove(row, a ? a : b, size_t(width) * sizeof(Pixel));
        }
    }
}

} // namespace

// ---- Dark frame ----

int CCameraBase::LoadBMPFromFile(char *path)
{
    static const char *const tag = "LoadBMPFromFile";
    FILE *file = path ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        UsingDark(false);
        DbgPrint2(LogSeverity::Error, tag, "Open file %s failed!\n", path ? path : "(null)");
        return 6;
    }
    struct FileCloser {
        FILE *f;
        ~FileCloser() { std::fclose(f); }
    } closer{file};

    const int W = m_iMaxWidth, H = m_iMaxHeight;
    uint8_t fileHeader[kBmpFileHeaderSize];
    uint8_t info[kBmpInfoHeaderSize];
    DbgPrint2(LogSeverity::Debug, tag, "bmpheader size=%d\n", kBmpFileHeaderSize);
    if (std::fread(fileHeader, 1, sizeof fileHeader, file) != sizeof fileHeader) {
        DbgPrint2(LogSeverity::Error, tag, "Read bmp header failed!\n");
        return 0;
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        DbgPrint2(LogSeverity::Error, tag, "bmp header err\n");
        return 0;
    }
    DbgPrint2(LogSeverity::Debug, tag, "bmpinfo size=%d\n", kBmpInfoHeaderSize);
    if (std::fread(info, 1, sizeof info, file) != sizeof info) {
        DbgPrint2(LogSeverity::Error, tag, "Read bmp information failed!\n");
        return 0;
    }
    const int32_t bmpWidth = int32_t(LittleEndian32(info + 4));
    const int32_t bmpHeight = int32_t(LittleEndian32(info + 8));
    if (bmpWidth != W || W <= 0 || H <= 0) {
        DbgPrint2(LogSeverity::Error, tag, "bmp width err: iMaxWidth=%d Wbmp=%d\n", W,
                  int(bmpWidth));
        return 7;
    }
    // A top-down bitmap (negative height) lands here too.
    if (bmpHeight != H) {
        DbgPrint2(LogSeverity::Error, tag, "bmp height err\n");
        return 7;
    }
    if (LittleEndian16(info + 14) != 8) {
        DbgPrint2(LogSeverity::Error, tag, "bmp biBitCount err\n");
        return 0;
    }
    if (LittleEndian32(info + 16) != 0) {
        DbgPrint2(LogSeverity::Error, tag, "bmp compression err\n");
        return 0;
    }

    // The whole pixel block must lie inside the file; it is read aside first
    // so that a failure leaves the current dark frame as it was.
    struct stat st {};
    const uint32_t dataOffset = LittleEndian32(fileHeader + 10);
    if (fstat(fileno(file), &st) != 0 || dataOffset < kBmpFileHeaderSize + kBmpInfoHeaderSize ||
        int64_t(dataOffset) > int64_t(st.st_size)) {
        DbgPrint2(LogSeverity::Error, tag, "bmp data offset err\n");
        return 0;
    }
    const int rowSize = BmpRowSize(W);
    const size_t blockSize = size_t(rowSize) * (H - 1) + W; // last row may lack padding
    std::vector<uint8_t> block(blockSize);
    if (int64_t(dataOffset) + int64_t(blockSize) > int64_t(st.st_size) ||
        std::fseek(file, long(dataOffset), SEEK_SET) != 0 ||
        std::fread(block.data(), 1, blockSize, file) != blockSize) {
        DbgPrint2(LogSeverity::Error, tag, "bmp data size err\n");
        return 7;
    }

    {
        SectionLock darkLock(m_csDark);
        SectionLock adjLock(m_csDarkAdj);
        const size_t mapSize = size_t(W) * H;
        if (!EnsureBuffer(m_pDarkBuf, mapSize) || !EnsureBuffer(m_pDarkAdj, mapSize))
            return 0;
        for (int y = 0; y < H; ++y)
            std::memcpy(m_pDarkBuf + size_t(y) * W, block.data() + size_t(y) * rowSize, W);
    }
    AdjustDarkBuff();
    UsingDark(true);
    if (path != m_szBMPPath)
        std::snprintf(m_szBMPPath, sizeof m_szBMPPath, "%s", path);
    DbgPrint2(LogSeverity::Info, tag, "Open file %s --> succeed!\n", path);
    return 1;
}

bool CCameraBase::CreateBMP(int width, int height, unsigned char *data, char *path)
{
    if (data == nullptr || path == nullptr || width <= 0 || height <= 0)
        return false;
    const int rowSize = BmpRowSize(width);
    const uint32_t imageSize = uint32_t(height) * rowSize;

    uint8_t header[kBmpPixelOffset] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian32(header + 2, imageSize + kBmpPixelOffset);
    PutLittleEndian32(header + 10, kBmpPixelOffset);
    uint8_t *info = header + kBmpFileHeaderSize;
    PutLittleEndian32(info, kBmpInfoHeaderSize);
    PutLittleEndian32(info + 4, uint32_t(width));
    PutLittleEndian32(info + 8, uint32_t(height));
    info[12] = 1; // planes
    info[14] = 8; // bits per pixel
    PutLittleEndian32(info + 20, imageSize);
    uint8_t *palette = info + kBmpInfoHeaderSize;
    for (int i = 0; i < 256; ++i)
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = uint8_t(i);

    // Rows in buffer order, each padded to its row size.
    std::vector<uint8_t> pixels(imageSize, 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(pixels.data() + size_t(y) * rowSize, data + size_t(y) * width, width);

    FILE *file = std::fopen(path, "wb+");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                         std::fwrite(pixels.data(), 1, imageSize, file) == imageSize;
    return std::fclose(file) == 0 && written;
}

bool CCameraBase::SaveBMPToFile(char *path)
{
    {
        SectionLock darkLock(m_csDark);
        if (!CreateBMP(m_iMaxWidth, m_iMaxHeight, m_pDarkBuf, path))
            return false;
    }
    if (path != m_szBMPPath)
        std::snprintf(m_szBMPPath, sizeof m_szBMPPath, "%s", path);
    DbgPrint2(LogSeverity::Info, "SaveBMPToFile", "Save file %s --> succeed!\n", path);
    return true;
}

void CCameraBase::UsingDark(bool on)
{
    m_bCutDark = on;
    if (on)
        return;
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    delete[] m_pDarkBuf;
    m_pDarkBuf = nullptr;
    delete[] m_pDarkAdj;
    m_pDarkAdj = nullptr;
}

int CCameraBase::GettingDark(bool on, unsigned long long)
{
    SectionLock darkLock(m_csDark);
    m_iDarkFrames = DarkFramesFor(m_lExposure / 1000);
    m_iDarkFrameCount = 0;
    m_bGettingDark = on;
    return m_iDarkFrames;
}

void CCameraBase::DoGetDark(uint8_t *image)
{
    if (!m_bGettingDark || image == nullptr)
        return;
    const size_t mapSize = size_t(m_iMaxWidth) * m_iMaxHeight;
    {
        SectionLock darkLock(m_csDark);
        SectionLock adjLock(m_csDarkAdj);
        if (m_iDarkFrameCount == 0) {
            if (!EnsureBuffer(m_pDarkBuf, mapSize) || !EnsureBuffer(m_pDarkAdj, mapSize)) {
                m_bGettingDark = false;
                return;
            }
            std::memset(m_pDarkBuf, 0, mapSize);
        }
        ++m_iDarkFrameCount;
        const int frames = std::max(1, m_iDarkFrames);
        for (size_t i = 0; i < mapSize; ++i)
            m_pDarkBuf[i] = uint8_t(std::min(255, m_pDarkBuf[i] + image[i] / frames));
        if (m_iDarkFrameCount < frames)
            return;
        m_iDarkFrameCount = 0;
    }
    AdjustDarkBuff();
    m_bGettingDark = false;
}

void CCameraBase::AdjustDarkBuff()
{
    static const char *const tag = "AdjustDarkBuff";
    AdjustedRoi roi;
    const int W = m_iMaxWidth, H = m_iMaxHeight;
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    if (m_pDarkBuf == nullptr || m_pDarkAdj == nullptr || !CurrentRoi(*this, &roi))
        return;
    const int adjW = roi.adjWidth, adjH = roi.adjHeight;
    const int b = roi.binEff;
    if (roi.hardBin)
        std::memset(m_pDarkAdj, 0, size_t(adjW) * adjH);
    for (int r = 0; r < roi.roiHeight; ++r) {
        const int sy = roi.startY + r;
        if (sy >= H)
            break;
        int dyList[4];
        AxisOffsets(roi.sensorRow, r % 2, 1, dyList);
        const int y = roi.hardBin ? BinnedCoord(r, dyList[0], b) : r;
        for (int c = 0; c < roi.roiWidth; ++c) {
            const int sx = roi.startX + c;
            if (sx >= W)
                break;
            const uint8_t value = m_pDarkBuf[size_t(sy) * W + sx];
            if (!roi.hardBin) {
                m_pDarkAdj[size_t(r) * adjW + c] = value;
                continue;
            }
            int dxList[4];
            AxisOffsets(roi.sensorRow, c % 2, 0, dxList);
            const int x = BinnedCoord(c, dxList[0], b);
            if (x < 0 || x >= adjW || y < 0 || y >= adjH)
                continue;
            const int add = m_bHWBinSums ? value : value / b / b;
            uint8_t &out = m_pDarkAdj[size_t(y) * adjW + x];
            out = uint8_t(std::min(255, out + add));
        }
    }
    m_iDarkAdjWidth = adjW;
    m_iDarkAdjHeight = adjH;
    const size_t count = size_t(adjW) * adjH;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += m_pDarkAdj[i];
    m_iDarkAvg = int(sum / count);
    DbgPrint2(LogSeverity::Debug, tag, "avarage:%d\n", m_iDarkAvg);

    std::vector<int> hot;
    for (size_t i = 0; i < count; ++i)
        if (m_pDarkAdj[i] > m_iDarkAvg + kHotAboveMean)
            hot.push_back(int(i));
    int *list = NewIndexList(hot);
    {
        SectionLock listLock(m_csDarkList);
        delete[] m_pDarkHotList;
        m_pDarkHotList = list;
        m_iDarkHotCount = list ? int(hot.size()) : 0;
    }
    DbgPrint2(LogSeverity::Info, tag, "Dead pixel:%d\n", int(hot.size()));
}

void CCameraBase::SubtractDark(uint8_t *image)
{
    if (!m_bCutDark || (m_bAutoExp && m_lExposure < 500000))
        return;
    SectionLock darkLock(m_csDark);
    SectionLock adjLock(m_csDarkAdj);
    m_Algorithm.SubtractDark(image, m_iDarkAdjWidth, m_iDarkAdjHeight, uint32_t(m_iDarkAvg),
                             m_pDarkAdj);
}

// ---- Hot pixels ----

bool CCameraBase::SetHPCStates(bool on)
{
    m_bHPC = on;
    if (!on)
        return true;
    if (LoadHPCTable()) {
        DbgPrint2(LogSeverity::Info, "SetHPCStates", "Load HPC table success\n");
        return true;
    }
    DbgPrint2(LogSeverity::Error, "SetHPCStates", "Load HPC table error\n");
    m_bHPC = false;
    return false;
}

bool CCameraBase::LoadHPCTable()
{
    const size_t pixels = size_t(m_iMaxWidth) * m_iMaxHeight;
    std::vector<uint8_t> packed(pixels / 8);
    if (!ReadFromFLAHAndUnCompress(packed.data(), unsigned(packed.size()), true))
        return false;
    // An ROI change may be adjusting the map from the table meanwhile.
    SectionLock hpcLock(m_csHPC);
    if (m_pHPCTable == nullptr)
        return false;
    for (size_t p = 0; p < pixels; ++p)
        m_pHPCTable[p] = p / 8 < packed.size() ? (packed[p / 8] >> (p % 8)) & 1 : 0;
    m_bHPCForce = true;
    AdjustHPCTable();
    return true;
}

bool CCameraBase::SaveHPCTable()
{
    const size_t pixels = size_t(m_iMaxWidth) * m_iMaxHeight;
    std::vector<uint8_t> packed(pixels / 8, 0);
    {
        SectionLock darkLock(m_csDark);
        SectionLock adjLock(m_csDarkAdj);
        SectionLock hpcLock(m_csHPC);
        if (m_pDarkBuf == nullptr || m_pHPCTable == nullptr)
            return false;
        for (size_t p = 0; p < pixels; ++p)
            m_pHPCTable[p] = m_pDarkBuf[p] > m_iDarkAvg + kHotAboveMean;
        for (size_t p = 0; p < packed.size() * 8; ++p)
            packed[p / 8] |= uint8_t(m_pHPCTable[p] << (p % 8));
        m_bHPCForce = true;
    }
    return CompressAndWriteIntoFLASH(packed.data(), unsigned(packed.size()), true);
}

bool CCameraBase::IsHPCChange()
{
    if (m_bHPCForce || m_HPCKey.iBin != m_iBin || m_HPCKey.bHardwareBin != m_bHardwareBin ||
        m_HPCKey.iWidth != m_iWidth || m_HPCKey.iHeight != m_iHeight ||
        m_HPCKey.iStartX != m_iStartX || m_HPCKey.iStartY != m_iStartY)
        return true;
    DbgPrint2(LogSeverity::Debug, "IsHPCChange", "not changed, return\n");
    return false;
}

void CCameraBase::AdjustHPCTable()
{
    static const char *const tag = "AdjustHPCTable";
    // The table, the map, the lists and the key they were built for.
    SectionLock hpcLock(m_csHPC);
    if (m_pHPCTable == nullptr || m_pHPCAdj == nullptr || !IsHPCChange())
        return;
    DbgPrint2(LogSeverity::Debug, tag, "AdjustHPCTable >\n");
    AdjustedRoi roi;
    if (!CurrentRoi(*this, &roi))
        return;
    const int W = m_iMaxWidth, H = m_iMaxHeight;
    const int adjW = roi.adjWidth, adjH = roi.adjHeight;
    const int b = roi.binEff;

    std::memset(m_pHPCAdj, 0, size_t(adjW) * adjH);
    for (int r = 0; r < roi.roiHeight && roi.startY + r < H; ++r) {
        const uint8_t *src = m_pHPCTable + size_t(roi.startY + r) * W + roi.startX;
        const int columns = std::min(roi.roiWidth, W - roi.startX);
        if (!roi.hardBin) {
            std::memcpy(m_pHPCAdj + size_t(r) * adjW, src, size_t(std::max(0, columns)));
            continue;
        }
        int dyList[4];
        const int dyCount = AxisOffsets(roi.sensorRow, r % 2, 1, dyList);
        for (int c = 0; c < columns; ++c) {
            if (!src[c])
                continue;
            int dxList[4];
            const int dxCount = AxisOffsets(roi.sensorRow, c % 2, 0, dxList);
            for (int iy = 0; iy < dyCount; ++iy) {
                for (int ix = 0; ix < dxCount; ++ix) {
                    int x, y;
                    if (m_bHPCRoundRows) {
                        y = int(2.0 * r / (2 * b) + 0.5) + dyList[iy];
                        x = int(2.0 * c / (2 * b)) + dxList[ix];
                    } else {
                        y = BinnedCoord(r, dyList[iy], b);
                        x = BinnedCoord(c, dxList[ix], b);
                    }
                    if (x >= 0 && x < adjW && y >= 0 && y < adjH)
                        m_pHPCAdj[size_t(y) * adjW + x] = 1;
                }
            }
        }
    }

    // Rows with at least half their pixels hot are replaced whole.
    if (m_pHPCBadRows)
        std::fill(m_pHPCBadRows, m_pHPCBadRows + H, 0);
    for (int y = 0; y < adjH; ++y) {
        uint8_t *row = m_pHPCAdj + size_t(y) * adjW;
        const int marked = int(std::count(row, row + adjW, 1));
        if (2 * marked < adjW)
            continue;
        if (!EnsureBuffer(m_pHPCBadRows, size_t(H)))
            break;
        m_pHPCBadRows[y] = 1;
        std::memset(row, 0, size_t(adjW));
    }

    std::vector<int> hot;
    const size_t count = size_t(adjW) * adjH;
    for (size_t i = 0; i < count; ++i) {
        if (!m_pHPCAdj[i])
            continue;
        if (hot.size() == size_t(kMaxHPCPixels)) {
            DbgPrint2(LogSeverity::Warning, tag, "HPC number over %d, quit!\n", kMaxHPCPixels);
            break;
        }
        hot.push_back(int(i));
    }
    delete[] m_pHPCList;
    m_pHPCList = NewIndexList(hot);
    m_iHPCCount = m_pHPCList ? int(hot.size()) : 0;
    m_iHPCAdjWidth = adjW;
    m_iHPCAdjHeight = adjH;
    DbgPrint2(LogSeverity::Info, tag, "HPC Dead pixel:%d\n", m_iHPCCount);
    m_bHPCForce = false;
    m_HPCKey = HPCKey{m_iBin, m_bHardwareBin, m_iWidth, m_iHeight, m_iStartX, m_iStartY};
}

void CCameraBase::HandleHotPixels(uint8_t *image)
{
    if (image == nullptr)
        return;
    const int d = m_Caps.bColor ? 2 : 1;
    const bool wide = m_b16Bit;
    uint16_t *pixels16 = reinterpret_cast<uint16_t *>(image);
    if (m_bHPC) {
        SectionLock hpcLock(m_csHPC);
        const int w = m_iHPCAdjWidth, h = m_iHPCAdjHeight;
        if (m_pHPCList) {
            // Frames of 12- or 14-bit sensors keep their unused low bits clear.
            const uint16_t mask = m_iBitDepth == 16 ? 0xFFFF : m_iBitDepth == 14 ? 0xFFFC : 0xFFF0;
            auto interior = [&](int x, int y, int i) {
                // Called by RepairListed within this scope.
                m_csHPC.AssertHeld();
                DeNoiseHPC(image, x, y, i);
                if (wide)
                    pixels16[i] &= mask;
            };
            if (wide)
                RepairListed(pixels16, m_pHPCList, m_iHPCCount, w, h, d, interior);
            else
                RepairListed(image, m_pHPCList, m_iHPCCount, w, h, d, interior);
        }
        if (m_pHPCBadRows) {
            if (wide)
                RepairBadRows(pixels16, m_pHPCBadRows, w, h, d);
            else
                RepairBadRows(image, m_pHPCBadRows, w, h, d);
        }
    }
    if (m_bCutDark) {
        // The list and the size it indexes change together.
        SectionLock adjLock(m_csDarkAdj);
        SectionLock listLock(m_csDarkList);
        if (m_pDarkHotList == nullptr)
            return;
        const int w = m_iDarkAdjWidth, h = m_iDarkAdjHeight;
        auto pairMean = [&](int, int, int i) {
            if (wide)
                pixels16[i] = uint16_t((pixels16[i - d] + pixels16[i + d]) >> 1);
            else
                image[i] = uint8_t((image[i - d] + image[i + d]) >> 1);
        };
        if (wide)
            RepairListed(pixels16, m_pDarkHotList, m_iDarkHotCount, w, h, d, pairMean);
        else
            RepairListed(image, m_pDarkHotList, m_iDarkHotCount, w, h, d, pairMean);
    }
}

bool CCameraBase::DeNoiseHPC(uint8_t *image, int x, int y, int index)
{
    if (m_pHPCAdj == nullptr || image == nullptr)
        return false;
    const int d = m_Caps.bColor ? 2 : 1;
    const int w = m_iHPCAdjWidth, h = m_iHPCAdjHeight;
    if (x < 0 || x >= w || y < 0 || y >= h || index != y * w + x)
        return false;
    if (m_b16Bit)
        DeNoisePixel(reinterpret_cast<uint16_t *>(image), m_pHPCAdj, w, h, d, x, y, index);
    else
        DeNoisePixel(image, m_pHPCAdj, w, h, d, x, y, index);
    return true;
}

// ---- Hot-pixel image in flash ----

unsigned char *CCameraBase::Compress(unsigned char *data, int size, int *outLength, bool compressed)
{
    if (data == nullptr || size < 0)
        return nullptr;
    const size_t n = size_t(size);
    uint8_t *out;
    size_t length;
    if (compressed) {
        // Room for every byte as a pair plus the block ends: nothing is dropped.
        out = new (std::nothrow) uint8_t[8 + 2 * n + 2 * (n / 256) + 2]();
        if (out == nullptr)
            return nullptr;
        std::memcpy(out, "ORUD", 4);
        length = 8;
        for (size_t i = 0; i < n; ++i) {
            const size_t offset = i % 256;
            if (data[i] != 0) {
                out[length++] = uint8_t((offset % 16) * 16 + offset / 16);
                out[length++] = data[i];
            }
            if (offset == 255 && i + 1 < n) {
                out[length++] = 0;
                out[length++] = 0;
            }
        }
    } else {
        out = new (std::nothrow) uint8_t[n + 8];
        if (out == nullptr)
            return nullptr;
        std::memcpy(out, "ORUG", 4);
        std::memcpy(out + 8, data, n);
        length = n + 8;
    }
    PutBigEndian32(out + 4, uint32_t(length));
    if (outLength)
        *outLength = int(length);
    return out;
}

unsigned char *CCameraBase::Uncompress(unsigned char *image, int length, bool compressed)
{
    if (image == nullptr || length < 0)
        return nullptr;
    if (!compressed) {
        if (length < 8)
            return nullptr;
        uint8_t *out = new (std::nothrow) uint8_t[length - 8 + 1];
        if (out)
            std::memcpy(out, image + 8, size_t(length) - 8);
        return out;
    }
    const int64_t mapSize = int64_t(m_iMaxWidth) * m_iMaxHeight / 8;
    uint8_t *map = new (std::nothrow) uint8_t[mapSize + 1]();
    if (map == nullptr)
        return nullptr;
    int64_t base = 0;
    for (int pos = 8; pos + 1 < length; pos += 2) {
        const uint8_t position = image[pos], value = image[pos + 1];
        if (position == 0 && value == 0) {
            base += 256;
            continue;
        }
        const int64_t target = base + position / 16 + 16 * (position % 16);
        if (target >= mapSize) {
            DbgPrint2(LogSeverity::Error, "Uncompress", "Uncompress over flow,block%d,x%d,y%d\n",
                      int(base / 256), position / 16, position % 16);
            delete[] map;
            return nullptr;
        }
        map[target] = value;
    }
    return map;
}

bool CCameraBase::CompressAndWriteIntoFLASH(unsigned char *data, unsigned int size, bool compressed)
{
    static const char *const tag = "CompressAndWriteIntoFLASH";
    if (data == nullptr || size > 0x7FFFFFFFu)
        return false;
    int length = 0;
    std::unique_ptr<uint8_t[]> image(Compress(data, int(size), &length, compressed));
    if (!image)
        return false;
    DbgPrint2(LogSeverity::Debug, tag, "SaveHPC: Compressed length: %d :\n", length);
    FlashAccess access(*this);
    if (uint32_t(length) > kHPCMaxLength) {
        DbgPrint2(LogSeverity::Error, tag, "SaveHPC: Compressed length too big\n");
        return false;
    }
    const uint32_t sectors = RoundUp(uint32_t(length), kFlashSectorSize) / kFlashSectorSize;
    for (uint32_t s = kHPCFirstSector; s < kHPCFirstSector + sectors; ++s) {
        if (EraseSectorOfSPIFlash(s, FX3Request::kSPIFlashErase) != 0) {
            DbgPrint2(LogSeverity::Error, tag, "Erase SPI FLASH sector %d failed :\n", int(s));
            return false;
        }
    }

    // Writes one page, reads it back and compares, up to three times.
    uint8_t page[kFlashPageSize];
    uint8_t readBack[kFlashPageSize];
    auto writeVerified = [&](uint32_t address, uint32_t bytes, const char *failFormat, int pageNo) {
        for (int attempt = 1; attempt <= kFlashAttempts; ++attempt) {
            std::memset(readBack, 0, bytes);
            if (WriteToSPIFlash(page, bytes, address, FX3Request::kSPIFlashWrite) &&
                ReadFromSPIFlash(readBack, bytes, address, FX3Request::kSPIFlashRead) &&
                std::memcmp(page, readBack, bytes) == 0)
                return true;
            DbgPrint2(LogSeverity::Warning, tag, failFormat, pageNo, attempt);
        }
        return false;
    };
    const uint32_t fullPages = uint32_t(length) / kFlashPageSize;
    for (uint32_t p = 0; p < fullPages; ++p) {
        std::memcpy(page, image.get() + p * kFlashPageSize, kFlashPageSize);
        if (!writeVerified(kHPCArea + p * kFlashPageSize, kFlashPageSize, "fail %d try again :%d\n",
                           int(p)))
            return false;
    }
    const uint32_t rest = uint32_t(length) - fullPages * kFlashPageSize;
    if (rest > 0) {
        std::memset(page, 0, sizeof page);
        std::memcpy(page, image.get() + fullPages * kFlashPageSize, rest);
        if (!writeVerified(kHPCArea + fullPages * kFlashPageSize, RoundUp(rest, kFlashChunk),
                           "last fail %d try again :%d\n", int(fullPages)))
            return false;
    }
    return true;
}

bool CCameraBase::ReadFromFLAHAndUnCompress(unsigned char *out, unsigned int size, bool compressed)
{
    static const char *const tag = "ReadFromFLAHAndUnCompress";
    if (out == nullptr)
        return false;
    FlashAccess access(*this);
    std::vector<uint8_t> image(kFlashPageSize);
    if (!ReadFromSPIFlash(image.data(), kFlashPageSize, kHPCArea, FX3Request::kSPIFlashRead))
        return false;
    if (std::memcmp(image.data(), compressed ? "ORUD" : "ORUG", 4) != 0) {
        DbgPrint2(LogSeverity::Error, tag,
                  compressed ? "Read SPI Flash get a HPC fail \n"
                             : "Read SPI Flash get a image fail \n");
        return false;
    }
    const uint32_t length = BigEndian32(image.data() + 4);
    if (length > kHPCMaxLength) {
        DbgPrint2(LogSeverity::Error, tag, "LoadHPCTable: HPC data length too big\n");
        return false;
    }
    DbgPrint2(LogSeverity::Debug, tag, "LoadHPC: Compressed length: %d :\n", int(length));
    // The length counts the 8-byte header; what it promises must cover `size`.
    const uint64_t available =
        compressed ? uint64_t(m_iMaxWidth) * m_iMaxHeight / 8 : uint64_t(length) - 8;
    if (length < 8 || size > available) {
        DbgPrint2(LogSeverity::Error, tag, "LoadHPC: data length %d does not hold %u bytes\n",
                  int(length), size);
        return false;
    }

    image.resize(RoundUp(std::max(length, kFlashPageSize), kFlashPageSize));
    const uint32_t fullPages = length / kFlashPageSize;
    for (uint32_t p = 1; p < fullPages; ++p) {
        int attempt = 1;
        while (!ReadFromSPIFlash(image.data() + p * kFlashPageSize, kFlashPageSize,
                                 kHPCArea + p * kFlashPageSize, FX3Request::kSPIFlashRead)) {
            DbgPrint2(LogSeverity::Warning, tag, "fail %d\n", int(p));
            if (++attempt > kFlashAttempts)
                return false;
        }
    }
    const uint32_t rest = length - fullPages * kFlashPageSize;
    if (fullPages > 0 && rest > 0 &&
        !ReadFromSPIFlash(image.data() + fullPages * kFlashPageSize, RoundUp(rest, kFlashChunk),
                          kHPCArea + fullPages * kFlashPageSize, FX3Request::kSPIFlashRead))
        return false;

    std::unique_ptr<uint8_t[]> data(Uncompress(image.data(), int(length), compressed));
    if (!data)
        return false;
    std::memcpy(out, data.get(), size);
    return true;
}

// ---- ID page, serial number ----

bool CCameraBase::ReadSPI(unsigned char *out, int offset, int length)
{
    if (out == nullptr || offset < 0 || length < 0 || offset + length > kIDPageSize)
        return false;
    FlashAccess access(*this);
    uint8_t page[kIDPageSize] = {};
    const int result = ReadFromSPIFlash(page, kIDPageSize, kIDPage, FX3Request::kSPIFlashRead);
    std::memcpy(out, page + offset, size_t(length));
    return result != 0;
}

bool CCameraBase::WriteSPI(unsigned char *data, int offset, int length)
{
    static const char *const tag = "WriteSPI";
    if (data == nullptr || offset < 0 || length < 0 || offset + length > kIDPageSize)
        return false;
    FlashAccess access(*this);
    uint8_t page[kIDPageSize] = {};
    // The rest of the page is kept: without it the erase would lose it.
    if (!ReadFromSPIFlash(page, kIDPageSize, kIDPage, FX3Request::kSPIFlashRead))
        return false;
    if (EraseSectorOfSPIFlash(kIDSector, FX3Request::kSPIFlashErase) != 0) {
        DbgPrint2(LogSeverity::Error, tag, "Erase SPI FLASH sector %d failed :\n", int(kIDSector));
        return false;
    }
    std::memcpy(page + offset, data, size_t(length));
    for (int attempt = 1; attempt <= kFlashAttempts; ++attempt) {
        uint8_t readBack[kIDPageSize] = {};
        if (WriteToSPIFlash(page, kIDPageSize, kIDPage, FX3Request::kSPIFlashWrite) &&
            ReadFromSPIFlash(readBack, kIDPageSize, kIDPage, FX3Request::kSPIFlashRead) &&
            std::memcmp(page, readBack, kIDPageSize) == 0)
            return true;
        DbgPrint2(LogSeverity::Warning, tag, "fail %d try again\n", attempt);
    }
    return false;
}

bool CCameraBase::SetIDToSPI(ORU_ID id)
{
    uint8_t block[10] = {'I', 'D'};
    std::memcpy(block + 2, id.id, sizeof id.id);
    return WriteSPI(block, 0, sizeof block);
}

bool CCameraBase::GetIDFromSPI(ORU_ID *id)
{
    uint8_t block[10] = {};
    if (id == nullptr || !ReadSPI(block, 0, sizeof block) || block[0] != 'I' || block[1] != 'D')
        return false;
    std::memcpy(id->id, block + 2, sizeof id->id);
    return true;
}

bool CCameraBase::GetSerialNumber(ORU_ID *id)
{
    uint8_t serial[8] = {};
    if (id == nullptr || !SendCMD(FX3Request::kSerialNumber, 0, 0, true, serial, sizeof serial))
        return false;
    if (std::all_of(serial, serial + sizeof serial, [](uint8_t b) { return b == 0; }))
        return false;
    std::memcpy(id->id, serial, sizeof serial);
    return true;
}

// ---- Time stamp ----

void CCameraBase::AddTimeMark(unsigned char *image, int width, IMAGE_TYPE type)
{
    if (image == nullptr || (type != IMAGE_TYPE_8BIT && type != IMAGE_TYPE_RGB24))
        return;
    if (width < kStampDateLeft || m_iHeight < kStampTop + kGlyphHeight)
        return;
    const int bytes = type == IMAGE_TYPE_RGB24 ? 3 : 1;
    auto pixel = [&](int x, int y) { return image + (size_t(y) * width + x) * bytes; };

    const time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char date[48], clock[48];
    std::snprintf(date, sizeof date, "%4d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);

    uint32_t sum = 0;
    for (int y = kStampTop; y < kStampTop + kGlyphHeight; ++y) {
        for (int x = width - kStampDateLeft; x < width - kStampDateLeft + kStampBackgroundWidth;
             ++x) {
            const uint8_t *p = pixel(x, y);
            sum += bytes == 3 ? (p[0] + p[1] + p[2]) / 3 : p[0];
        }
    }
    const uint32_t background = sum / (kStampBackgroundWidth * kGlyphHeight);
    const uint8_t ink = background <= 129 ? 180 : background <= 179 ? 220 : 120;

    auto draw = [&](const char *text, int left) {
        for (int n = 0; n < 8 && text[n]; ++n) {
            const char *found = std::strchr(kGlyphChars, text[n]);
            if (found == nullptr || *found == '\0')
                continue;
            const uint8_t *glyph = kGlyphs[found - kGlyphChars];
            for (int r = 0; r < kGlyphHeight; ++r)
                for (int k = 0; k < kGlyphWidth; ++k)
                    if (glyph[r] >> k & 1)
                        std::memset(pixel(left + n * kGlyphWidth + k, kStampTop + r), ink, bytes);
        }
    };
    draw(date, width - kStampDateLeft);
    draw(clock, width - kStampTimeLeft);
}
