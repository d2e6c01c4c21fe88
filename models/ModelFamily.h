// What every model class of the family does alike: the constructor's
// identity, limits and start values, the stored settings, the checks and
// placement of an ROI, the clamping of gain, exposure and bandwidth, the
// link rates, the FPGA's colour gains and the playback of register tables.
//
// Every function works on the camera object it is given, on the caller's
// thread, as the model operation that calls it would.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdint>

#include "engine/CCameraBase.h"
#include "transport/SectionLock.h"

namespace ModelFamily {

inline void SleepMs(unsigned ms)
{
    usleep(ms * 1000);
}

// Milliseconds from `since` to now on the wrapping tick clock.
inline uint32_t MsSince(uint32_t since)
{
    return GetTickCount() - since;
}

// Frames missing between two frames whose 16-bit counters are previous and
// current, across the counter's wrap. A frame sent again (the same counter)
// misses none, and neither does a counter that went back (the camera
// counting afresh): a jump of half the counter's range or more is not a gap.
inline int FramesMissed(uint16_t previous, uint16_t current)
{
    const uint16_t step = static_cast<uint16_t>(current - previous);
    return step == 0 || step >= 0x8000 ? 0 : step - 1;
}

// Whether an image type carries 16 bits a pixel from the sensor.
inline bool IsWide(IMAGE_TYPE type)
{
    return type == IMAGE_TYPE_WORD32 || type == IMAGE_TYPE_RAW16;
}

// Bytes per second per percent of bandwidth, divided by 10, of a USB3 host
// link or of a USB2 one.
int LinkRate(bool usb3Host);

// The sensor: its size, pixel pitch in um and ADC depth in bits.
void SetSensor(ModelDescription &model, int width, int height, double pixelSizeUm, int bitDepth);

// The capabilities that follow the colour mosaic: colour, RGB24, Y8 and both
// white-balance controls.
void SetColour(ModelDescription &model, bool colour);

// The two offsets, middle gain, high gain and high-gain offset of the
// electrons-per-ADU reference.
void SetGainOffsetRef(ModelDescription &model, const std::array<int, 5> &values);

// What the models' controls differ in; the rest is alike.
struct ControlDefaults {
    int iGain;
    int iGainMax;
    uint64_t lExpMin; // us
    uint64_t lExpMax;
    int iWBRed; // start values, also the defaults
    int iWBBlue;
    int iWBMax;
    int iOffset; // start value, also the default
    int iOffsetMax;
    int iBandwidthUSB3; // bandwidth on a USB3 host
};

// Raw 8- and 16-bit output, gain, exposure, offset, bandwidth with its
// automatic mode and high-speed mode; the limits of gain (from 0), exposure
// (10 ms by default), gamma (1..100, 50), white balance (from 1), offset
// (from 0) and bandwidth (40..100), with the given values.
void SetControls(ModelDescription &model, const ControlDefaults &defaults);

// The camera's start values, after the model is described: the whole sensor
// as ROI (bin 1, 8 bits), gain, exposure (10 ms), gamma (50), white balance
// and offset from defaults, these four manual, bandwidth 80 and automatic.
void StartControls(CCameraBase &camera, const ControlDefaults &defaults);

// Last in a constructor: loads the stored settings, holds the automatic
// maximum exposure to maxAutoExpMs and sends the white balance.
void LoadSettings(CCameraBase &camera, int maxAutoExpMs);

// The checks of SetResolution that every model makes: a bin from the
// supported list, a window inside the sensor, a known image type, an even
// height and a width that is a multiple of 8 at full resolution.
bool RoiAcceptable(const CCameraBase &camera, int width, int height, int bin, IMAGE_TYPE type);

// Centres the ROI just stored on the sensor through the model's SetStartPos.
void CentreRoi(CCameraBase &camera, int width, int height, int bin);
// Stores an ROI that passed the checks, with its bin and image type, and
// centres it; the caller holds the ROI lock.
void StoreRoi(CCameraBase &camera, int width, int height, int bin, IMAGE_TYPE type);

// The start-position rule of SetStartPos: x and y from 0 in steps of xStep
// and yStep, kept inside the sensor (a start pushed back from the right
// edge stays on an xStep), stored, with the dark frame and the hot-pixel
// table following. x and y come back as stored.
void PlaceStart(CCameraBase &camera, int &x, int &y, int xStep, int yStep);

// Whether GetImage can deliver a width x height image of type into buffer
// (size bytes): the buffer is large enough and the camera has its frame
// ring and image buffer.
bool CanDeliver(const CCameraBase &camera, const unsigned char *buffer, int size, int width,
                int height, IMAGE_TYPE type);

// Bytes of one frame as the camera sends it: the sensor's output size, one
// or two bytes a pixel.
template <typename Model>
int RealImageSize(Model &camera)
{
    int width = 0;
    int height = 0;
    camera.GetSensorOutputSize(&width, &height);
    return width * height * (camera.Settings().m_b16Bit ? 2 : 1);
}

// Each stores the value clamped to the model's range and its automatic
// flag, and returns the clamped value.
int StoreGain(CCameraBase &camera, int gain, bool autoGain, int maxGain);
uint64_t StoreExposure(CCameraBase &camera, uint64_t us, bool autoExp, uint64_t minUs,
                       uint64_t maxUs);
// Bandwidth: percent is clamped to 40..100 in place; switching automatic
// bandwidth on starts from the link's full rate instead, and while it is on
// the capture loop lowers the bandwidth through the percentage. Returns the
// bandwidth stored.
int StoreBandwidth(CCameraBase &camera, int &percent, bool autoBandwidth);

// White balance through the FPGA's colour gains (128 = unity) on the R and
// B sites; values are clamped to 1..99. A sensor without the colour mosaic
// keeps unity gains everywhere.
bool SetRGBBalance(CCameraBase &camera, int red, int blue, bool autoWB);

// Plays a register table: rows of (address, value), written in order
// through write(address, value), except that the address pause waits value
// milliseconds.
template <typename Write>
void PlayRegisterTable(const uint16_t (*table)[2], int rows, uint16_t pause, Write write)
{
    for (int i = 0; i < rows; ++i) {
        if (table[i][0] == pause)
            SleepMs(table[i][1]);
        else
            write(table[i][0], table[i][1]);
    }
}

} // namespace ModelFamily
