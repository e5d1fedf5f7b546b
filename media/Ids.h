#pragma once

#include <cstdint>
#include <filesystem>

// First 8 bytes of a fresh GUID as a little-endian 64-bit value.
uint64_t NewId64();
// GetTempDir() + 32 lower-case hex digits of a fresh GUID + ".jpg".
std::filesystem::path NewTempImagePath();
