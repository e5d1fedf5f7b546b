#include "net/HttpFramer.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kLengthName = "content-length";
// A context that once held a large request gives the memory back when it is reused.
constexpr size_t kKeptCapacity = 64 * 1024;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) {
        return false;
    }
    for (size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (LowerAscii(text[i]) != lowerPrefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view TrimSpaceTab(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Strict decimal: digits only, at least one, no sign, no overflow past limit.
bool ParseLength(std::string_view text, int64_t limit, int64_t& value) {
    if (text.empty()) {
        return false;
    }
    int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        if (result > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    if (result > limit) {
        return false;
    }
    value = result;
    return true;
}

} // namespace

HttpFramer::HttpFramer(HttpFrameLimits limits) : m_limits(limits) {}

bool HttpFramer::FindContentLength(std::string_view head, int64_t maxBody, int64_t& length) {
    length = -1;
    // Header lines start after the request line; each ends with CRLF.
    size_t lineStart = head.find("\r\n");
    if (lineStart == std::string_view::npos) {
        return true;
    }
    lineStart += 2;
    while (lineStart < head.size()) {
        size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = head.size();
        }
        std::string_view line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (!StartsWithNoCase(line, kLengthName)) {
            continue;
        }
        std::string_view rest = line.substr(kLengthName.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.front() != ':') {
            continue; // another header whose name merely begins the same way
        }
        int64_t value = 0;
        if (!ParseLength(TrimSpaceTab(rest.substr(1)), maxBody, value)) {
            return false;
        }
        if (length >= 0 && length != value) {
            return false;
        }
        length = value;
    }
    return true;
}

HttpFramer::State HttpFramer::Feed(std::string_view bytes) {
    if (m_state != State::NeedMore) {
        return m_state;
    }
    if (m_headLength == 0) {
        m_head.append(bytes);
        // The terminator may straddle the previous receive.
        size_t from = m_scanned >= kHeadEnd.size() - 1 ? m_scanned - (kHeadEnd.size() - 1) : 0;
        size_t at = m_head.find(kHeadEnd, from);
        if (at == std::string::npos) {
            m_scanned = m_head.size();
            if (m_head.size() > m_limits.maxHead) {
                m_state = State::Rejected;
            }
            return m_state;
        }
        m_headLength = at + kHeadEnd.size();
        if (m_headLength > m_limits.maxHead) {
            m_state = State::Rejected;
            return m_state;
        }
        int64_t length = -1;
        if (!FindContentLength(std::string_view(m_head).substr(0, m_headLength), m_limits.maxBody,
                               length)) {
            m_state = State::Rejected;
            return m_state;
        }
        m_contentLength = length;
        // Bytes after the blank line start the body.
        std::string_view rest = std::string_view(m_head).substr(m_headLength);
        if (m_contentLength >= 0 && rest.size() > static_cast<uint64_t>(m_contentLength)) {
            rest = rest.substr(0, static_cast<size_t>(m_contentLength));
        }
        m_body.assign(rest);
        m_head.resize(m_headLength);
        if (m_contentLength < 0 || m_body.size() == static_cast<uint64_t>(m_contentLength)) {
            // Without a length the body is what arrived together with the head.
            m_state = State::Complete;
        }
        return m_state;
    }
    const uint64_t have = m_dropBody ? m_dropped : m_body.size();
    const size_t take =
        std::min(bytes.size(), static_cast<size_t>(static_cast<uint64_t>(m_contentLength) - have));
    if (m_dropBody) {
        m_dropped += take;
    } else {
        m_body.append(bytes.substr(0, take));
    }
    if (have + take == static_cast<uint64_t>(m_contentLength)) {
        m_state = State::Complete;
    }
    return m_state;
}

std::string_view HttpFramer::ReceivedHead() const {
    return m_headLength == 0 ? std::string_view()
                             : std::string_view(m_head).substr(0, m_headLength);
}

void HttpFramer::DropBody() {
    if (m_headLength == 0 || m_dropBody || m_state != State::NeedMore) {
        return;
    }
    m_dropped = m_body.size();
    m_body = std::string();
    m_dropBody = true;
}

void HttpFramer::Reset() {
    m_state = State::NeedMore;
    m_head.clear();
    m_body.clear();
    if (m_head.capacity() > kKeptCapacity) {
        m_head.shrink_to_fit();
    }
    if (m_body.capacity() > kKeptCapacity) {
        m_body.shrink_to_fit();
    }
    m_headLength = 0;
    m_scanned = 0;
    m_contentLength = -1;
    m_dropBody = false;
    m_dropped = 0;
}

std::string_view HttpFramer::Head() const {
    return m_state == State::Complete ? std::string_view(m_head) : std::string_view();
}

std::string_view HttpFramer::Body() const {
    return m_state == State::Complete ? std::string_view(m_body) : std::string_view();
}

void HttpFramer::Take(std::string& head, std::string& body) {
    if (m_state == State::Complete) {
        head = std::move(m_head);
        body = std::move(m_body);
    } else {
        head.clear();
        body.clear();
    }
    m_head = std::string();
    m_body = std::string();
    Reset();
}
