#pragma once
// The skin's description: every node the windows look up, pointing into the sheets.

#include "tools/skingen/SkinSheet.h"

#include <json/value.h>

#include <string>

namespace skingen {

struct SheetRef {
    const SkinSheet* sheet;
    int blobId;
};

// The "cfg" tree. missing receives the first picture name no sheet holds (then the tree is
// incomplete and must not be shipped).
Json::Value BuildSkinConfig(const SheetRef& controls, const SheetRef& pictures,
                            std::string& missing);

} // namespace skingen
