#pragma once
// MD5 (RFC 1321) and its text form.

#include <cstddef>
#include <cstdint>
#include <string>

class CHMd5 {
public:
    CHMd5();
    void Update(const void* bytes, size_t length);
    // Finishes the computation; the object must be Reset before reuse.
    void Final(uint8_t digest[16]);
    void Reset();

private:
    void Transform(const uint8_t block[64]);
    // Runs count consecutive 64-byte blocks with the chaining words kept in registers.
    void TransformBlocks(const uint8_t* blocks, size_t count);

    uint32_t m_state[4];
    uint32_t m_count[2]; // message length in bits, low and high word
    uint8_t m_buffer[64];
};

// 32 upper-case hex digits of the digest; 32 zeros when bytes is null or length is 0.
std::string Md5Text(const void* bytes, size_t length);
// The shared-buffer form: the text lives in a per-thread buffer until the thread's next call.
const char* Md5TextShared(const void* bytes, size_t length);
// Streams a file through MD5. False (and text empty) when the file cannot be read completely.
bool Md5FileText(const std::string& path, std::string& text, int64_t* size = nullptr);
