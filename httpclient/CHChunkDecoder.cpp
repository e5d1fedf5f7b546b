#include "httpclient/CHChunkDecoder.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool CHChunkDecoder::ParseSizeLine(std::string_view line, uint64_t& size) {
    constexpr uint64_t kMaxSize = uint64_t(1) << 60;
    size = 0;
    size_t i = 0;
    for (; i < line.size() && HexValue(line[i]) >= 0; ++i) {
        if (size > kMaxSize / 16) {
            return false; // checked before shifting, so no digit can wrap the value round
        }
        size = size * 16 + static_cast<uint64_t>(HexValue(line[i]));
    }
    if (i == 0) {
        return false;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
        ++i;
    }
    return i == line.size() || line[i] == ';';
}

CHChunkDecoder::State CHChunkDecoder::Feed(std::string_view bytes, std::string& out) {
    size_t at = 0;
    while (m_state == State::NeedMore && at < bytes.size()) {
        switch (m_step) {
        case Step::SizeLine: {
            char c = bytes[at++];
            if (m_lineCr) {
                uint64_t size = 0;
                if (c != '\n' || !ParseSizeLine(m_line, size)) {
                    m_state = State::Failed;
                    break;
                }
                m_line.clear();
                m_lineCr = false;
                if (size == 0) {
                    m_state = State::Done;
                } else if (size > m_limit || out.size() > m_limit - size) {
                    m_state = State::Failed;
                } else {
                    m_remaining = size;
                    m_step = Step::Data;
                }
            } else if (c == '\r') {
                m_lineCr = true;
            } else if (c == '\n' || c == '\0' || m_line.size() >= kMaxSizeLine) {
                m_state = State::Failed;
            } else {
                m_line.push_back(c);
            }
            break;
        }
        case Step::Data: {
            size_t take = bytes.size() - at;
            if (take > m_remaining) {
                take = static_cast<size_t>(m_remaining);
            }
            out.append(bytes.data() + at, take);
            at += take;
            m_remaining -= take;
            if (m_remaining == 0) {
                m_step = Step::DataCr;
            }
            break;
        }
        case Step::DataCr:
            if (bytes[at++] != '\r') {
                m_state = State::Failed;
            }
            m_step = Step::DataLf;
            break;
        case Step::DataLf:
            if (bytes[at++] != '\n') {
                m_state = State::Failed;
            }
            m_step = Step::SizeLine;
            break;
        }
    }
    return m_state;
}
