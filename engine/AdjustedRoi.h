// The current ROI in sensor pixels and the geometry of the dark and hot-pixel
// maps adjusted to it: the sensor ROI, or the hardware-binned output. The
// camera fills it from its settings; the maps are cut and binned by it.
#pragma once

#include <cstdint>

// The ROI a hot-pixel map was last built for.
struct HPCKey {
    int iBin;
    bool bHardwareBin;
    int iWidth, iHeight;
    int iStartX, iStartY;
};

struct AdjustedRoi {
    int sensorWidth, sensorHeight;
    int startX, startY;
    int roiWidth, roiHeight;
    int binEff; // 2 for hardware bin 4 (the rest is binned in software)
    bool hardBin;
    int adjWidth, adjHeight;
    const int8_t *sensorRow; // the offset table row of the bin, or null
    // The geometry lies on the sensor and the maps can be built for it.
    bool valid;
    HPCKey key;

    // Offsets of one axis (0 = x, 1 = y) for a pixel of the given parity:
    // the pair at index parity, then parity + 2, + 4, + 6. 127 ends the walk,
    // except in the first pair, where it means no offset. Returns the count.
    int AxisOffsets(int parity, int axis, int offsets[4]) const;
    // Position of sensor column (or row) c in the hardware-binned output:
    // blocks of 2 x binEff sensor pixels give two output pixels of the two
    // phases.
    int BinnedCoord(int c, int offset) const;
};
