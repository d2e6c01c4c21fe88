#include "transport/LoaderFirmware.h"

// Both parts are zero-filled (0x00 is the 8051 NOP) past their fixed openings.
const uint8_t Vendor1[kVendor1Size] =
    {
        0x02, 0x00, 0x20, // LJMP 0x0020
        'O',  'R',  'U',  '-',  'E',  'E',  'P',  'R',  'O',  'M',  '-',
        'L',  'O',  'A',  'D',  'E',  'R',  0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFE, // 0x0020: SJMP $ (idle; the device
                                                              // side serves the requests)
};

const uint8_t Vendor2[kVendor2Size] = {
    'O', 'R', 'U', '-', 'E', 'E', 'P', 'R', 'O', 'M', '-', 'L', 'O', 'A', 'D', 'E', 'R', '-', '2',
};
