// The PYTHON image sensor's fixed register sequences, as lists of writes to
// its 16-bit camera registers: soft reset, the two clock-management steps,
// the required uploads, soft power-up and power-down, and the eight readout
// modes (mode bits and a sequencer program). A write replaces a whole
// register or sets the bit field lowBit..highBit of one (read-modify-write).
#pragma once

#include <cstddef>
#include <cstdint>

struct PythonRegisterWrite {
    uint16_t address;
    uint8_t lowBit;
    uint8_t highBit;
    uint16_t value;
    bool bWhole;
};

constexpr PythonRegisterWrite PythonField(uint16_t address, uint8_t lowBit, uint8_t highBit,
                                          uint16_t value)
{
    return {address, lowBit, highBit, value, false};
}

constexpr PythonRegisterWrite PythonBit(uint16_t address, uint8_t bit, uint16_t value)
{
    return {address, bit, bit, value, false};
}

constexpr PythonRegisterWrite PythonWhole(uint16_t address, uint16_t value)
{
    return {address, 0, 15, value, true};
}

struct PythonWriteList {
    const PythonRegisterWrite *pWrites;
    int iCount;
};

template <size_t N>
constexpr PythonWriteList PythonWrites(const PythonRegisterWrite (&writes)[N])
{
    return {writes, static_cast<int>(N)};
}

// Registers the driver programs itself.
constexpr uint16_t kPythonRegSoftReset = 10;   // nibbles 0-2: 9 holds a block in reset
constexpr uint16_t kPythonRegClockEnable = 32; // bit 0: clock generator on
constexpr uint16_t kPythonRegSerializer = 112; // bits 0-2: output serialisers powered
constexpr uint16_t kPythonRegSequencer = 192;  // bit 0: sequencer runs (the sensor streams)
constexpr uint16_t kPythonRegIntegration = 194;
constexpr uint16_t kPythonRegTimerClocks = 199;  // sensor clocks per exposure-timer tick
constexpr uint16_t kPythonRegExposure = 201;     // exposure in timer ticks
constexpr uint16_t kPythonRegAnalogueGain = 204; // bits 0-1: analogue stage, x2 each
constexpr uint16_t kPythonRegDigitalGain = 205;  // 128 = unity
constexpr uint16_t kPythonRegBlackLevel = 128;   // bits 0-7: black offset, ADC steps
constexpr uint16_t kPythonRegWindowX = 256;      // bits 0-7 first, 8-15 last column / 8
constexpr uint16_t kPythonRegWindowFirstRow = 257;
constexpr uint16_t kPythonRegWindowLastRow = 258;
// The sequencer program of a readout mode starts here.
constexpr uint16_t kPythonRegProgram = 384;

extern const PythonWriteList kPythonSoftReset;
extern const PythonWriteList kPythonClockMngmnt1;
extern const PythonWriteList kPythonClockMngmnt2;
extern const PythonWriteList kPythonRequiredUploads;
extern const PythonWriteList kPythonSoftPowerUp;
extern const PythonWriteList kPythonSoftPowerDown;
// Clears the sequencer enable bits; every readout mode starts with it.
extern const PythonWriteList kPythonSequencerOff;

// A readout mode: its mode bits and the sequencer program uploaded from
// kPythonRegProgram on.
struct PythonReadoutMode {
    PythonWriteList modeBits;
    const uint16_t *pProgram;
    int iProgramWords;
};

extern const PythonReadoutMode kPythonCDSwithNROT;
extern const PythonReadoutMode kPythonCDSwithZROT;
extern const PythonReadoutMode kPythonUDSwithNROT;
extern const PythonReadoutMode kPythonUDSwithZROT;
extern const PythonReadoutMode kPythonCDSwithNROT_LTN;
extern const PythonReadoutMode kPythonMSCwithNROT;
extern const PythonReadoutMode kPythonMSCwithZeroROT;
extern const PythonReadoutMode kPythonMSLwithNROT;
