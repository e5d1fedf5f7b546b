// The framing rule on its own, where receive boundaries can be placed exactly.

#include "net/HttpFramer.h"

#include <gtest/gtest.h>

namespace {

using State = HttpFramer::State;

TEST(HttpFramer, BodyWithoutLengthIsOnlyWhatCameWithTheBlankLine) {
    HttpFramer framer;
    EXPECT_EQ(framer.Feed("GET / HTTP/1.1\r\nA: b\r"), State::NeedMore);
    EXPECT_EQ(framer.Feed("\n\r"), State::NeedMore);
    EXPECT_EQ(framer.Feed("\nab"), State::Complete);
    EXPECT_EQ(framer.Feed("cd"), State::Complete);
    EXPECT_EQ(framer.Head(), "GET / HTTP/1.1\r\nA: b\r\n\r\n");
    EXPECT_EQ(framer.Body(), "ab");
    EXPECT_EQ(framer.ContentLength(), -1);
    std::string head, body;
    framer.Take(head, body);
    EXPECT_EQ(body, "ab");
    EXPECT_EQ(framer.GetState(), State::NeedMore);
    EXPECT_EQ(framer.Feed("GET /2 HTTP/1.1\r\n\r\n"), State::Complete);
    EXPECT_EQ(framer.Head(), "GET /2 HTTP/1.1\r\n\r\n");
}

TEST(HttpFramer, LengthIsExactZeroAndRepeatedEqualValuesAllowed) {
    HttpFramer framer;
    EXPECT_EQ(framer.Feed("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\nignored"), State::Complete);
    EXPECT_EQ(framer.Body(), "");
    framer.Reset();
    EXPECT_EQ(framer.Feed("POST / HTTP/1.1\r\ncontent-length:3\r\nCONTENT-LENGTH :\t3\t\r\n\r\n"),
              State::NeedMore);
    EXPECT_EQ(framer.Feed("a"), State::NeedMore);
    EXPECT_EQ(framer.Feed("bcdef"), State::Complete);
    EXPECT_EQ(framer.Body(), "abc");
    // The request line is not a header line.
    framer.Reset();
    EXPECT_EQ(framer.Feed("Content-Length: 9\r\n\r\n"), State::Complete);
}

TEST(HttpFramer, HeadAndBodyLimitsAreExact) {
    HttpFrameLimits limits;
    limits.maxHead = 64;
    limits.maxBody = 10;
    const std::string line = "GET / HTTP/1.1\r\nX: ";
    std::string fits = line + std::string(64 - line.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(fits.size(), 64u);
    HttpFramer framer(limits);
    EXPECT_EQ(framer.Feed(fits), State::Complete);
    framer.Reset();
    EXPECT_EQ(framer.Feed(line + std::string(64 - line.size() - 3, 'a') + "\r\n\r\n"),
              State::Rejected);
    framer.Reset();
    EXPECT_EQ(framer.Feed(std::string(65, 'a')), State::Rejected);
    framer.Reset();
    EXPECT_EQ(framer.Feed("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n"), State::NeedMore);
    framer.Reset();
    EXPECT_EQ(framer.Feed("POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n"), State::Rejected);
    EXPECT_EQ(framer.Feed("more"), State::Rejected);
    EXPECT_EQ(framer.Head(), "");

    int64_t length = 0;
    EXPECT_TRUE(
        HttpFramer::FindContentLength("GET / HTTP/1.1\r\nContent-Length: 9223372036854775807"
                                      "\r\n\r\n",
                                      INT64_MAX, length));
    EXPECT_EQ(length, INT64_MAX);
    EXPECT_FALSE(HttpFramer::FindContentLength(
        "GET / HTTP/1.1\r\nContent-Length: 9223372036854775808\r\n\r\n", INT64_MAX, length));
}

TEST(HttpFramer, DroppedBodyIsCountedToItsLengthButNotKept) {
    HttpFramer framer;
    EXPECT_EQ(framer.ReceivedHead(), "");
    EXPECT_EQ(framer.Feed("POST /x HTTP/1.1\r\nContent-Length: 10\r"), State::NeedMore);
    EXPECT_EQ(framer.ReceivedHead(), "");
    framer.DropBody(); // nothing to drop before the head is complete
    EXPECT_FALSE(framer.BodyDropped());
    EXPECT_EQ(framer.Feed("\n\r\n012"), State::NeedMore);
    EXPECT_EQ(framer.ReceivedHead(), "POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\n");
    framer.DropBody();
    EXPECT_TRUE(framer.BodyDropped());
    EXPECT_EQ(framer.Feed("3456"), State::NeedMore);
    EXPECT_EQ(framer.Feed("789EXTRA"), State::Complete);
    EXPECT_EQ(framer.Head(), "POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\n");
    EXPECT_EQ(framer.Body(), "");
    std::string head, body = "old";
    framer.Take(head, body);
    EXPECT_EQ(body, "");
    // The next request on a reused framer keeps its body again.
    EXPECT_FALSE(framer.BodyDropped());
    EXPECT_EQ(framer.Feed("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\na"), State::NeedMore);
    EXPECT_EQ(framer.Feed("b"), State::Complete);
    EXPECT_EQ(framer.Body(), "ab");
}

} // namespace
