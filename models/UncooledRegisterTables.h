// The sensor initialisation table of the ORU462MC and its mono twin, in the
// form of SonyRegisterTable.h, on the older register map (16-bit addresses
// from 0x3000).
#pragma once

#include <cstdint>

#include "models/SonyRegisterTable.h"

constexpr int kUncooledInitRows = 73;

// Puts the sensor in standby with its read-out stopped, selects window
// cropping and loads its analogue settings; played at initialisation and at
// the start of every InitSensorMode.
extern const uint16_t kUncooledInitTable[kUncooledInitRows][2];
