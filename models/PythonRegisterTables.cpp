#include "models/PythonRegisterTables.h"

// Register tables keep one write per line.
// clang-format off

// Soft reset, clock management, power-up and power-down are the sensor's own
// sequences. Of the required uploads only the whole write of register 197 and
// the last two rows are; of the readout modes only the enable bits cleared at
// the start. Every other value (the rest of the uploads, the mode bits and the
// sequencer programs) is a placeholder standing in for the sensor maker's data
// until that data is supplied. No placeholder may touch a field the driver
// programs itself (sequencer run bit, exposure, gain, black offset, window).
//
// Mode bits, in every mode the same six fields: register 41 bits 12-14 the
// readout scheme (0 CDS, 1 UDS, 2 MSC, 3 MSL), register 42 bit 8 the
// low-temporal-noise variant, register 43 bits 0-3 and register 65 bits 0-2
// column and ADC timing, register 72 bit 4 zero row overhead time, register
// 215 bits 0-7 the row overhead in clocks.

namespace {

const PythonRegisterWrite kSoftReset[] = {
    PythonWhole(8, 0x0099),
    PythonWhole(9, 0x0009),
    PythonWhole(kPythonRegSoftReset, 0x0999),
};

const PythonRegisterWrite kClockMngmnt1[] = {
    PythonField(2, 0, 1, 0),
    PythonBit(32, 3, 0),
    PythonBit(32, 2, 1),
    PythonField(32, 12, 14, 0),
    PythonField(32, 12, 14, 2),
    PythonField(32, 4, 5, 0),
    PythonBit(20, 0, 0),
    PythonField(17, 13, 14, 1),
    PythonField(17, 8, 12, 1),
    PythonField(17, 0, 7, 19),
    PythonField(26, 0, 7, 128),
    PythonField(26, 8, 10, 2),
    PythonField(26, 12, 14, 2),
    PythonField(27, 0, 7, 45),
    PythonField(27, 8, 15, 61),
    PythonField(8, 0, 3, 0),
    PythonField(8, 4, 7, 0),
    PythonBit(16, 2, 0),
    PythonBit(16, 0, 1),
    PythonBit(16, 1, 1),
};

const PythonRegisterWrite kClockMngmnt2[] = {
    PythonField(9, 0, 3, 0),
    PythonBit(32, 1, 1),
    PythonBit(34, 0, 1),
    PythonBit(128, 15, 0),
};

const PythonRegisterWrite kRequiredUploads[] = {
    PythonField(41, 0, 3, 5),      PythonField(41, 4, 7, 2),      PythonField(41, 8, 11, 1),
    PythonField(42, 2, 3, 1),      PythonField(42, 4, 7, 6),      PythonField(42, 9, 12, 3),
    PythonField(43, 4, 7, 0xA),    PythonField(43, 8, 11, 4),     PythonField(43, 12, 15, 1),
    PythonField(65, 3, 5, 2),      PythonField(65, 6, 9, 0xB),    PythonField(65, 10, 15, 0x11),
    PythonField(66, 0, 7, 0x1A),   PythonField(66, 8, 15, 0x3B),  PythonField(67, 0, 4, 0x10),
    PythonField(67, 5, 9, 0x08),   PythonField(67, 10, 15, 0x22), PythonField(68, 0, 7, 0x85),
    PythonField(68, 8, 11, 0x7),   PythonField(69, 0, 3, 0x2),    PythonField(69, 4, 11, 0x88),
    PythonField(70, 0, 7, 0x62),   PythonField(70, 8, 13, 0x15),  PythonField(128, 8, 10, 4),
    PythonField(128, 11, 14, 0),   PythonField(129, 0, 7, 0x01),  PythonBit(129, 13, 1),
    PythonBit(129, 15, 0),         PythonField(192, 4, 5, 1),     PythonField(192, 6, 7, 0),
    PythonBit(192, 8, 1),          PythonField(194, 3, 4, 0),     PythonField(194, 5, 8, 0xC),
    PythonField(194, 10, 15, 0x10), PythonWhole(197, 1),          PythonField(204, 2, 6, 0x0E),
    PythonField(204, 7, 14, 0x41), PythonField(207, 0, 7, 0x0C),  PythonField(207, 8, 15, 0x27),
    PythonField(211, 0, 4, 0x0E),  PythonField(211, 5, 11, 0x49), PythonField(215, 8, 15, 0x11),
    PythonField(224, 0, 7, 0x3E),  PythonField(224, 8, 15, 0x3E), PythonField(227, 0, 3, 0x0),
    PythonField(227, 4, 9, 0x20),  PythonBit(194, 9, 1),          PythonField(192, 11, 13, 1),
};
static_assert(sizeof kRequiredUploads / sizeof kRequiredUploads[0] == 48, "48 uploads");

const PythonRegisterWrite kSoftPowerUp[] = {
    PythonBit(kPythonRegClockEnable, 0, 1),
    PythonField(kPythonRegSoftReset, 0, 3, 0),
    PythonField(kPythonRegSoftReset, 4, 7, 0),
    PythonField(kPythonRegSoftReset, 8, 11, 0),
    PythonBit(64, 0, 1),
    PythonBit(72, 0, 1),
    PythonBit(72, 1, 1),
    PythonBit(72, 2, 1),
    PythonBit(42, 0, 1),
    PythonBit(42, 1, 1),
    PythonBit(40, 0, 1),
    PythonBit(40, 1, 1),
    PythonBit(40, 2, 0),
    PythonBit(48, 0, 1),
    PythonField(kPythonRegSerializer, 0, 2, 7),
};

const PythonRegisterWrite kSoftPowerDown[] = {
    PythonBit(kPythonRegSequencer, 0, 0),
    PythonBit(kPythonRegClockEnable, 0, 0),
    PythonField(kPythonRegSoftReset, 0, 3, 9),
    PythonField(kPythonRegSoftReset, 4, 7, 9),
    PythonField(kPythonRegSoftReset, 8, 11, 9),
    PythonBit(64, 0, 0),
    PythonBit(72, 0, 0),
    PythonBit(72, 1, 0),
    PythonBit(72, 2, 0),
    PythonBit(42, 0, 0),
    PythonBit(42, 1, 0),
    PythonField(40, 0, 2, 0),
    PythonBit(48, 0, 0),
    PythonField(kPythonRegSerializer, 0, 2, 0),
};

const PythonRegisterWrite kSequencerOff[] = {
    PythonField(kPythonRegSequencer, 0, 1, 0),
    PythonField(kPythonRegIntegration, 0, 1, 0),
};

// The six mode fields described above.
struct ModeBits {
    PythonRegisterWrite writes[6];
};

constexpr ModeBits Mode(uint16_t scheme, uint16_t lowNoise, uint16_t columnTiming,
                        uint16_t adcTiming, uint16_t zeroRowOverhead, uint16_t rowOverhead)
{
    return {{
        PythonField(41, 12, 14, scheme),
        PythonBit(42, 8, lowNoise),
        PythonField(43, 0, 3, columnTiming),
        PythonField(65, 0, 2, adcTiming),
        PythonBit(72, 4, zeroRowOverhead),
        PythonField(215, 0, 7, rowOverhead),
    }};
}

constexpr ModeBits kCDSwithNROTBits = Mode(0, 0, 3, 1, 0, 24);
constexpr ModeBits kCDSwithZROTBits = Mode(0, 0, 3, 1, 1, 4);
constexpr ModeBits kUDSwithNROTBits = Mode(1, 0, 5, 2, 0, 28);
constexpr ModeBits kUDSwithZROTBits = Mode(1, 0, 5, 2, 1, 6);
constexpr ModeBits kCDSwithNROT_LTNBits = Mode(0, 1, 3, 1, 0, 32);
constexpr ModeBits kMSCwithNROTBits = Mode(2, 0, 7, 3, 0, 24);
constexpr ModeBits kMSCwithZeroROTBits = Mode(2, 0, 7, 3, 1, 4);
constexpr ModeBits kMSLwithNROTBits = Mode(3, 0, 9, 4, 0, 26);

const uint16_t kCDSwithNROTProgram[] = {
    0x0266, 0x6265, 0x0C74, 0x7E3E, 0x3818, 0x22F6, 0x7352, 0x7BD7,
    0x365E, 0x2FB3, 0x5CEF, 0x3FB6, 0x2D87, 0x250B, 0x28AF, 0x26FA,
    0x6923, 0x086F, 0x3B88, 0x1F9C, 0x13E0, 0x6358, 0x7F3C, 0x0917,
    0x1F7B, 0x00F4, 0x3F70, 0x6C5D, 0x1FBE, 0x2ACE, 0x12FA, 0x1AA7,
    0x79B2, 0x59AC, 0x55F1, 0x6403, 0x5C72, 0x7F13, 0x3844, 0x1306,
};

const uint16_t kCDSwithZROTProgram[] = {
    0x6D66, 0x6E26, 0x18B7, 0x51C7, 0x17E6, 0x790B, 0x2046, 0x465C,
    0x0D34, 0x47EB, 0x3CA1, 0x5759, 0x4FFB, 0x3261, 0x4A0F, 0x4A5E,
    0x26B8, 0x2A2A, 0x0FBF, 0x5F34, 0x3214, 0x5590, 0x42CF, 0x1F4B,
    0x5D5D, 0x5F41, 0x1BF2, 0x6D8A, 0x61B6, 0x6A47, 0x1D69, 0x1895,
    0x2E4A, 0x3BC8, 0x571E, 0x1260, 0x1198, 0x04F4, 0x62C9, 0x1CAA,
};

const uint16_t kUDSwithNROTProgram[] = {
    0x23A3, 0x0965, 0x4F06, 0x6008, 0x517A, 0x5D21, 0x4944, 0x497C,
    0x5A14, 0x7674, 0x029C, 0x642E, 0x17E2, 0x41E6, 0x7D68, 0x71C7,
    0x2418, 0x4D6C, 0x2447, 0x0BF7, 0x5D58, 0x5AEE, 0x341A, 0x5564,
    0x26B9, 0x1B69, 0x0FAA, 0x20B6, 0x3D05, 0x3F63, 0x1A47, 0x69FA,
    0x4C00, 0x6E49, 0x6F41, 0x7781, 0x246E, 0x254D, 0x1B46, 0x344A,
};

const uint16_t kUDSwithZROTProgram[] = {
    0x0020, 0x2A01, 0x343D, 0x6F5F, 0x38E6, 0x1DD6, 0x2A5C, 0x43FF,
    0x7A5E, 0x18C5, 0x3747, 0x4575, 0x0DA8, 0x0C85, 0x6069, 0x72C2,
    0x249D, 0x0369, 0x1E85, 0x2005, 0x1567, 0x00BA, 0x5844, 0x7A9C,
    0x3FD8, 0x6E90, 0x66B1, 0x1573, 0x2025, 0x2806, 0x2A9B, 0x2AC6,
    0x2FC6, 0x0C91, 0x2E14, 0x73EA, 0x711A, 0x5C8C, 0x101D, 0x259C,
};

const uint16_t kCDSwithNROT_LTNProgram[] = {
    0x3087, 0x51E8, 0x3A15, 0x7A7E, 0x3BF1, 0x3F18, 0x72ED, 0x149B,
    0x152D, 0x3D45, 0x583A, 0x6004, 0x4792, 0x4118, 0x7CCC, 0x61D6,
    0x7AC9, 0x423F, 0x27EA, 0x4B6D, 0x7AD5, 0x6441, 0x48E2, 0x1B03,
    0x00F6, 0x2C53, 0x100E, 0x5903, 0x1F16, 0x0C95, 0x4848, 0x49FD,
    0x058A, 0x40A1, 0x7C65, 0x315C, 0x66E4, 0x1B46, 0x1FE1, 0x5D5C,
};

const uint16_t kMSCwithNROTProgram[] = {
    0x4272, 0x5D00, 0x0D7B, 0x5CCA, 0x5673, 0x1D4C, 0x072C, 0x68A1,
    0x255F, 0x40B9, 0x6C30, 0x7646, 0x6FE4, 0x0872, 0x7002, 0x20E8,
    0x4F39, 0x49AB, 0x73F8, 0x2C0B, 0x711D, 0x6732, 0x4C9C, 0x7159,
    0x132B, 0x7FE1, 0x72A8, 0x4181, 0x1AE2, 0x0AD8, 0x7921, 0x41ED,
    0x5583, 0x2A18, 0x45FC, 0x6D04, 0x1CB0, 0x4F3F, 0x4ABB, 0x4FE3,
};

const uint16_t kMSCwithZeroROTProgram[] = {
    0x4436, 0x0ACB, 0x4DF7, 0x01F1, 0x7756, 0x2911, 0x329E, 0x411C,
    0x5547, 0x5D88, 0x05C9, 0x10D2, 0x45C4, 0x0163, 0x62D9, 0x1535,
    0x7D87, 0x5674, 0x43E4, 0x4C09, 0x7521, 0x5BBA, 0x3CB7, 0x3BC2,
    0x39BF, 0x409E, 0x4B62, 0x1CBB, 0x29ED, 0x2FD4, 0x1B48, 0x3EDC,
    0x4399, 0x2DDE, 0x2DCA, 0x72F7, 0x2CCA, 0x31CA, 0x2AAD, 0x0D31,
};

const uint16_t kMSLwithNROTProgram[] = {
    0x0195, 0x505F, 0x3E7A, 0x6D45, 0x4B6D, 0x515C, 0x497F, 0x4CA5,
    0x0DB0, 0x426C, 0x07BA, 0x6473, 0x4905, 0x6ABF, 0x2CDC, 0x1118,
    0x4787, 0x11C6, 0x1C93, 0x1A3D, 0x0F62, 0x42D7, 0x3D81, 0x79D1,
    0x4FDC, 0x2E35, 0x690D, 0x5283, 0x4897, 0x4E03, 0x7A28, 0x696A,
    0x5E5D, 0x5BE8, 0x213D, 0x7FA2, 0x59F6, 0x1C0B, 0x3A1F, 0x5F18,
};

template <size_t N>
constexpr PythonReadoutMode Readout(const ModeBits &bits, const uint16_t (&program)[N])
{
    return {PythonWrites(bits.writes), program, static_cast<int>(N)};
}

} // namespace

const PythonWriteList kPythonSoftReset = PythonWrites(kSoftReset);
const PythonWriteList kPythonClockMngmnt1 = PythonWrites(kClockMngmnt1);
const PythonWriteList kPythonClockMngmnt2 = PythonWrites(kClockMngmnt2);
const PythonWriteList kPythonRequiredUploads = PythonWrites(kRequiredUploads);
const PythonWriteList kPythonSoftPowerUp = PythonWrites(kSoftPowerUp);
const PythonWriteList kPythonSoftPowerDown = PythonWrites(kSoftPowerDown);
const PythonWriteList kPythonSequencerOff = PythonWrites(kSequencerOff);

const PythonReadoutMode kPythonCDSwithNROT = Readout(kCDSwithNROTBits, kCDSwithNROTProgram);
const PythonReadoutMode kPythonCDSwithZROT = Readout(kCDSwithZROTBits, kCDSwithZROTProgram);
const PythonReadoutMode kPythonUDSwithNROT = Readout(kUDSwithNROTBits, kUDSwithNROTProgram);
const PythonReadoutMode kPythonUDSwithZROT = Readout(kUDSwithZROTBits, kUDSwithZROTProgram);
const PythonReadoutMode kPythonCDSwithNROT_LTN =
    Readout(kCDSwithNROT_LTNBits, kCDSwithNROT_LTNProgram);
const PythonReadoutMode kPythonMSCwithNROT = Readout(kMSCwithNROTBits, kMSCwithNROTProgram);
const PythonReadoutMode kPythonMSCwithZeroROT =
    Readout(kMSCwithZeroROTBits, kMSCwithZeroROTProgram);
const PythonReadoutMode kPythonMSLwithNROT = Readout(kMSLwithNROTBits, kMSLwithNROTProgram);
// clang-format on
