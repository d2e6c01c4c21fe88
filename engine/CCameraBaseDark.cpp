// Dark frames, hot pixels, the camera's flash areas (hot-pixel image, user ID
// page), the serial number and the time stamp of CCameraBase.
//
// Lock order: the dark frame's locks (DarkFrame.h), then the HPC lock.
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

constexpr int kSensorTableRowBytes = 16;

// 8 x 16 glyphs of the time stamp: byte r is row r, bit k column k.
constexpr char kGlyphChars[] = "0123456789:";
// clang-format off
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
// clang-format on
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

} // namespace

// ---- Dark frame ----

ORU_ERROR_CODE CCameraBase::LoadBMPFromFile(char *path)
{
    static const char *const tag = "LoadBMPFromFile";
    FILE *file = path ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        UsingDark(false);
        DbgPrint2(LogSeverity::Error, tag, "Open file %s failed!\n", path ? path : "(null)");
        return ORU_ERROR_INVALID_PATH;
    }
    struct FileCloser {
        FILE *f;
        ~FileCloser() { std::fclose(f); }
    } closer{file};

    const int W = m_Model.m_iMaxWidth, H = m_Model.m_iMaxHeight;
    uint8_t fileHeader[kBmpFileHeaderSize];
    uint8_t info[kBmpInfoHeaderSize];
    DbgPrint2(LogSeverity::Debug, tag, "bmpheader size=%d\n", kBmpFileHeaderSize);
    if (std::fread(fileHeader, 1, sizeof fileHeader, file) != sizeof fileHeader) {
        DbgPrint2(LogSeverity::Error, tag, "Read bmp header failed!\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        DbgPrint2(LogSeverity::Error, tag, "bmp header err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    DbgPrint2(LogSeverity::Debug, tag, "bmpinfo size=%d\n", kBmpInfoHeaderSize);
    if (std::fread(info, 1, sizeof info, file) != sizeof info) {
        DbgPrint2(LogSeverity::Error, tag, "Read bmp information failed!\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    const int32_t bmpWidth = int32_t(LittleEndian32(info + 4));
    const int32_t bmpHeight = int32_t(LittleEndian32(info + 8));
    if (bmpWidth != W || W <= 0 || H <= 0) {
        DbgPrint2(LogSeverity::Error, tag, "bmp width err: iMaxWidth=%d Wbmp=%d\n", W,
                  int(bmpWidth));
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    // A top-down bitmap (negative height) lands here too.
    if (bmpHeight != H) {
        DbgPrint2(LogSeverity::Error, tag, "bmp height err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    if (LittleEndian16(info + 14) != 8) {
        DbgPrint2(LogSeverity::Error, tag, "bmp biBitCount err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    if (LittleEndian32(info + 16) != 0) {
        DbgPrint2(LogSeverity::Error, tag, "bmp compression err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }

    // The whole pixel block must lie inside the file; it is read aside first
    // so that a failure leaves the current dark frame as it was.
    struct stat st {};
    const uint32_t dataOffset = LittleEndian32(fileHeader + 10);
    if (fstat(fileno(file), &st) != 0 || dataOffset < kBmpFileHeaderSize + kBmpInfoHeaderSize ||
        int64_t(dataOffset) > int64_t(st.st_size)) {
        DbgPrint2(LogSeverity::Error, tag, "bmp data offset err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }
    const int rowSize = BmpRowSize(W);
    const size_t blockSize = size_t(rowSize) * (H - 1) + W; // last row may lack padding
    std::vector<uint8_t> block(blockSize);
    if (int64_t(dataOffset) + int64_t(blockSize) > int64_t(st.st_size) ||
        std::fseek(file, long(dataOffset), SEEK_SET) != 0 ||
        std::fread(block.data(), 1, blockSize, file) != blockSize) {
        DbgPrint2(LogSeverity::Error, tag, "bmp data size err\n");
        return ORU_ERROR_INVALID_FILEFORMAT;
    }

    if (!m_DarkFrame.Replace(block.data(), rowSize, W, H))
        return ORU_ERROR_GENERAL_ERROR;
    AdjustDarkBuff();
    UsingDark(true);
    if (path != m_szBMPPath)
        std::snprintf(m_szBMPPath, sizeof m_szBMPPath, "%s", path);
    DbgPrint2(LogSeverity::Info, tag, "Open file %s --> succeed!\n", path);
    return ORU_SUCCESS;
}

bool CCameraBase::CreateBMP(int width, int height, const unsigned char *data, char *path)
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
    const bool created = m_DarkFrame.UseFrame([&](const uint8_t *dark) {
        return CreateBMP(m_Model.m_iMaxWidth, m_Model.m_iMaxHeight, dark, path);
    });
    if (!created)
        return false;
    if (path != m_szBMPPath)
        std::snprintf(m_szBMPPath, sizeof m_szBMPPath, "%s", path);
    DbgPrint2(LogSeverity::Info, "SaveBMPToFile", "Save file %s --> succeed!\n", path);
    return true;
}

void CCameraBase::UsingDark(bool on)
{
    m_bCutDark = on;
    if (!on)
        m_DarkFrame.Free();
}

int CCameraBase::GettingDark(bool on, unsigned long long)
{
    return m_DarkFrame.GettingDark(on, m_lExposure / 1000);
}

void CCameraBase::DoGetDark(uint8_t *image)
{
    if (!m_DarkFrame.IsRecording() || image == nullptr)
        return;
    if (!m_DarkFrame.AddFrame(image, size_t(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight))
        return;
    AdjustDarkBuff();
    m_DarkFrame.FinishRecording();
}

AdjustedRoi CCameraBase::CurrentRoi()
{
    AdjustedRoi roi{};
    const int bin = m_iBin;
    const int width = m_iWidth, height = m_iHeight;
    roi.sensorWidth = m_Model.m_iMaxWidth;
    roi.sensorHeight = m_Model.m_iMaxHeight;
    roi.startX = m_iStartX;
    roi.startY = m_iStartY;
    roi.roiWidth = width * bin;
    roi.roiHeight = height * bin;
    const bool hardwareBin = m_bHardwareBin;
    roi.binEff = hardwareBin && bin == 4 ? 2 : bin;
    roi.hardBin = IsHardBinRun();
    const int outFactor = bin == 4 ? 2 : 1;
    roi.adjWidth = roi.hardBin ? width * outFactor : roi.roiWidth;
    roi.adjHeight = roi.hardBin ? height * outFactor : roi.roiHeight;
    roi.sensorRow =
        bin >= 0 && bin < 5 ? m_Model.m_pSensorTable + bin * kSensorTableRowBytes : nullptr;
    roi.valid = bin >= 1 && roi.adjWidth > 0 && roi.adjHeight > 0 && roi.startX >= 0 &&
                roi.startY >= 0 && roi.adjWidth <= m_Model.m_iMaxWidth &&
                roi.adjHeight <= m_Model.m_iMaxHeight;
    roi.key = HPCKey{bin, hardwareBin, width, height, roi.startX, roi.startY};
    return roi;
}

void CCameraBase::AdjustDarkBuff()
{
    m_DarkFrame.AdjustDarkBuff(CurrentRoi(), m_Model.m_bHWBinSums);
}

void CCameraBase::SubtractDark(uint8_t *image)
{
    if (!m_bCutDark || (m_bAutoExp && m_lExposure < 500000))
        return;
    m_DarkFrame.SubtractDark(m_Algorithm, image);
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
    const size_t pixels = size_t(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight;
    std::vector<uint8_t> packed(pixels / 8);
    if (!ReadFromFLAHAndUnCompress(packed.data(), unsigned(packed.size()), true))
        return false;
    return m_HotPixelMap.LoadHPCTable(packed, pixels, CurrentRoi(), m_Model.m_bHPCRoundRows);
}

bool CCameraBase::SaveHPCTable()
{
    const size_t pixels = size_t(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight;
    std::vector<uint8_t> packed(pixels / 8, 0);
    const bool marked = m_DarkFrame.UseFrameAndMean([&](const uint8_t *dark, int mean) {
        return m_HotPixelMap.SaveHPCTable(dark, mean, DarkFrame::kHotAboveMean, pixels, &packed);
    });
    if (!marked)
        return false;
    return CompressAndWriteIntoFLASH(packed.data(), unsigned(packed.size()), true);
}

void CCameraBase::AdjustHPCTable()
{
    m_HotPixelMap.AdjustHPCTable(CurrentRoi(), m_Model.m_bHPCRoundRows);
}

void CCameraBase::HandleHotPixels(uint8_t *image)
{
    if (image == nullptr)
        return;
    const int d = m_Model.m_Caps.bColor ? 2 : 1;
    const bool wide = m_b16Bit;
    if (m_bHPC) {
        // Frames of 12- or 14-bit sensors keep their unused low bits clear.
        const uint16_t mask = m_Model.m_iBitDepth == 16   ? 0xFFFF
                              : m_Model.m_iBitDepth == 14 ? 0xFFFC
                                                          : 0xFFF0;
        m_HotPixelMap.HandleHotPixels(image, wide, d, mask);
    }
    if (m_bCutDark)
        m_DarkFrame.RepairHotPixels(image, wide, d);
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
    const int64_t mapSize = int64_t(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight / 8;
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
        if (!EraseSectorOfSPIFlash(s, FX3Request::kSPIFlashErase)) {
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
    const uint64_t available = compressed ? uint64_t(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight / 8
                                          : uint64_t(length) - 8;
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
    const OruStatus result =
        ReadFromSPIFlash(page, kIDPageSize, kIDPage, FX3Request::kSPIFlashRead);
    std::memcpy(out, page + offset, size_t(length));
    return result.IsOk();
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
    if (!EraseSectorOfSPIFlash(kIDSector, FX3Request::kSPIFlashErase)) {
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
