#include "library/CHThumbMaker.h"

#include "media/CHFitPlan.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <future>

namespace {

// Below the network threads: making thumbnails may take the processors only when they idle.
constexpr int kNiceness = 10;

int64_t ScaledJpegPixels(const ImageHeader& header, int width, int height) {
    CHFitPlan plan;
    double scale = 1.0;
    if (CHFitPlan::Make(header.width, header.height, width, height, plan)) {
        scale = std::clamp(plan.MinSourceScale(), 0.125, 1.0);
    }
    // The decoder picks the smallest M/8 not below the scale.
    const double eighths = std::ceil(scale * 8.0 - 1e-9) / 8.0;
    const auto w = static_cast<int64_t>(std::ceil(header.width * eighths));
    const auto h = static_cast<int64_t>(std::ceil(header.height * eighths));
    return w * h;
}

} // namespace

struct CHThumbMaker::Job {
    std::string_view photo;
    int width = 0;
    int height = 0;
    int64_t memory = 0;
    CHBitmap bitmap;
    bool made = false;
    std::promise<void> done;
};

CHThumbMaker::CHThumbMaker(int threads, int64_t budget)
    : m_threadCount(std::max(1, threads)), m_budget(budget) {}

CHThumbMaker::~CHThumbMaker() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

bool CHThumbMaker::IsAbsurd(const ImageHeader& header, size_t fileBytes) {
    const uint64_t pixels =
        static_cast<uint64_t>(header.width) * static_cast<uint64_t>(header.height);
    return pixels > kPlainPixels && pixels / kMaxPixelsPerByte > fileBytes;
}

int64_t CHThumbMaker::EstimateMemory(const ImageHeader& header, int width, int height) {
    const int64_t full = int64_t{header.width} * header.height;
    int64_t decoded = full;
    int64_t coefficients = 0;
    if (header.format == ImageFormat::Jpeg) {
        decoded = ScaledJpegPixels(header, width, height);
        coefficients = full * 3;
    }
    CHFitPlan plan;
    int64_t result = 0;
    if (CHFitPlan::Make(header.width, header.height, width, height, plan)) {
        result = int64_t{plan.width} * plan.height * 4;
    }
    return decoded * 4 * 2 + coefficients + result;
}

int64_t CHThumbMaker::PeakReserved() const {
    std::lock_guard lock(m_lock);
    return m_peak;
}

bool CHThumbMaker::Startable(const Job& job) const {
    // In arrival order; the first waiting job starts as soon as its memory fits, or alone.
    return m_running < m_threadCount && (m_reserved == 0 || m_reserved + job.memory <= m_budget);
}

CHThumbMaker::Result CHThumbMaker::MakeBitmap(std::string_view photo, int width, int height,
                                              CHBitmap& bitmap) {
    ImageHeader header;
    if (!ReadImageHeader(photo, header)) {
        // Not a format whose size can be read first: left to the decoder, which fails.
        header = ImageHeader();
    } else if (IsAbsurd(header, photo.size())) {
        return Result::Refused;
    }
    Job job;
    job.photo = photo;
    job.width = width;
    job.height = height;
    job.memory = header.width > 0 ? EstimateMemory(header, width, height) : 0;
    if (job.memory > m_budget) {
        return Result::Refused;
    }
    std::future<void> done = job.done.get_future();
    {
        std::lock_guard lock(m_lock);
        if (m_stopping) {
            return Result::Failed;
        }
        m_queue.push_back(&job);
        if (static_cast<int>(m_threads.size()) < m_threadCount) {
            m_threads.emplace_back([this] { Work(); });
        }
    }
    m_wake.notify_all();
    done.wait();
    if (!job.made) {
        return Result::Failed;
    }
    bitmap = std::move(job.bitmap);
    return Result::Made;
}

CHThumbMaker::Result CHThumbMaker::MakeJpeg(std::string_view photo, int width, int height,
                                            std::string& jpeg) {
    jpeg.clear();
    CHBitmap bitmap;
    const Result result = MakeBitmap(photo, width, height, bitmap);
    if (result != Result::Made) {
        return result;
    }
    return bitmap.EncodeJpeg(jpeg) ? Result::Made : Result::Failed;
}

void CHThumbMaker::Work() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceness);
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] {
            return m_stopping || (!m_queue.empty() && Startable(*m_queue.front()));
        });
        if (m_queue.empty()) {
            return; // stopping, nothing left
        }
        Job* job = m_queue.front();
        m_queue.pop_front();
        ++m_running;
        m_reserved += job->memory;
        m_peak = std::max(m_peak, m_reserved);
        lock.unlock();
        try {
            job->made = job->bitmap.DecodeThumbnail(job->photo.data(), job->photo.size(),
                                                    job->width, job->height);
        } catch (...) {
            job->made = false;
        }
        lock.lock();
        --m_running;
        m_reserved -= job->memory;
        job->done.set_value();
        m_wake.notify_all();
    }
}
