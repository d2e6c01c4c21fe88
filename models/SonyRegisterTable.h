// The form of the Sony-style sensor register tables: rows of two 16-bit
// words, (address, data). The low byte of data goes to the 8-bit sensor
// register at address, except that the address kRegisterPause waits data
// milliseconds. Rows are played strictly in order.
#pragma once

#include <cstdint>

constexpr uint16_t kRegisterPause = 0xFFFF;
