#include "platform/Random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool FromUrandom(uint8_t* out, size_t length) {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, out + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return true;
}

} // namespace

void RandomBytes(void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::getrandom(out + done, length - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // ENOSYS and the like: fall back below
        }
        done += static_cast<size_t>(n);
    }
    if (done < length && !FromUrandom(out + done, length - done)) {
        // Last resort so that identifiers still differ: a counter mixed with the clock.
        static unsigned long counter = 0;
        for (size_t i = done; i < length; ++i) {
            counter = counter * 6364136223846793005UL + 1442695040888963407UL +
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&counter) >> 4);
            out[i] = static_cast<uint8_t>(counter >> 56);
        }
    }
}

Guid NewGuid() {
    uint8_t bytes[16];
    RandomBytes(bytes, sizeof(bytes));
    // Version 4 and the RFC 4122 variant, as CoCreateGuid gives.
    Guid guid;
    std::memcpy(&guid.data1, bytes, 4);
    std::memcpy(&guid.data2, bytes + 4, 2);
    std::memcpy(&guid.data3, bytes + 6, 2);
    guid.data3 = static_cast<uint16_t>((guid.data3 & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) {
        guid.data4[i] = bytes[8 + i];
    }
    guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);
    return guid;
}
