// The HTTP client's readers of server bytes: the response head and the chunked body decoder.
// The decoder must give the same result however the bytes are split.

#include "httpclient/CHChunkDecoder.h"
#include "httpclient/ResponseHead.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ResponseHead head = ResponseHead::Parse(bytes);
    (void)head.StatusCode();
    (void)head.ContentLength();
    (void)head.Header("transfer-encoding");

    const size_t limit = 1 << 16;
    CHChunkDecoder whole(limit);
    std::string wholeOut;
    CHChunkDecoder::State wholeState = whole.Feed(bytes, wholeOut);

    size_t split = size == 0 ? 0 : data[0] % (size + 1);
    CHChunkDecoder pieces(limit);
    std::string piecesOut;
    pieces.Feed(bytes.substr(0, split), piecesOut);
    CHChunkDecoder::State piecesState = pieces.Feed(bytes.substr(split), piecesOut);
    if (wholeState != piecesState || wholeOut != piecesOut || wholeOut.size() > limit) {
        std::abort();
    }
    return 0;
}
