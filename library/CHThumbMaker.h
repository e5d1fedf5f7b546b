#pragma once
// Makes thumbnails from photo bytes on a small pool of low-priority threads under a memory
// budget. Callers wait their turn instead of all decoding at once, so a burst of requests for
// huge images neither exhausts memory nor takes every processor from the network threads. An
// image whose pixel count is absurd for its file size (a decompression bomb), or whose decoding
// would need more than the whole budget, is refused before any pixel is decoded.

#include "media/CHBitmap.h"
#include "media/ImageHeader.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class CHThumbMaker {
public:
    static constexpr int kThreads = 2;
    static constexpr int64_t kMemoryBudget = int64_t{768} << 20;
    // Images up to this many pixels are never taken for bombs ...
    static constexpr uint64_t kPlainPixels = uint64_t{1} << 24;
    // ... larger ones are when each byte of the file stands for more pixels than this. Camera
    // photos have a few pixels per byte, even flat screenshots far below this.
    static constexpr uint64_t kMaxPixelsPerByte = 256;

    enum class Result { Made, Refused, Failed };

    explicit CHThumbMaker(int threads = kThreads, int64_t budget = kMemoryBudget);
    ~CHThumbMaker(); // waits for the running jobs, joins the threads
    CHThumbMaker(const CHThumbMaker&) = delete;
    CHThumbMaker& operator=(const CHThumbMaker&) = delete;

    // The thumbnail bitmap of a photo file's bytes (sides <= 0 follow the aspect ratio), made
    // on the pool; blocks until it is done. Failed: the bytes cannot be decoded.
    Result MakeBitmap(std::string_view photo, int width, int height, CHBitmap& bitmap);
    // The same, encoded as JPEG.
    Result MakeJpeg(std::string_view photo, int width, int height, std::string& jpeg);

    // True when the header names an image too large for a file of fileBytes to hold honestly.
    static bool IsAbsurd(const ImageHeader& header, size_t fileBytes);
    // Bytes a thumbnail of that size needs while it is made: the decoded image (a JPEG decodes
    // at a reduced scale, but a progressive one keeps coefficients of the whole image), its
    // upright copy and the result.
    static int64_t EstimateMemory(const ImageHeader& header, int width, int height);

    // The most memory reserved at once so far (tests).
    int64_t PeakReserved() const;

private:
    struct Job;
    void Work();
    bool Startable(const Job& job) const;

    const int m_threadCount;
    const int64_t m_budget;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job*> m_queue;
    std::vector<std::thread> m_threads;
    int64_t m_reserved = 0;
    int64_t m_peak = 0;
    int m_running = 0;
    bool m_stopping = false;
};
