// The camera's factory hot-pixel map (one byte, 0 or 1, per sensor pixel, as
// loaded from the camera's flash), the map cut and binned to the ROI it was
// last built for, the list of its hot pixels and the rows treated as wholly
// bad.
//
// Thread safety: one lock, the HPC lock, guards all of it; every member
// function takes it. It is taken after the dark frame's locks where both are
// held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/AdjustedRoi.h"
#include "transport/PlatformShims.h"

class CCameraFX3;

class HotPixelMap {
public:
    // The device's product ID tags the log lines.
    explicit HotPixelMap(const CCameraFX3 &device);
    ~HotPixelMap();
    HotPixelMap(const HotPixelMap &) = delete;
    HotPixelMap &operator=(const HotPixelMap &) = delete;

    // Allocates the factory map and the adjusted map of `pixels` bytes each
    // on first use; false unless both exist.
    bool Allocate(size_t pixels);
    // Takes the factory map from its packed form (bit p % 8 of byte p / 8 for
    // pixel p, missing bytes clear) and rebuilds the ROI's map; false while
    // there is no map.
    bool LoadHPCTable(const std::vector<uint8_t> &packed, size_t pixels, const AdjustedRoi &roi,
                      bool roundRows);
    // Marks the pixels of the full dark frame more than threshold above
    // darkMean as the factory map and packs it into packed (pixels / 8
    // bytes, zeroed by the caller); false while there is no map or no dark.
    bool SaveHPCTable(const uint8_t *dark, int darkMean, int threshold, size_t pixels,
                      std::vector<uint8_t> *packed);
    // Rebuilds the ROI's map, its list and its bad rows, unless they were
    // built for this ROI and no rebuild is due.
    void AdjustHPCTable(const AdjustedRoi &roi, bool roundRows);
    // Repairs the listed hot pixels and the bad rows of a frame of the ROI
    // from their same-colour neighbours at distance d; 16-bit pixels keep
    // only the bits of mask.
    void HandleHotPixels(uint8_t *image, bool wide, int d, uint16_t mask);

    // Sets or clears one pixel of the factory map; the ROI's map follows at
    // its next rebuild.
    void MarkHot(size_t pixel, bool hot);
    // Makes the next adjustment rebuild the ROI's map on the same ROI too.
    void ForceRebuild();
    // A copy of the list of the ROI's hot pixels.
    std::vector<int> HotList();

private:
    bool IsHPCChange(const HPCKey &key) ORU_REQUIRES(m_csHPC);
    void Rebuild(const AdjustedRoi &roi, bool roundRows) ORU_REQUIRES(m_csHPC);
    bool DeNoiseHPC(uint8_t *image, bool wide, int d, int x, int y, int index)
        ORU_REQUIRES(m_csHPC);

    const CCameraFX3 &m_Device;
    S_MUTEX_UNIX m_csHPC;
    std::unique_ptr<uint8_t[]> m_pHPCTable ORU_GUARDED_BY(m_csHPC);
    size_t m_iHPCTableSize ORU_GUARDED_BY(m_csHPC) = 0;
    std::unique_ptr<uint8_t[]> m_pHPCAdj ORU_GUARDED_BY(m_csHPC);
    int m_iHPCAdjWidth ORU_GUARDED_BY(m_csHPC) = 0;
    int m_iHPCAdjHeight ORU_GUARDED_BY(m_csHPC) = 0;
    std::vector<int> m_HPCList ORU_GUARDED_BY(m_csHPC);
    std::unique_ptr<int[]> m_pHPCBadRows ORU_GUARDED_BY(m_csHPC);
    bool m_bHPCForce ORU_GUARDED_BY(m_csHPC) = false;
    HPCKey m_HPCKey ORU_GUARDED_BY(m_csHPC) = {};
};
