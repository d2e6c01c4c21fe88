// Host-side pixel operations of one camera: demosaicing and colour conversion,
// software binning, gamma, mirroring, dark subtraction and the block statistics
// of the automatic white balance.
//
// Every table here belongs to one object, so two cameras converting frames on
// their own threads never see each other's white balance. The whole-frame
// operations work row by row on vector-friendly loops; the per-cell operations
// are the exact definition those loops must reproduce.
#pragma once

#include <atomic>
#include <cstdint>

#include "algorithm/ImageType.h"
#include "algorithm/PixelKernels.h"

class CAlgorithm {
public:
    CAlgorithm();
    ~CAlgorithm();
    CAlgorithm(const CAlgorithm &) = delete;
    CAlgorithm &operator=(const CAlgorithm &) = delete;

    // Fills the colour-conversion tables, then white balance 50 / 50.
    void RGBYUV_Init();
    // first scales output byte 2, second output byte 0; 50 is neutral.
    void SetRGBWB(int first, int second);
    void SetBayer(BayerPattern pattern);
    void FlipBayer(bool vertical, bool horizontal);
    void SetWidth(int sourceWidth, int outputWidth);

    void BayerConv(uint8_t *src, uint8_t *dst, int width, int height, IMAGE_TYPE type,
                   bool vertical, bool horizontal);
    // One 2 x 2 cell with top-left sample src[index]. BayerCopy writes the four
    // pixels into an RGB24 frame of the source's geometry; BayerCopyToTemp into
    // the block buffer; BayerBilinear at dst + output offset of each site.
    void BayerCopy(uint8_t *src, int width, int index, uint8_t *dst);
    void BayerCopyToTemp(uint8_t *src, int x, int y, int index);
    void BayerBilinear(uint8_t *src, int index, int width, uint8_t *dst);
    // The block buffer as the pixels (x, y) .. (x + 1, y + 1) of a width-wide output.
    void RGBTemp2Y8(uint8_t *dst, int x, int y, int width);
    void RGBTemp2YUV2(uint8_t *dst, int x, int y, int width, bool);
    // The block buffer: the 2 x 2 pixels x 3 bytes BayerCopyToTemp fills and
    // RGBTemp2Y8 / RGBTemp2YUV2 read; the dst of BayerBilinear on those paths.
    uint8_t *RGBTemp() { return m_BlockBuf; }
    // Row rows - 1 copied into row rows.
    void CopyLastLine(uint8_t *dst, int rows, int rowBytes);

    // In place; width and height are the binned size.
    void MonoBin(uint8_t *buf8, uint16_t *buf16, int width, int height, int bin, bool is16);
    void ColorRAWBin(uint8_t *buf8, uint16_t *buf16, int width, int height, int bin, bool is16);
    void Gamma(uint8_t *buf, uint8_t *table, int width, int height);
    void Gamma(uint16_t *buf, uint16_t *table, int width, int height);
    void SoftMisc(uint8_t *buf, int width, int height, bool is16, bool vertical, bool horizontal);
    void SubtractDark(uint8_t *img, int width, int height, uint32_t offset, uint8_t *dark);
    // Per-channel mean (limited to 255) and mean absolute deviation x 10 of
    // 10 x 10 sampled 2 x 2 groups of an area; imageHeight is not used.
    void Get_variance_ave_RAW(const uint8_t *raw, int x0, int y0, int areaWidth, int areaHeight,
                              int stride, int imageHeight, int *deviation, int *average, bool is16);

    void RGB2Y8(uint8_t *rgb, uint8_t *y, int width, int height);
    void RGB2R8(uint8_t *rgb, uint8_t *out, int width, int height);
    void RGB2YUV2(uint8_t *rgb, uint8_t *yuv, int width, int height, bool bottomUp);

    // Colour-conversion tables: entry i = trunc(i x coefficient x 65536).
    int32_t YUV02990[256];
    int32_t YUV05870[256];
    int32_t YUV01140[256];
    int32_t YUV0439[256];
    int32_t YUV03316[256];
    int32_t YUV01684[256];
    int32_t YUV00813[256];
    int32_t YUV04187[256];
    // White balance of output byte 0 and byte 2.
    uint8_t m_iWBRTable[256];
    uint8_t m_iWBBTable[256];

private:
    enum Site { SITE_G1, SITE_G2, SITE_S0, SITE_S2 };

    template <typename T>
    void SoftMiscTemp(T *buf, int width, int height, bool vertical, bool horizontal);
    template <typename T>
    void ColorRAWBinTemp(T *buf, int width, int height, int bin);

    // What one conversion needs fixed: the white balance, read once so a
    // concurrent SetRGBWB changes whole frames only, and the site offsets.
    struct Conversion {
        uint8_t table0[256];
        uint8_t table2[256];
        int balance0; // for the row kernels: -1 when not applied there
        int balance2;
        bool lookup0; // applied by table after the kernel (gain out of its range)
        bool lookup2;
        int32_t srcOffsets[4];   // sites in the source and in frame-wide outputs
        int32_t blockOffsets[4]; // sites in a 2 x 2 block
    };
    void PrepareConversion(int width, Conversion &conv) const;
    // Nearest-neighbour colours of one cell, by site.
    void NearestCell(const uint8_t *src, int index, const int32_t *offsets, const uint8_t *table0,
                     const uint8_t *table2, uint8_t (&pixels)[4][3]) const;
    // Interior pixels [2, end) of source row y for the row kernels.
    PixelKernels::BayerRow KernelRow(const uint8_t *src, int width, int y, int end,
                                     const Conversion &conv) const;
    // The four RGB24 pixels of a nearest-neighbour cell at out + 3 x outOffsets.
    void BorderCell(const uint8_t *src, int index, uint8_t *out, const int32_t *outOffsets,
                    const Conversion &conv) const;
    // Pixels [2, end) of both rows of cell row y, bilinear, into an RGB24 row pair.
    void InteriorRGB24(const uint8_t *src, int width, int y, int end, uint8_t *out,
                       const Conversion &conv) const;
    // Cell row y (rows y and y + 1) into an RGB24 or a Y8 output row pair.
    void RowPairRGB24(const uint8_t *src, int width, int height, int y, uint8_t *out,
                      const Conversion &conv) const;
    void RowPairY8(const uint8_t *src, int width, int height, int y, uint8_t *out,
                   const Conversion &conv, uint8_t *scratch) const;
    uint8_t Y8Of(const uint8_t *pixel) const;
    // Packed YUV words of a row of RGB24 pixels, pair by pair.
    void RGB24RowToYUV(const uint8_t *rgb, uint8_t *yuv, int width) const;

    uint8_t m_BlockBuf[12];
    int32_t m_ChannelMap[4];
    int32_t m_SwappedMap[4];
    int32_t m_SitePos[8];
    int32_t m_SrcOffset[4];
    int32_t m_OutOffset[4];
    int32_t m_iBayerPattern;
    bool m_bSitesValid;
    std::atomic<bool> m_bWBActive;
    bool m_bFlipVert;
    bool m_bFlipHoriz;
    // The SetRGBWB gains of byte 0 and byte 2 (the tables' second and first argument).
    std::atomic<int> m_iWBGain0;
    std::atomic<int> m_iWBGain2;
};
