#include "media/CHPngDecoder.h"

#include "media/CHPixels.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

// State of one decoding, kept outside the frame that calls setjmp.
struct PngJob {
    std::string_view bytes;
    size_t pos = 0;
    DecodedImage* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

void ReadFn(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->bytes.size() - job->pos) {
        png_error(png, "truncated");
    }
    std::memcpy(data, job->bytes.data() + job->pos, length);
    job->pos += length;
}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

constexpr png_alloc_size_t kMaxChunkBytes = 8 * 1024 * 1024;
// Five bytes each: the name and its terminating zero.
constexpr png_byte kSkippedChunks[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0tIME";
constexpr png_uint_32 kMaxAncillaryChunks = 1000;

bool DecodeCore(PngJob* job) {
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, ErrorFn, WarningFn);
    if (job->png == nullptr) {
        return false;
    }
    job->info = png_create_info_struct(job->png);
    if (job->info == nullptr) {
        png_destroy_read_struct(&job->png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        job->out->bitmap.Release();
        return false;
    }
    png_set_read_fn(job->png, job, ReadFn);
    // libpng allocates a text or profile chunk's whole declared length before reading it (its
    // "too large" check only warns), so one small file could ask for gigabytes. Only the pixels
    // are wanted here: those chunks are skipped unread, and the rest are capped.
    png_set_keep_unknown_chunks(job->png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                                static_cast<int>(sizeof(kSkippedChunks) / 5));
    png_set_chunk_malloc_max(job->png, kMaxChunkBytes);
    png_set_chunk_cache_max(job->png, kMaxAncillaryChunks);
    png_read_info(job->png, job->info);
    png_uint_32 width = png_get_image_width(job->png, job->info);
    png_uint_32 height = png_get_image_height(job->png, job->info);
    if (!CHImageDecoder::SizeAllowed(width, height)) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return false;
    }
    int colorType = png_get_color_type(job->png, job->info);
    bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 ||
                 png_get_valid(job->png, job->info, PNG_INFO_tRNS) != 0;
    png_set_expand(job->png);
    png_set_scale_16(job->png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(job->png);
    }
    png_set_bgr(job->png);
    if (!alpha) {
        png_set_filler(job->png, 0xFF, PNG_FILLER_AFTER);
    }
    int passes = png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);
    if (png_get_rowbytes(job->png, job->info) != static_cast<size_t>(width) * 4 ||
        !job->out->bitmap.Create(static_cast<int>(width), static_cast<int>(height),
                                 alpha ? 32 : 24)) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        job->out->bitmap.Release();
        return false;
    }
    // Rows are read into place pass by pass; the trailing chunks are of no interest.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(job->png,
                         reinterpret_cast<png_bytep>(job->out->bitmap.Row(static_cast<int>(y))),
                         nullptr);
        }
    }
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    job->out->fullWidth = static_cast<int>(width);
    job->out->fullHeight = static_cast<int>(height);
    return true;
}

} // namespace

bool CHPngDecoder::Decode(std::string_view bytes, DecodedImage& out) {
    PngJob job;
    job.bytes = bytes;
    job.out = &out;
    if (!DecodeCore(&job)) {
        return false;
    }
    if (out.bitmap.BitsPerPixel() == 32) {
        CHPixels::Premultiply(out.bitmap);
    }
    return true;
}
