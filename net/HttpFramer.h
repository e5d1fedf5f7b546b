#pragma once
// Recognises the end of one HTTP request in the bytes received on a connection: the blank line
// that ends the header block plus an optional Content-Length body. No sockets involved, so the
// rule can be tested and fuzzed on its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct HttpFrameLimits {
    static constexpr size_t kDefaultMaxHead = 64 * 1024;
    static constexpr int64_t kDefaultMaxBody = 256LL * 1024 * 1024;
    size_t maxHead = kDefaultMaxHead;  // bytes of the header block including the blank line
    int64_t maxBody = kDefaultMaxBody; // largest Content-Length accepted
};

class HttpFramer {
public:
    enum class State {
        NeedMore, // keep receiving
        Complete, // Head() and Body() hold the request
        Rejected, // malformed or over a limit: close without a response
    };

    explicit HttpFramer(HttpFrameLimits limits = {});

    // Appends received bytes and applies the framing rule. Without Content-Length the body is
    // whatever arrived together with the blank line; with it, exactly that many bytes (later
    // bytes are dropped). Once Complete or Rejected, further bytes are ignored.
    State Feed(std::string_view bytes);
    State GetState() const { return m_state; }
    // Forgets everything; keeps allocated capacity unless it is large.
    void Reset();

    // Valid once Complete.
    std::string_view Head() const;
    std::string_view Body() const;
    // Moves the head and body out (empty unless Complete) and resets the framer.
    void Take(std::string& head, std::string& body);

    // -1 when the head has no Content-Length; valid once the head is complete.
    int64_t ContentLength() const { return m_contentLength; }

    // The header block while the body is still arriving (empty before the blank line came).
    std::string_view ReceivedHead() const;
    // From now on body bytes only count towards Content-Length and are not kept; the body
    // handed out when Complete is empty. For requests whose body nobody will read: memory
    // then stays at one head per connection however large the announced body.
    void DropBody();
    bool BodyDropped() const { return m_dropBody; }
    // Body bytes received so far, kept or dropped, and those kept.
    uint64_t BodyReceived() const { return m_body.size() + m_dropped; }
    uint64_t BodyKept() const { return m_body.size(); }

    // Reads the Content-Length of a complete header block (up to and including the blank line).
    // Returns false when a Content-Length header is malformed, negative, overflowing, above
    // maxBody or given twice with different values. length is -1 when there is none.
    static bool FindContentLength(std::string_view head, int64_t maxBody, int64_t& length);

private:
    HttpFrameLimits m_limits;
    State m_state = State::NeedMore;
    std::string m_head; // everything until the blank line has been seen, then the head
    std::string m_body;
    size_t m_headLength = 0; // 0 while the blank line has not been seen
    size_t m_scanned = 0;    // bytes already searched for the blank line
    int64_t m_contentLength = -1;
    bool m_dropBody = false;
    uint64_t m_dropped = 0; // body bytes received and not kept
};
