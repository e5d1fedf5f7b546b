#include "pairing/CHQrEncoder.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

// Per version: total codewords, remainder bits, error-correction codewords per block and block
// count for levels L, M, Q, H, and the alignment pattern centre coordinates (0 ends the list).
struct VersionInfo {
    uint16_t total;
    uint8_t remainder;
    uint8_t ecPerBlock[4];
    uint8_t blocks[4];
    uint8_t align[7];
};

constexpr VersionInfo kVersions[41] = {
    {0, 0, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}},
    {26, 0, {7, 10, 13, 17}, {1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0}},                 // 1
    {44, 7, {10, 16, 22, 28}, {1, 1, 1, 1}, {6, 18, 0, 0, 0, 0, 0}},               // 2
    {70, 7, {15, 26, 18, 22}, {1, 1, 2, 2}, {6, 22, 0, 0, 0, 0, 0}},               // 3
    {100, 7, {20, 18, 26, 16}, {1, 2, 2, 4}, {6, 26, 0, 0, 0, 0, 0}},              // 4
    {134, 7, {26, 24, 18, 22}, {1, 2, 4, 4}, {6, 30, 0, 0, 0, 0, 0}},              // 5
    {172, 7, {18, 16, 24, 28}, {2, 4, 4, 4}, {6, 34, 0, 0, 0, 0, 0}},              // 6
    {196, 0, {20, 18, 18, 26}, {2, 4, 6, 5}, {6, 22, 38, 0, 0, 0, 0}},             // 7
    {242, 0, {24, 22, 22, 26}, {2, 4, 6, 6}, {6, 24, 42, 0, 0, 0, 0}},             // 8
    {292, 0, {30, 22, 20, 24}, {2, 5, 8, 8}, {6, 26, 46, 0, 0, 0, 0}},             // 9
    {346, 0, {18, 26, 24, 28}, {4, 5, 8, 8}, {6, 28, 50, 0, 0, 0, 0}},             // 10
    {404, 0, {20, 30, 28, 24}, {4, 5, 8, 11}, {6, 30, 54, 0, 0, 0, 0}},            // 11
    {466, 0, {24, 22, 26, 28}, {4, 8, 10, 11}, {6, 32, 58, 0, 0, 0, 0}},           // 12
    {532, 0, {26, 22, 24, 22}, {4, 9, 12, 16}, {6, 34, 62, 0, 0, 0, 0}},           // 13
    {581, 3, {30, 24, 20, 24}, {4, 9, 16, 16}, {6, 26, 46, 66, 0, 0, 0}},          // 14
    {655, 3, {22, 24, 30, 24}, {6, 10, 12, 18}, {6, 26, 48, 70, 0, 0, 0}},         // 15
    {733, 3, {24, 28, 24, 30}, {6, 10, 17, 16}, {6, 26, 50, 74, 0, 0, 0}},         // 16
    {815, 3, {28, 28, 28, 28}, {6, 11, 16, 19}, {6, 30, 54, 78, 0, 0, 0}},         // 17
    {901, 3, {30, 26, 28, 28}, {6, 13, 18, 21}, {6, 30, 56, 82, 0, 0, 0}},         // 18
    {991, 3, {28, 26, 26, 26}, {7, 14, 21, 25}, {6, 30, 58, 86, 0, 0, 0}},         // 19
    {1085, 3, {28, 26, 30, 28}, {8, 16, 20, 25}, {6, 34, 62, 90, 0, 0, 0}},        // 20
    {1156, 4, {28, 26, 28, 30}, {8, 17, 23, 25}, {6, 28, 50, 72, 94, 0, 0}},       // 21
    {1258, 4, {28, 28, 30, 24}, {9, 17, 23, 34}, {6, 26, 50, 74, 98, 0, 0}},       // 22
    {1364, 4, {30, 28, 30, 30}, {9, 18, 25, 30}, {6, 30, 54, 78, 102, 0, 0}},      // 23
    {1474, 4, {30, 28, 30, 30}, {10, 20, 27, 32}, {6, 28, 54, 80, 106, 0, 0}},     // 24
    {1588, 4, {26, 28, 30, 30}, {12, 21, 29, 35}, {6, 32, 58, 84, 110, 0, 0}},     // 25
    {1706, 4, {28, 28, 28, 30}, {12, 23, 34, 37}, {6, 30, 58, 86, 114, 0, 0}},     // 26
    {1828, 4, {30, 28, 30, 30}, {12, 25, 34, 40}, {6, 34, 62, 90, 118, 0, 0}},     // 27
    {1921, 3, {30, 28, 30, 30}, {13, 26, 35, 42}, {6, 26, 50, 74, 98, 122, 0}},    // 28
    {2051, 3, {30, 28, 30, 30}, {14, 28, 38, 45}, {6, 30, 54, 78, 102, 126, 0}},   // 29
    {2185, 3, {30, 28, 30, 30}, {15, 29, 40, 48}, {6, 26, 52, 78, 104, 130, 0}},   // 30
    {2323, 3, {30, 28, 30, 30}, {16, 31, 43, 51}, {6, 30, 56, 82, 108, 134, 0}},   // 31
    {2465, 3, {30, 28, 30, 30}, {17, 33, 45, 54}, {6, 34, 60, 86, 112, 138, 0}},   // 32
    {2611, 3, {30, 28, 30, 30}, {18, 35, 48, 57}, {6, 30, 58, 86, 114, 142, 0}},   // 33
    {2761, 3, {30, 28, 30, 30}, {19, 37, 51, 60}, {6, 34, 62, 90, 118, 146, 0}},   // 34
    {2876, 0, {30, 28, 30, 30}, {19, 38, 53, 63}, {6, 30, 54, 78, 102, 126, 150}}, // 35
    {3034, 0, {30, 28, 30, 30}, {20, 40, 56, 66}, {6, 24, 50, 76, 102, 128, 154}}, // 36
    {3196, 0, {30, 28, 30, 30}, {21, 43, 59, 70}, {6, 28, 54, 80, 106, 132, 158}}, // 37
    {3362, 0, {30, 28, 30, 30}, {22, 45, 62, 74}, {6, 32, 58, 84, 110, 136, 162}}, // 38
    {3532, 0, {30, 28, 30, 30}, {24, 47, 65, 77}, {6, 26, 54, 82, 110, 138, 166}}, // 39
    {3706, 0, {30, 28, 30, 30}, {25, 49, 68, 81}, {6, 30, 58, 86, 114, 142, 170}}, // 40
};

constexpr int kLevel = CHQrEncoder::kLevelM;
constexpr int kMaxBits = CHQrEncoder::kMaxDataBytes * 8;

// Version ranges whose character-count widths agree: 1-9, 10-26, 27-40.
constexpr int kRangeFirst[3] = {1, 10, 27};
constexpr int kRangeLast[3] = {9, 26, 40};
constexpr int kCountWidth[3][4] = {{10, 9, 8, 8}, {12, 11, 16, 10}, {14, 13, 16, 12}};
constexpr uint32_t kModeIndicator[4] = {0x1, 0x2, 0x4, 0x8};

// Level bits of the format information, indexed by level L, M, Q, H.
constexpr uint32_t kFormatLevelBits[4] = {1, 0, 3, 2};

// Module flags while the symbol is built; the finished matrix holds only 1 or 0.
constexpr uint8_t kDarkData = 0x01;
constexpr uint8_t kDarkFunction = 0x02;
constexpr uint8_t kFunction = 0x04;
constexpr uint8_t kShownDark = 0x80; // colour under the mask being tried

int DataCodewords(int version) {
    const VersionInfo& v = kVersions[version];
    return v.total - v.ecPerBlock[kLevel] * v.blocks[kLevel];
}

struct GaloisTables {
    uint8_t exp[512];
    uint8_t log[256];
};

constexpr GaloisTables MakeGalois() {
    GaloisTables t{};
    int x = 1;
    for (int i = 0; i < 255; ++i) {
        t.exp[i] = static_cast<uint8_t>(x);
        t.log[x] = static_cast<uint8_t>(i);
        x <<= 1;
        if (x & 0x100) {
            x ^= 0x11D;
        }
    }
    for (int i = 255; i < 512; ++i) {
        t.exp[i] = t.exp[i - 255];
    }
    return t;
}

constexpr GaloisTables kGalois = MakeGalois();

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
    if (a == 0 || b == 0) {
        return 0;
    }
    return kGalois.exp[kGalois.log[a] + kGalois.log[b]];
}

// Generator polynomial (x - a^0)(x - a^1)...(x - a^(n-1)) for every error-correction count up to
// 30, coefficients from the highest power down with the leading 1 left out.
using Generators = std::array<std::array<uint8_t, 30>, 31>;

constexpr Generators MakeGenerators() {
    Generators g{};
    for (int n = 1; n <= 30; ++n) {
        uint8_t poly[31] = {1}; // poly[0] is the highest power
        int degree = 0;
        for (int i = 0; i < n; ++i) {
            uint8_t root = kGalois.exp[i];
            uint8_t next[31] = {};
            for (int k = 0; k <= degree; ++k) {
                next[k] ^= poly[k];
                next[k + 1] ^= GfMul(poly[k], root);
            }
            ++degree;
            for (int k = 0; k <= degree; ++k) {
                poly[k] = next[k];
            }
        }
        for (int k = 0; k < n; ++k) {
            g[n][k] = poly[k + 1];
        }
    }
    return g;
}

constexpr Generators kGenerators = MakeGenerators();

int AlnumValue(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    switch (c) {
    case ' ':
        return 36;
    case '$':
        return 37;
    case '%':
        return 38;
    case '*':
        return 39;
    case '+':
        return 40;
    case '-':
        return 41;
    case '.':
        return 42;
    case '/':
        return 43;
    case ':':
        return 44;
    default:
        return -1;
    }
}

// A Shift-JIS double-byte character in the range the Kanji mode can carry.
bool IsKanjiPair(const uint8_t* text, int length, int i) {
    if (i + 1 >= length) {
        return false;
    }
    uint8_t lead = text[i];
    uint8_t next = text[i + 1];
    if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEB)) || next < 0x40) {
        return false;
    }
    if (lead == 0x9F && next > 0xFC) {
        return false;
    }
    if (lead == 0xEB && next > 0xBF) {
        return false;
    }
    return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const uint8_t* text, int length) {
    int i = 0;
    while (i < length) {
        uint8_t c = text[i];
        int extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= length) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            uint8_t t = text[i + k];
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

int ClassOf(const uint8_t* text, int length, int i, bool allowKanji) {
    if (allowKanji && IsKanjiPair(text, length, i)) {
        return CHQrEncoder::kModeKanji;
    }
    uint8_t c = text[i];
    if (c >= '0' && c <= '9') {
        return CHQrEncoder::kModeNumeric;
    }
    if (AlnumValue(c) >= 0) {
        return CHQrEncoder::kModeAlnum;
    }
    return CHQrEncoder::kModeByte;
}

// Bits a segment of n input bytes costs, headers included.
int SegmentBits(int mode, int n, int range) {
    int w = kCountWidth[range][mode];
    switch (mode) {
    case CHQrEncoder::kModeNumeric:
        return 4 + w + 10 * (n / 3) + (n % 3 == 1 ? 4 : n % 3 == 2 ? 7 : 0);
    case CHQrEncoder::kModeAlnum:
        return 4 + w + 11 * (n / 2) + 6 * (n % 2);
    case CHQrEncoder::kModeByte:
        return 4 + w + 8 * n;
    default:
        return 4 + w + 13 * (n / 2);
    }
}

bool MaskBit(int mask, int x, int y) {
    int i = y; // row
    int j = x; // column
    switch (mask) {
    case 0:
        return (i + j) % 2 == 0;
    case 1:
        return i % 2 == 0;
    case 2:
        return j % 3 == 0;
    case 3:
        return (i + j) % 3 == 0;
    case 4:
        return (i / 2 + j / 3) % 2 == 0;
    case 5:
        return (i * j) % 2 + (i * j) % 3 == 0;
    case 6:
        return ((i * j) % 2 + (i * j) % 3) % 2 == 0;
    default:
        return ((i + j) % 2 + (i * j) % 3) % 2 == 0;
    }
}

uint32_t FormatBits(int mask) {
    uint32_t data = (kFormatLevelBits[kLevel] << 3) | static_cast<uint32_t>(mask);
    uint32_t rem = data << 10;
    for (int bit = 14; bit >= 10; --bit) {
        if (rem & (1u << bit)) {
            rem ^= 0x537u << (bit - 10);
        }
    }
    return ((data << 10) | rem) ^ 0x5412;
}

uint32_t VersionBits(int version) {
    uint32_t data = static_cast<uint32_t>(version);
    uint32_t rem = data << 12;
    for (int bit = 17; bit >= 12; --bit) {
        if (rem & (1u << bit)) {
            rem ^= 0x1F25u << (bit - 12);
        }
    }
    return (data << 12) | rem;
}

// Penalty of one row or column. line holds 4 light modules, the size modules, then 4 light
// modules again, so the symbol edge reads as light.
int LinePenalty(const uint8_t* line, int size) {
    int score = 0;
    int run = 1;
    for (int k = 1; k <= size; ++k) {
        if (k < size && line[4 + k] == line[3 + k]) {
            ++run;
            continue;
        }
        if (run >= 5) {
            score += run - 2;
        }
        run = 1;
    }
    // A 15-module window from 4 before a candidate 1:1:3:1:1 pattern to 4 after it: bit 14 is
    // the oldest module. The pattern with its light neighbours is 0 1011101 0 in bits 11-3.
    uint32_t window = 0;
    for (int i = 0; i < size + 8; ++i) {
        window = ((window << 1) | line[i]) & 0x7FFF;
        if (i < 14 || ((window >> 3) & 0x1FF) != 0xBA) {
            continue;
        }
        bool darkBefore = ((window >> 12) & 7) != 0;
        bool darkAfter = (window & 7) != 0;
        if (!(darkBefore && darkAfter)) {
            score += 40;
        }
    }
    return score;
}

int PenaltyOf(const CHQrEncoder::Matrix& m, int size, uint8_t darkFlag) {
    uint8_t line[CHQrEncoder::kMaxSize + 8] = {};
    int score = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            line[4 + x] = (m[x][y] & darkFlag) ? 1 : 0;
        }
        score += LinePenalty(line, size);
    }
    int light = 0;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            line[4 + y] = (m[x][y] & darkFlag) ? 1 : 0;
            light += line[4 + y] ^ 1;
        }
        score += LinePenalty(line, size);
    }
    for (int x = 0; x + 1 < size; ++x) {
        const uint8_t* left = m[x];
        const uint8_t* right = m[x + 1];
        for (int y = 0; y + 1 < size; ++y) {
            uint8_t sum = static_cast<uint8_t>(
                ((left[y] & darkFlag) != 0) + ((left[y + 1] & darkFlag) != 0) +
                ((right[y] & darkFlag) != 0) + ((right[y + 1] & darkFlag) != 0));
            if (sum == 0 || sum == 4) {
                score += 3;
            }
        }
    }
    int k = 50 - light * 100 / (size * size);
    score += 10 * (std::abs(k) / 5);
    return score;
}

} // namespace

CHQrEncoder::CHQrEncoder(int mask) : m_forcedMask(mask >= 0 && mask <= 7 ? mask : -1) {
    Clear();
}

void CHQrEncoder::Clear() {
    m_version = 0;
    m_size = 0;
    m_chosenMask = -1;
    m_bitCount = 0;
    m_segmentCount = 0;
    m_codewordCount = 0;
    for (int& p : m_penalties) {
        p = -1;
    }
}

int CHQrEncoder::Module(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_size || y >= m_size) {
        return 0;
    }
    return m_matrix[x][y] ? 1 : 0;
}

CHQrEncoder::Segment CHQrEncoder::GetSegment(int index) const {
    if (index < 0 || index >= m_segmentCount) {
        return Segment{};
    }
    return m_segments[index];
}

int CHQrEncoder::MaskPenalty(int mask) const {
    return mask >= 0 && mask <= 7 ? m_penalties[mask] : -1;
}

int CHQrEncoder::Penalty(const Matrix& modules, int size) {
    if (size <= 0 || size > kMaxSize) {
        return 0;
    }
    return PenaltyOf(modules, size, 0x01);
}

bool CHQrEncoder::Encode(const char* text) {
    Clear();
    if (text == nullptr) {
        return false;
    }
    size_t length = std::strlen(text);
    if (length == 0 || length > static_cast<size_t>(kMaxTextLength)) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    int n = static_cast<int>(length);
    // Shift-JIS detection would misread UTF-8 text (Chinese names, passwords), so Kanji mode is
    // only considered for input that is not valid UTF-8.
    bool allowKanji = !IsValidUtf8(bytes, n);

    int version = 0;
    for (int range = 0; range < 3 && version == 0; ++range) {
        if (!BuildSegments(bytes, n, allowKanji, range) || !WriteStream(bytes, range)) {
            continue;
        }
        int needed = (m_bitCount + 7) / 8;
        for (int v = kRangeFirst[range]; v <= kRangeLast[range]; ++v) {
            if (DataCodewords(v) >= needed) {
                version = v;
                break;
            }
        }
    }
    if (version == 0) {
        Clear();
        return false;
    }
    m_version = version;
    m_size = 4 * version + 17;

    int dataBits = m_bitCount;
    PadStream(DataCodewords(version));
    m_bitCount = dataBits;
    MakeCodewords();

    PlaceFunctionPatterns();
    PlaceData();

    int mask = m_forcedMask;
    if (mask < 0) {
        int best = -1;
        for (int candidate = 0; candidate < 8; ++candidate) {
            ApplyMask(candidate);
            m_penalties[candidate] = CurrentPenalty();
            if (best < 0 || m_penalties[candidate] < best) {
                best = m_penalties[candidate];
                mask = candidate;
            }
        }
    }
    ApplyMask(mask);
    m_chosenMask = mask;
    for (int x = 0; x < m_size; ++x) {
        for (int y = 0; y < m_size; ++y) {
            m_matrix[x][y] = (m_matrix[x][y] & kShownDark) ? 1 : 0;
        }
    }
    return true;
}

bool CHQrEncoder::BuildSegments(const uint8_t* text, int length, bool allowKanji, int range) {
    m_segmentCount = 0;
    int i = 0;
    while (i < length) {
        int mode = ClassOf(text, length, i, allowKanji);
        int step = mode == kModeKanji ? 2 : 1;
        if (m_segmentCount > 0 && m_segments[m_segmentCount - 1].mode == mode) {
            m_segments[m_segmentCount - 1].length += step;
        } else {
            m_segments[m_segmentCount++] = Segment{mode, step};
        }
        i += step;
    }
    MergeNumericAlnum(range);
    MergeIntoByte(range);
    return m_segmentCount > 0;
}

void CHQrEncoder::Absorb(int into, int from) {
    m_segments[into].length += m_segments[from].length;
    for (int k = from; k + 1 < m_segmentCount; ++k) {
        m_segments[k] = m_segments[k + 1];
    }
    --m_segmentCount;
}

// Joins numeric and alphanumeric neighbours into one alphanumeric segment when that is cheaper
// than keeping them apart and cheaper than letting either side join an adjacent byte segment.
void CHQrEncoder::MergeNumericAlnum(int range) {
    int i = 0;
    while (i + 1 < m_segmentCount) {
        int modeI = m_segments[i].mode;
        int modeJ = m_segments[i + 1].mode;
        int nI = m_segments[i].length;
        int nJ = m_segments[i + 1].length;
        bool mixed = (modeI == kModeNumeric && modeJ == kModeAlnum) ||
                     (modeI == kModeAlnum && modeJ == kModeNumeric);
        if (!mixed) {
            ++i;
            continue;
        }
        int f = SegmentBits(kModeAlnum, nI + nJ, range);
        int e = SegmentBits(modeJ, nJ, range);
        int d = SegmentBits(modeI, nI, range);
        if (f >= e + d) {
            ++i;
            continue;
        }
        if (i > 0 && m_segments[i - 1].mode == kModeByte) {
            int nBefore = m_segments[i - 1].length;
            e += SegmentBits(kModeByte, nBefore + nI, range);
            if (f + SegmentBits(kModeByte, nBefore, range) < e) {
                e = 0;
            }
        } else {
            e = 0;
        }
        if (i + 2 < m_segmentCount && m_segments[i + 2].mode == kModeByte) {
            int nAfter = m_segments[i + 2].length;
            d += SegmentBits(kModeByte, nJ + nAfter, range);
            if (f + SegmentBits(kModeByte, nAfter, range) < d) {
                d = 0;
            }
        } else {
            d = 0;
        }
        if (e == 0 && d == 0) {
            if (i + 2 < m_segmentCount && m_segments[i + 2].mode == kModeAlnum) {
                Absorb(i + 1, i + 2);
            }
            m_segments[i].mode = kModeAlnum;
            Absorb(i, i + 1);
            if (i > 0 && m_segments[i - 1].mode == kModeAlnum) {
                Absorb(i - 1, i);
            }
        } else if ((e == 0 && d != 0) || (e != 0 && d != 0 && e >= d)) {
            m_segments[i + 1].mode = kModeByte;
            Absorb(i + 1, i + 2);
        } else {
            Absorb(i - 1, i);
        }
    }
}

// Folds neighbouring segments into one byte segment wherever that costs fewer bits.
void CHQrEncoder::MergeIntoByte(int range) {
    int headerBits = kCountWidth[range][kModeByte] + 4;
    int j = 0;
    while (j + 1 < m_segmentCount) {
        int f = SegmentBits(m_segments[j + 1].mode, m_segments[j + 1].length, range);
        int g = SegmentBits(m_segments[j].mode, m_segments[j].length, range);
        int b = SegmentBits(kModeByte, m_segments[j].length + m_segments[j + 1].length, range);
        bool byteBefore = j > 0 && m_segments[j - 1].mode == kModeByte;
        bool byteAfter = j + 2 < m_segmentCount && m_segments[j + 2].mode == kModeByte;
        if (byteBefore) {
            b -= headerBits;
        }
        if (byteAfter) {
            b -= headerBits;
        }
        if (b >= f + g) {
            ++j;
            continue;
        }
        m_segments[j].mode = kModeByte;
        Absorb(j, j + 1);
        if (byteAfter) {
            Absorb(j, j + 1);
        }
        if (byteBefore) {
            Absorb(j - 1, j);
            --j;
        }
        j = j > 0 ? j - 1 : 0;
    }
}

bool CHQrEncoder::PutBits(uint32_t value, int count) {
    if (m_bitCount + count > kMaxBits) {
        return false;
    }
    for (int k = count - 1; k >= 0; --k) {
        int byte = m_bitCount / 8;
        int shift = 7 - m_bitCount % 8;
        if (shift == 7) {
            m_data[byte] = 0;
        }
        if ((value >> k) & 1u) {
            m_data[byte] |= static_cast<uint8_t>(1u << shift);
        }
        ++m_bitCount;
    }
    return true;
}

bool CHQrEncoder::WriteStream(const uint8_t* text, int range) {
    m_bitCount = 0;
    int pos = 0;
    for (int s = 0; s < m_segmentCount; ++s) {
        const Segment& seg = m_segments[s];
        int width = kCountWidth[range][seg.mode];
        int count = seg.mode == kModeKanji ? seg.length / 2 : seg.length;
        if (count >= (1 << width)) {
            return false;
        }
        if (!PutBits(kModeIndicator[seg.mode], 4) ||
            !PutBits(static_cast<uint32_t>(count), width)) {
            return false;
        }
        const uint8_t* p = text + pos;
        int n = seg.length;
        bool ok = true;
        switch (seg.mode) {
        case kModeNumeric:
            for (int k = 0; k < n && ok; k += 3) {
                int take = n - k < 3 ? n - k : 3;
                uint32_t value = 0;
                for (int t = 0; t < take; ++t) {
                    value = value * 10 + static_cast<uint32_t>(p[k + t] - '0');
                }
                ok = PutBits(value, take == 3 ? 10 : take == 2 ? 7 : 4);
            }
            break;
        case kModeAlnum:
            for (int k = 0; k < n && ok; k += 2) {
                if (k + 1 < n) {
                    ok = PutBits(
                        static_cast<uint32_t>(AlnumValue(p[k]) * 45 + AlnumValue(p[k + 1])), 11);
                } else {
                    ok = PutBits(static_cast<uint32_t>(AlnumValue(p[k])), 6);
                }
            }
            break;
        case kModeByte:
            for (int k = 0; k < n && ok; ++k) {
                ok = PutBits(p[k], 8);
            }
            break;
        default:
            for (int k = 0; k + 1 < n && ok; k += 2) {
                uint32_t value = (static_cast<uint32_t>(p[k]) << 8) | p[k + 1];
                value -= value - 0x8140 > 0x1EBC ? 0xC140 : 0x8140;
                ok = PutBits(((value >> 8) * 0xC0) + (value & 0xFF), 13);
            }
            break;
        }
        if (!ok) {
            return false;
        }
        pos += n;
    }
    return true;
}

void CHQrEncoder::PadStream(int dataCodewords) {
    int room = dataCodewords * 8 - m_bitCount;
    if (room > 0) {
        PutBits(0, room > 4 ? 4 : room);
    }
    if (m_bitCount % 8 != 0) {
        PutBits(0, 8 - m_bitCount % 8);
    }
    bool toggle = false;
    while (m_bitCount / 8 < dataCodewords) {
        PutBits(toggle ? 0x11 : 0xEC, 8);
        toggle = !toggle;
    }
}

void CHQrEncoder::MakeCodewords() {
    const VersionInfo& info = kVersions[m_version];
    int blocks = info.blocks[kLevel];
    int ecCount = info.ecPerBlock[kLevel];
    int dataTotal = DataCodewords(m_version);
    int shortData = dataTotal / blocks;
    int longBlocks = dataTotal % blocks; // the second group, one codeword more each
    int shortBlocks = blocks - longBlocks;
    auto blockStart = [&](int b) {
        return b * shortData + (b > shortBlocks ? b - shortBlocks : 0);
    };
    auto blockLength = [&](int b) { return shortData + (b >= shortBlocks ? 1 : 0); };

    int out = 0;
    for (int column = 0; column <= shortData; ++column) {
        for (int b = 0; b < blocks; ++b) {
            if (column < blockLength(b)) {
                m_codewords[out++] = m_data[blockStart(b) + column];
            }
        }
    }
    const uint8_t* generator = kGenerators[ecCount].data();
    for (int b = 0; b < blocks; ++b) {
        std::memset(m_rsWork, 0, sizeof(m_rsWork));
        const uint8_t* data = m_data + blockStart(b);
        for (int k = 0; k < blockLength(b); ++k) {
            uint8_t factor = data[k] ^ m_rsWork[0];
            std::memmove(m_rsWork, m_rsWork + 1, static_cast<size_t>(ecCount - 1));
            m_rsWork[ecCount - 1] = 0;
            for (int t = 0; t < ecCount; ++t) {
                m_rsWork[t] ^= GfMul(generator[t], factor);
            }
        }
        for (int t = 0; t < ecCount; ++t) {
            m_codewords[out + t * blocks + b] = m_rsWork[t];
        }
    }
    m_codewordCount = out + ecCount * blocks;
}

void CHQrEncoder::PlaceFinder(int left, int top) {
    for (int dx = -1; dx <= 7; ++dx) {
        for (int dy = -1; dy <= 7; ++dy) {
            int x = left + dx;
            int y = top + dy;
            if (x < 0 || y < 0 || x >= m_size || y >= m_size) {
                continue;
            }
            bool inside = dx >= 0 && dx <= 6 && dy >= 0 && dy <= 6;
            bool ring = dx == 0 || dx == 6 || dy == 0 || dy == 6;
            bool core = dx >= 2 && dx <= 4 && dy >= 2 && dy <= 4;
            m_matrix[x][y] = kFunction | (inside && (ring || core) ? kDarkFunction : 0);
        }
    }
}

void CHQrEncoder::PlaceAlignment(int cx, int cy) {
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            if (m_matrix[cx + dx][cy + dy] & kFunction) {
                return; // overlaps a finder pattern
            }
        }
    }
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            int ring = std::abs(dx) > std::abs(dy) ? std::abs(dx) : std::abs(dy);
            m_matrix[cx + dx][cy + dy] = kFunction | (ring != 1 ? kDarkFunction : 0);
        }
    }
}

void CHQrEncoder::PlaceFormat(int mask) {
    uint32_t bits = FormatBits(mask);
    auto set = [&](int x, int y, int bit) {
        m_matrix[x][y] = kFunction | (((bits >> bit) & 1u) ? kDarkFunction : 0);
    };
    for (int i = 0; i <= 5; ++i) {
        set(8, i, i);
    }
    set(8, 7, 6);
    set(8, 8, 7);
    set(7, 8, 8);
    for (int i = 9; i < 15; ++i) {
        set(14 - i, 8, i);
    }
    for (int i = 0; i < 8; ++i) {
        set(m_size - 1 - i, 8, i);
    }
    for (int i = 8; i < 15; ++i) {
        set(8, m_size - 15 + i, i);
    }
    m_matrix[8][m_size - 8] = kFunction | kDarkFunction;
}

void CHQrEncoder::PlaceVersion() {
    if (m_version < 7) {
        return;
    }
    uint32_t bits = VersionBits(m_version);
    for (int i = 0; i < 18; ++i) {
        uint8_t value = kFunction | (((bits >> i) & 1u) ? kDarkFunction : 0);
        int a = m_size - 11 + i % 3;
        int b = i / 3;
        m_matrix[a][b] = value;
        m_matrix[b][a] = value;
    }
}

void CHQrEncoder::PlaceFunctionPatterns() {
    for (int x = 0; x < m_size; ++x) {
        std::memset(m_matrix[x], 0, static_cast<size_t>(m_size));
    }
    PlaceFinder(0, 0);
    PlaceFinder(m_size - 7, 0);
    PlaceFinder(0, m_size - 7);
    const uint8_t* align = kVersions[m_version].align;
    for (int a = 0; a < 7 && align[a] != 0; ++a) {
        for (int b = 0; b < 7 && align[b] != 0; ++b) {
            PlaceAlignment(align[a], align[b]);
        }
    }
    // Timing patterns run between the finders; where an alignment pattern crosses them it
    // already carries the same colours.
    for (int i = 8; i < m_size - 8; ++i) {
        if (!(m_matrix[i][6] & kFunction)) {
            m_matrix[i][6] = kFunction | (i % 2 == 0 ? kDarkFunction : 0);
        }
        if (!(m_matrix[6][i] & kFunction)) {
            m_matrix[6][i] = kFunction | (i % 2 == 0 ? kDarkFunction : 0);
        }
    }
    PlaceFormat(0); // reserves the format areas; the chosen mask rewrites them
    PlaceVersion();
}

void CHQrEncoder::PlaceData() {
    int totalBits = m_codewordCount * 8;
    int bit = 0;
    for (int right = m_size - 1; right >= 1; right -= 2) {
        if (right == 6) {
            right = 5; // the vertical timing column is skipped
        }
        bool upward = ((right + 1) & 2) == 0;
        for (int step = 0; step < m_size; ++step) {
            int y = upward ? m_size - 1 - step : step;
            for (int j = 0; j < 2; ++j) {
                int x = right - j;
                if (m_matrix[x][y] & kFunction) {
                    continue;
                }
                if (bit < totalBits && ((m_codewords[bit / 8] >> (7 - bit % 8)) & 1u)) {
                    m_matrix[x][y] = kDarkData;
                }
                ++bit; // modules past the codewords are remainder bits and stay light
            }
        }
    }
}

void CHQrEncoder::ApplyMask(int mask) {
    PlaceFormat(mask);
    for (int x = 0; x < m_size; ++x) {
        for (int y = 0; y < m_size; ++y) {
            uint8_t m = m_matrix[x][y] & static_cast<uint8_t>(~kShownDark);
            bool dark = (m & kFunction) ? (m & kDarkFunction) != 0
                                        : ((m & kDarkData) != 0) != MaskBit(mask, x, y);
            m_matrix[x][y] = m | (dark ? kShownDark : 0);
        }
    }
}

int CHQrEncoder::CurrentPenalty() const {
    return PenaltyOf(m_matrix, m_size, kShownDark);
}
