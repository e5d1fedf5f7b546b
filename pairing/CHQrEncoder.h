#pragma once
// QR Code Model 2 encoder (ISO/IEC 18004) at error-correction level M. All working storage lives
// inside the object; encoding allocates nothing. The object is large (about 60 KiB), so keep it
// on the heap or in static storage rather than on a small stack.

#include <cstddef>
#include <cstdint>

class CHQrEncoder {
public:
    enum Level { kLevelL = 0, kLevelM = 1, kLevelQ = 2, kLevelH = 3 };
    enum Mode { kModeNumeric = 0, kModeAlnum = 1, kModeByte = 2, kModeKanji = 3 };

    static constexpr int kMaxSize = 177;
    static constexpr int kMaxDataBytes = 2956; // the longest data stream of any symbol
    static constexpr int kMaxCodewords = 3706;
    // No text longer than this fits any symbol (version 40 numeric), so longer input fails
    // before any work is done; it also bounds the segment list.
    static constexpr int kMaxTextLength = 7089;

    using Matrix = uint8_t[kMaxSize][kMaxSize]; // [x][y]

    struct Segment {
        int mode = kModeByte;
        int length = 0; // bytes of input (two per Kanji character)
    };

    // mask: 0-7 forces that pattern; -1 (what the program uses) picks the lowest penalty.
    explicit CHQrEncoder(int mask = -1);
    CHQrEncoder(const CHQrEncoder&) = delete;
    CHQrEncoder& operator=(const CHQrEncoder&) = delete;

    // Encodes the zero-terminated text. False for a null or empty text or one that does not fit
    // version 40; no symbol remains then.
    bool Encode(const char* text);

    bool HasSymbol() const { return m_version != 0; }
    int Version() const { return m_version; }
    int Size() const { return m_size; }
    int Mask() const { return m_chosenMask; }
    // 1 for a dark module, 0 for light or outside the symbol.
    int Module(int x, int y) const;

    // The segment list and data bit count of the last successful encoding.
    int SegmentCount() const { return m_segmentCount; }
    Segment GetSegment(int index) const;
    int DataBits() const { return m_bitCount; }
    // Penalty each mask scored during the last automatic selection (-1 when not evaluated).
    int MaskPenalty(int mask) const;

    // Penalty score of a finished dark(1)/light(0) symbol of the given size.
    static int Penalty(const Matrix& modules, int size);

private:
    void Clear();
    bool BuildSegments(const uint8_t* text, int length, bool allowKanji, int range);
    void MergeNumericAlnum(int range);
    void MergeIntoByte(int range);
    void Absorb(int into, int from);
    bool WriteStream(const uint8_t* text, int range);
    bool PutBits(uint32_t value, int count);
    void PadStream(int dataCodewords);
    void MakeCodewords();
    void PlaceFunctionPatterns();
    void PlaceFinder(int left, int top);
    void PlaceAlignment(int cx, int cy);
    void PlaceFormat(int mask);
    void PlaceVersion();
    void PlaceData();
    void ApplyMask(int mask);
    int CurrentPenalty() const;

    int m_forcedMask;
    int m_version = 0;
    int m_size = 0;
    int m_chosenMask = -1;
    int m_penalties[8];

    Matrix m_matrix;

    uint8_t m_data[kMaxDataBytes];
    int m_bitCount = 0;

    Segment m_segments[kMaxTextLength];
    int m_segmentCount = 0;

    uint8_t m_codewords[kMaxCodewords];
    int m_codewordCount = 0;
    uint8_t m_rsWork[256];
};
