#pragma once
// Screenshots compared with reference pictures kept in the source tree. Fonts and
// anti-aliasing differ a little between machines, so a pixel counts as different only beyond a
// per-channel tolerance, and a small share of different pixels is allowed. Areas that change
// from run to run (host name, address, clock) are masked: painted magenta in both pictures.
//
// With VELLUMO_UPDATE_REFERENCES set, a comparison writes the (masked) screenshot as the new
// reference instead (tools/update-ui-references.sh).

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct ImageArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct ReferenceOptions {
    int tolerance = 48;           // largest difference of a channel still counted equal
    double allowedShare = 0.01;   // share of compared pixels that may differ
    std::vector<ImageArea> masks; // not compared
};

struct ReferenceResult {
    bool matches = false;
    bool updated = false; // VELLUMO_UPDATE_REFERENCES: the reference was rewritten
    std::string report;   // why not, and where the difference picture was written
};

// Compares the PNG screenshot with the reference PNG. On a mismatch a picture of the
// differences (red) is written beside the screenshot.
ReferenceResult CompareWithReference(const fs::path& screenshot, const fs::path& reference,
                                     const ReferenceOptions& options);
