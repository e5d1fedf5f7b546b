#pragma once
// The skin package container: ".uir", the JSON text's length and bytes, then a count of blobs,
// each an id, a size and its bytes (little-endian 32-bit integers, no padding). Reading never
// looks outside the given bytes.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SkinPackageContents {
    std::string_view json;                     // trailing NUL bytes removed
    std::map<int32_t, std::string_view> blobs; // views into the package bytes
};

// Splits a package. False when the magic is wrong or any length, count or size runs past the
// end. A later duplicate id replaces an earlier one; ids above the signed 32-bit range are
// skipped. Bytes after the last blob are ignored.
bool ParseSkinPackage(std::string_view bytes, SkinPackageContents& out);

// Builds a package from a JSON text and (id, bytes) blobs, in the given order.
std::string BuildSkinPackage(std::string_view json,
                             const std::vector<std::pair<uint32_t, std::string>>& blobs);
