#include "media/CHMd5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

inline uint32_t Rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4); // MD5 words are little-endian, as is every platform we build for
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// Keeps the compiler from re-associating the message word and constant into the chain that
// waits for b: those additions are done first, off the critical path (worth ~15%).
#if defined(__GNUC__) || defined(__clang__)
#define MD5_KEEP(v) __asm__("" : "+r"(v))
#else
#define MD5_KEEP(v) (void)0
#endif

// The round functions in forms with short dependency chains: F and I as usual, G split into
// two independent terms that are added separately.
#define MD5_F(a, b, c, d, x, t, s)                                                                 \
    a += (x) + (t);                                                                                \
    MD5_KEEP(a);                                                                                   \
    a += (d ^ (b & (c ^ d)));                                                                      \
    a = Rotl(a, s) + b;
#define MD5_G(a, b, c, d, x, t, s)                                                                 \
    a += (x) + (t) + (~d & c);                                                                     \
    MD5_KEEP(a);                                                                                   \
    a += (d & b);                                                                                  \
    a = Rotl(a, s) + b;
// H takes c ^ d first: c and d are ready before b, so only one xor waits for b.
#define MD5_H(a, b, c, d, x, t, s)                                                                 \
    a += (x) + (t);                                                                                \
    MD5_KEEP(a);                                                                                   \
    a += (b ^ (c ^ d));                                                                            \
    a = Rotl(a, s) + b;
#define MD5_I(a, b, c, d, x, t, s)                                                                 \
    a += (x) + (t);                                                                                \
    MD5_KEEP(a);                                                                                   \
    a += (c ^ (b | ~d));                                                                           \
    a = Rotl(a, s) + b;

constexpr char kHex[] = "0123456789ABCDEF";

void DigestToText(const uint8_t digest[16], char* out) {
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 15];
    }
    out[32] = '\0';
}

void TextOf(const void* bytes, size_t length, char* out) {
    if (bytes == nullptr || length == 0) {
        std::memset(out, '0', 32);
        out[32] = '\0';
        return;
    }
    CHMd5 md5;
    md5.Update(bytes, length);
    uint8_t digest[16];
    md5.Final(digest);
    DigestToText(digest, out);
}

} // namespace

CHMd5::CHMd5() {
    Reset();
}

void CHMd5::Reset() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_count[0] = 0;
    m_count[1] = 0;
    std::memset(m_buffer, 0, sizeof(m_buffer));
}

void CHMd5::Transform(const uint8_t block[64]) {
    TransformBlocks(block, 1);
}

void CHMd5::TransformBlocks(const uint8_t* p, size_t count) {
    uint32_t a0 = m_state[0], b0 = m_state[1], c0 = m_state[2], d0 = m_state[3];
    for (; count > 0; --count, p += 64) {
        uint32_t a = a0, b = b0, c = c0, d = d0;

        MD5_F(a, b, c, d, Load32(p + 0), 0xd76aa478, 7)
        MD5_F(d, a, b, c, Load32(p + 4), 0xe8c7b756, 12)
        MD5_F(c, d, a, b, Load32(p + 8), 0x242070db, 17)
        MD5_F(b, c, d, a, Load32(p + 12), 0xc1bdceee, 22)
        MD5_F(a, b, c, d, Load32(p + 16), 0xf57c0faf, 7)
        MD5_F(d, a, b, c, Load32(p + 20), 0x4787c62a, 12)
        MD5_F(c, d, a, b, Load32(p + 24), 0xa8304613, 17)
        MD5_F(b, c, d, a, Load32(p + 28), 0xfd469501, 22)
        MD5_F(a, b, c, d, Load32(p + 32), 0x698098d8, 7)
        MD5_F(d, a, b, c, Load32(p + 36), 0x8b44f7af, 12)
        MD5_F(c, d, a, b, Load32(p + 40), 0xffff5bb1, 17)
        MD5_F(b, c, d, a, Load32(p + 44), 0x895cd7be, 22)
        MD5_F(a, b, c, d, Load32(p + 48), 0x6b901122, 7)
        MD5_F(d, a, b, c, Load32(p + 52), 0xfd987193, 12)
        MD5_F(c, d, a, b, Load32(p + 56), 0xa679438e, 17)
        MD5_F(b, c, d, a, Load32(p + 60), 0x49b40821, 22)

        MD5_G(a, b, c, d, Load32(p + 4), 0xf61e2562, 5)
        MD5_G(d, a, b, c, Load32(p + 24), 0xc040b340, 9)
        MD5_G(c, d, a, b, Load32(p + 44), 0x265e5a51, 14)
        MD5_G(b, c, d, a, Load32(p + 0), 0xe9b6c7aa, 20)
        MD5_G(a, b, c, d, Load32(p + 20), 0xd62f105d, 5)
        MD5_G(d, a, b, c, Load32(p + 40), 0x02441453, 9)
        MD5_G(c, d, a, b, Load32(p + 60), 0xd8a1e681, 14)
        MD5_G(b, c, d, a, Load32(p + 16), 0xe7d3fbc8, 20)
        MD5_G(a, b, c, d, Load32(p + 36), 0x21e1cde6, 5)
        MD5_G(d, a, b, c, Load32(p + 56), 0xc33707d6, 9)
        MD5_G(c, d, a, b, Load32(p + 12), 0xf4d50d87, 14)
        MD5_G(b, c, d, a, Load32(p + 32), 0x455a14ed, 20)
        MD5_G(a, b, c, d, Load32(p + 52), 0xa9e3e905, 5)
        MD5_G(d, a, b, c, Load32(p + 8), 0xfcefa3f8, 9)
        MD5_G(c, d, a, b, Load32(p + 28), 0x676f02d9, 14)
        MD5_G(b, c, d, a, Load32(p + 48), 0x8d2a4c8a, 20)

        MD5_H(a, b, c, d, Load32(p + 20), 0xfffa3942, 4)
        MD5_H(d, a, b, c, Load32(p + 32), 0x8771f681, 11)
        MD5_H(c, d, a, b, Load32(p + 44), 0x6d9d6122, 16)
        MD5_H(b, c, d, a, Load32(p + 56), 0xfde5380c, 23)
        MD5_H(a, b, c, d, Load32(p + 4), 0xa4beea44, 4)
        MD5_H(d, a, b, c, Load32(p + 16), 0x4bdecfa9, 11)
        MD5_H(c, d, a, b, Load32(p + 28), 0xf6bb4b60, 16)
        MD5_H(b, c, d, a, Load32(p + 40), 0xbebfbc70, 23)
        MD5_H(a, b, c, d, Load32(p + 52), 0x289b7ec6, 4)
        MD5_H(d, a, b, c, Load32(p + 0), 0xeaa127fa, 11)
        MD5_H(c, d, a, b, Load32(p + 12), 0xd4ef3085, 16)
        MD5_H(b, c, d, a, Load32(p + 24), 0x04881d05, 23)
        MD5_H(a, b, c, d, Load32(p + 36), 0xd9d4d039, 4)
        MD5_H(d, a, b, c, Load32(p + 48), 0xe6db99e5, 11)
        MD5_H(c, d, a, b, Load32(p + 60), 0x1fa27cf8, 16)
        MD5_H(b, c, d, a, Load32(p + 8), 0xc4ac5665, 23)

        MD5_I(a, b, c, d, Load32(p + 0), 0xf4292244, 6)
        MD5_I(d, a, b, c, Load32(p + 28), 0x432aff97, 10)
        MD5_I(c, d, a, b, Load32(p + 56), 0xab9423a7, 15)
        MD5_I(b, c, d, a, Load32(p + 20), 0xfc93a039, 21)
        MD5_I(a, b, c, d, Load32(p + 48), 0x655b59c3, 6)
        MD5_I(d, a, b, c, Load32(p + 12), 0x8f0ccc92, 10)
        MD5_I(c, d, a, b, Load32(p + 40), 0xffeff47d, 15)
        MD5_I(b, c, d, a, Load32(p + 4), 0x85845dd1, 21)
        MD5_I(a, b, c, d, Load32(p + 32), 0x6fa87e4f, 6)
        MD5_I(d, a, b, c, Load32(p + 60), 0xfe2ce6e0, 10)
        MD5_I(c, d, a, b, Load32(p + 24), 0xa3014314, 15)
        MD5_I(b, c, d, a, Load32(p + 52), 0x4e0811a1, 21)
        MD5_I(a, b, c, d, Load32(p + 16), 0xf7537e82, 6)
        MD5_I(d, a, b, c, Load32(p + 44), 0xbd3af235, 10)
        MD5_I(c, d, a, b, Load32(p + 8), 0x2ad7d2bb, 15)
        MD5_I(b, c, d, a, Load32(p + 36), 0xeb86d391, 21)

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    m_state[0] = a0;
    m_state[1] = b0;
    m_state[2] = c0;
    m_state[3] = d0;
}

void CHMd5::Update(const void* bytes, size_t length) {
    if (bytes == nullptr || length == 0) {
        return;
    }
    const auto* input = static_cast<const uint8_t*>(bytes);
    size_t index = (m_count[0] >> 3) & 0x3F;
    uint64_t bits = (static_cast<uint64_t>(m_count[1]) << 32 | m_count[0]) +
                    (static_cast<uint64_t>(length) << 3);
    m_count[0] = static_cast<uint32_t>(bits);
    m_count[1] = static_cast<uint32_t>(bits >> 32);

    if (index > 0) {
        size_t take = 64 - index;
        if (length < take) {
            std::memcpy(m_buffer + index, input, length);
            return;
        }
        std::memcpy(m_buffer + index, input, take);
        Transform(m_buffer);
        input += take;
        length -= take;
    }
    size_t blocks = length / 64;
    if (blocks > 0) {
        TransformBlocks(input, blocks);
        input += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0) {
        std::memcpy(m_buffer, input, length);
    }
}

void CHMd5::Final(uint8_t digest[16]) {
    static const uint8_t kPadding[64] = {0x80};
    uint8_t bits[8];
    for (int i = 0; i < 4; ++i) {
        bits[i] = static_cast<uint8_t>(m_count[0] >> (8 * i));
        bits[4 + i] = static_cast<uint8_t>(m_count[1] >> (8 * i));
    }
    size_t index = (m_count[0] >> 3) & 0x3F;
    size_t padLength = index < 56 ? 56 - index : 120 - index;
    Update(kPadding, padLength);
    Update(bits, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<uint8_t>(m_state[i] >> (8 * j));
        }
    }
}

std::string Md5Text(const void* bytes, size_t length) {
    char text[33];
    TextOf(bytes, length, text);
    return std::string(text, 32);
}

const char* Md5TextShared(const void* bytes, size_t length) {
    thread_local char buffer[33];
    TextOf(bytes, length, buffer);
    return buffer;
}

bool Md5FileText(const std::string& path, std::string& text, int64_t* size) {
    text.clear();
    if (size != nullptr) {
        *size = 0;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool statOk = ::fstat(fd, &st) == 0;
    if (!statOk || S_ISDIR(st.st_mode)) {
        int err = statOk ? EISDIR : errno;
        ::close(fd);
        errno = err;
        return false;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    constexpr size_t kChunk = 1 << 20;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    CHMd5 md5;
    int64_t total = 0;
    for (;;) {
        ssize_t n = ::read(fd, buffer.get(), kChunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) {
            break;
        }
        md5.Update(buffer.get(), static_cast<size_t>(n));
        total += n;
    }
    ::close(fd);
    if (size != nullptr) {
        *size = total;
    }
    if (total == 0) {
        text.assign(32, '0'); // the same convention as Md5Text: no bytes, 32 zeros
        return true;
    }
    uint8_t digest[16];
    md5.Final(digest);
    char out[33];
    DigestToText(digest, out);
    text.assign(out, 32);
    return true;
}
