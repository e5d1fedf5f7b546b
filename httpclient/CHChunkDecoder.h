#pragma once
// Decodes a chunked transfer-coded body from bytes as they arrive. No sockets involved, so the
// rules can be tested at every byte boundary and fuzzed on their own.
//
// Strict: a size line is hexadecimal digits, optionally followed by blanks and a ";" extension
// (ignored), ended by CRLF; the data of every chunk must be followed by CRLF. The zero-size chunk
// ends the body; whatever follows it (trailers) is not read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CHChunkDecoder {
public:
    enum class State {
        NeedMore, // feed more bytes
        Done,     // the zero-size chunk arrived
        Failed,   // malformed, or the body would pass the limit
    };

    // A size line (digits and extension) longer than this fails.
    static constexpr size_t kMaxSizeLine = 4096;

    explicit CHChunkDecoder(size_t limit) : m_limit(limit) {}

    // Appends the chunk data found in bytes to out. Once Done or Failed, bytes are ignored.
    State Feed(std::string_view bytes, std::string& out);
    State GetState() const { return m_state; }

    // Parses one size line without its CRLF; false when malformed or over 2^60.
    static bool ParseSizeLine(std::string_view line, uint64_t& size);

private:
    enum class Step { SizeLine, Data, DataCr, DataLf };

    size_t m_limit;
    State m_state = State::NeedMore;
    Step m_step = Step::SizeLine;
    std::string m_line;
    bool m_lineCr = false; // the size line's CR was seen
    uint64_t m_remaining = 0;
};
