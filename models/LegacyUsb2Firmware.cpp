#include "models/LegacyUsb2Firmware.h"

#include <array>
#include <cstddef>
#include <initializer_list>

#include "transport/LegacyUsb2Protocol.h"

// The images are built at compile time by the generator below, so that the
// four stay consistent and each has its fixed length.
//
// Records, in load order:
//   0x0000  2048 bytes  program: LJMP 0x0080, the identification block
//                       (bytes 3..17), and at 0x0080 the idle loop SJMP $
//   0x0800  1024 bytes  program, continued
//   0x0C00  the rest    program, continued; its length makes up the image
//   0x3000    64 bytes  device and configuration descriptors (vendor 0x3A7E,
//                       the image's product ID, bulk-IN endpoint 0x82)
//   0x3040    64 bytes  string descriptors "TAV" and "ORU120"
// Bytes of the program records that carry nothing else hold the low byte of
// their RAM address XOR the product ID's low byte, so that a record loaded at
// the wrong address, or from another image, shows.

namespace {

constexpr uint16_t kVendorId = 0x3A7E;
constexpr uint16_t kDeviceId = 0x0001;
constexpr uint8_t kConfigByte = 0x04;
constexpr int kRecords = 5;
constexpr long kHeaderBytes = 8;
constexpr long kRunRecordBytes = 5;
constexpr uint16_t kProgramStart = 0x0080;
constexpr uint16_t kDescriptorAddr = 0x3000;
constexpr uint16_t kStringAddr = 0x3040;
constexpr char kSignature[] = "ORU-FX2-CAMERA";
constexpr int kSignatureAt = 3;

struct Record {
    uint16_t address;
    long length;
};

// The third record takes whatever length the image needs.
constexpr std::array<Record, kRecords> RecordsFor(long imageLength)
{
    std::array<Record, kRecords> records = {
        {{0x0000, 2048}, {0x0800, 1024}, {0x0C00, 0}, {kDescriptorAddr, 64}, {kStringAddr, 64}}};
    long fixed = kHeaderBytes + kRunRecordBytes;
    for (const Record &record : records)
        fixed += 4 + record.length;
    records[2].length = imageLength - fixed;
    return records;
}

template <long Length>
class ImageBuilder {
public:
    constexpr explicit ImageBuilder(uint16_t productId) : m_iPid(productId) {}

    constexpr std::array<uint8_t, Length> Build()
    {
        Byte(kLegacyUsb2BootImageMarker);
        Word(kVendorId);
        Word(m_iPid);
        Word(kDeviceId);
        Byte(kConfigByte);
        for (const Record &record : RecordsFor(Length)) {
            Byte(static_cast<uint8_t>(record.length >> 8));
            Byte(static_cast<uint8_t>(record.length & 0xFF));
            Byte(static_cast<uint8_t>(record.address >> 8));
            Byte(static_cast<uint8_t>(record.address & 0xFF));
            const long start = m_lAt;
            for (long i = 0; i < record.length; ++i)
                Byte(static_cast<uint8_t>(((record.address + i) & 0xFF) ^ (m_iPid & 0xFF)));
            if (record.address == 0x0000)
                Program(start);
            else if (record.address == kDescriptorAddr)
                Descriptors(start);
            else if (record.address == kStringAddr)
                Strings(start);
        }
        for (uint8_t byte : {0x80, 0x01, 0xE6, 0x00, 0x00})
            Byte(byte);
        return m_Image;
    }

private:
    constexpr void Byte(uint8_t value) { m_Image[static_cast<size_t>(m_lAt++)] = value; }
    constexpr void Word(uint16_t value)
    {
        Byte(static_cast<uint8_t>(value & 0xFF));
        Byte(static_cast<uint8_t>(value >> 8));
    }
    // Overwrites from `at` on.
    constexpr void Put(long at, std::initializer_list<uint8_t> bytes)
    {
        for (uint8_t byte : bytes)
            m_Image[static_cast<size_t>(at++)] = byte;
    }
    constexpr uint8_t Low(uint16_t value) const { return static_cast<uint8_t>(value & 0xFF); }
    constexpr uint8_t High(uint16_t value) const { return static_cast<uint8_t>(value >> 8); }

    constexpr void Program(long at)
    {
        Put(at, {0x02, High(kProgramStart), Low(kProgramStart)});
        for (int i = 0; kSignature[i] != '\0'; ++i)
            m_Image[static_cast<size_t>(at + kSignatureAt + i)] =
                static_cast<uint8_t>(kSignature[i]);
        m_Image[static_cast<size_t>(at + kSignatureAt + sizeof kSignature - 1)] =
            kLegacyUsb2FirmwareVersion;
        Put(at + kProgramStart, {0x80, 0xFE});
    }

    constexpr void Descriptors(long at)
    {
        Put(at, {18, 0x01, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, Low(kVendorId), High(kVendorId),
                 Low(m_iPid), High(m_iPid), Low(kDeviceId), High(kDeviceId), 1, 2, 0, 1,
                 // configuration, interface 0, bulk-IN endpoint 0x82 of 512 bytes
                 9, 0x02, 25, 0, 1, 1, 0, 0x80, 250, 9, 0x04, 0, 0, 1, 0xFF, 0, 0, 0, 7, 0x05, 0x82,
                 0x02, 0x00, 0x02, 0});
    }

    constexpr void Strings(long at)
    {
        Put(at, {4,    0x03, 0x09, 0x04, 8, 0x03, 'T', 0,   'A', 0,   'V', 0,   14,
                 0x03, 'O',  0,    'R',  0, 'U',  0,   '1', 0,   '2', 0,   '0', 0});
    }

    uint16_t m_iPid;
    long m_lAt = 0;
    std::array<uint8_t, Length> m_Image{};
};

template <long Length>
constexpr std::array<uint8_t, Length> BuildImage(uint16_t productId)
{
    static_assert(RecordsFor(Length)[2].length > 0, "the image holds its fixed records");
    return ImageBuilder<Length>(productId).Build();
}

constexpr auto kImage1005 = BuildImage<4265>(0x1005);
constexpr auto kImage1006 = BuildImage<4238>(0x1006);
constexpr auto kImage1007 = BuildImage<4346>(0x1007);
constexpr auto kImage1008 = BuildImage<4299>(0x1008);

constexpr LegacyUsb2FirmwareImage kImages[] = {
    {0x1005, kImage1005.data(), static_cast<long>(kImage1005.size())},
    {0x1006, kImage1006.data(), static_cast<long>(kImage1006.size())},
    {0x1007, kImage1007.data(), static_cast<long>(kImage1007.size())},
    {0x1008, kImage1008.data(), static_cast<long>(kImage1008.size())},
};

} // namespace

const LegacyUsb2FirmwareImage *LegacyUsb2FirmwareFor(int productId)
{
    for (const LegacyUsb2FirmwareImage &image : kImages)
        if (image.iProductId == productId)
            return &image;
    return nullptr;
}
