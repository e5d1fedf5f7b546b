#pragma once
// Randomness from getrandom(2), the stand-in for GUIDs.

#include <array>
#include <cstddef>
#include <cstdint>

// Fills the buffer with random bytes; never fails (falls back to /dev/urandom).
void RandomBytes(void* buffer, size_t length);

// A GUID in the Windows layout: Data1 (32), Data2 (16), Data3 (16), Data4 (8 bytes).
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};
};
Guid NewGuid();
