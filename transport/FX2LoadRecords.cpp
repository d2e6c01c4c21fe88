#include "transport/FX2LoadRecords.h"

#include <cstring>

namespace {
constexpr long kFirstRecord = 8;
constexpr long kRecordHeader = 4;
constexpr uint8_t kRunRecord[kRecordHeader] = {0x80, 0x01, 0xE6, 0x00};

uint16_t BigEndian16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}
} // namespace

void ForEachFX2LoadRecord(uint8_t *image, long length,
                          const std::function<void(const FX2LoadRecord &)> &load)
{
    long offset = kFirstRecord;
    while (offset + kRecordHeader <= length &&
           std::memcmp(image + offset, kRunRecord, kRecordHeader) != 0) {
        const long recordLength = BigEndian16(image + offset);
        const uint16_t address = BigEndian16(image + offset + 2);
        if (offset + kRecordHeader + recordLength > length)
            return;
        load({address, image + offset + kRecordHeader, recordLength});
        offset += kRecordHeader + recordLength;
    }
}
